// A small file system of its own for a test that needs a full disk: a tmpfs
// mounted in a mount namespace private to the test process, so that nothing
// outlives the test. Needs root; Ready() is false otherwise and Why() says why.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

class SmallDisk {
public:
    explicit SmallDisk(size_t bytes) {
        static int counter = 0;
        mPath = std::filesystem::temp_directory_path() /
                ("tessary-disk-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::error_code ec;
        std::filesystem::create_directories(mPath, ec);
        if (ec) {
            mWhy = "cannot make " + mPath.string();
            return;
        }
        if (::geteuid() != 0) {
            mWhy = "a full disk is made with a tmpfs mount, which needs root";
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            mWhy = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", mPath.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            mWhy = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mMounted = true;
    }
    ~SmallDisk() {
        if (mMounted) ::umount2(mPath.c_str(), MNT_DETACH);
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Ready() const { return mMounted; }
    const std::string& Why() const { return mWhy; }
    std::string File(const std::string& name) const { return (mPath / name).string(); }
    const std::filesystem::path& Path() const { return mPath; }

    // Fills the disk with a file of its own until `free` bytes are left.
    void LeaveFree(size_t free) {
        const std::string filler = File(".filler");
        std::filesystem::remove(filler);
        const auto space = std::filesystem::space(mPath);
        if (space.available <= free) return;
        std::ofstream out(filler, std::ios::binary);
        const std::vector<char> block(4096, 'f');
        for (size_t left = space.available - free; left > 0;) {
            const size_t n = std::min(left, block.size());
            out.write(block.data(), std::streamsize(n));
            left -= n;
        }
    }
    void Unfill() { std::filesystem::remove(File(".filler")); }

private:
    std::filesystem::path mPath;
    std::string mWhy;
    bool mMounted = false;
};

}  // namespace testsupport
