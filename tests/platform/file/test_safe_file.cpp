// Writing a named file aside: what the name is (nothing yet, a file, a link,
// a folder, a pipe, a file the person may not write, a name too long to be the
// private folder's), system calls that fail, and the files another program
// keeps beside the one replaced. A full disk and a check that refuses at the
// end are met through the writers' own tests.
#include "file/Error.h"
#include "file/SafeFile.h"

#include "InChild.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// System calls that fail on demand: the writer must stop, not go on without them.
namespace {
std::atomic<bool> gFailFlock{false}, gFailChmod{false};
}  // namespace

extern "C" int flock(int fd, int operation) {
    if (gFailFlock) {
        errno = ENOLCK;
        return -1;
    }
    return int(::syscall(SYS_flock, fd, operation));
}

extern "C" int fchmodat(int dir, const char* path, mode_t mode, int flags) {
    if (gFailChmod || flags != 0) {
        errno = gFailChmod ? EPERM : EINVAL;
        return -1;
    }
    return int(::syscall(SYS_fchmodat, dir, path, mode));
}

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Names starting with a dot: what a writer could leave behind.
std::vector<std::string> Hidden(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name[0] == '.' && name != ".filler") out.push_back(name);
    }
    return out;
}

// The error a call raised: its number and text, 0 and "" for none.
std::pair<long, std::string> ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const file::Error& e) {
        return {e.Number(), e.what()};
    }
    return {0, ""};
}

void Write(const std::string& target, const std::string& text, const file::SafeFile::Check& check = nullptr) {
    file::SafeFile made(target, check);
    made.Write(text.data(), text.size());
    made.Commit();
}

}  // namespace

// The name is what is written: a link of that name is replaced and what it
// points to left as it was; a folder of that name is refused as a folder.
TEST(SafeFile, TheNameIsWrittenALinkReplacedAFolderRefused) {
    testsupport::TempDir dir;
    const std::string victim = dir.File("victim.txt"), folder = dir.File("folder");
    WriteAll(victim, "keep");
    fs::create_directory(folder);
    WriteAll(folder + "/inside", "keep");
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        bool refused;
    };
    const Case cases[] = {
        {"nothing yet", [](const std::string&) {}, false},
        {"a file", [](const std::string& t) { WriteAll(t, "old"); }, false},
        {"a link to another file", [&](const std::string& t) { fs::create_symlink(victim, t); }, false},
        {"a link to nothing", [&](const std::string& t) { fs::create_symlink(dir.File("none"), t); }, false},
        {"a link to a folder", [&](const std::string& t) { fs::create_symlink(folder, t); }, false},
        {"a folder", [](const std::string& t) { fs::create_directory(t); }, true},
        {"a named pipe", [](const std::string& t) { ::mkfifo(t.c_str(), 0600); }, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string target = dir.File("out" + std::to_string(++n) + ".txt");
        c.make(target);
        const auto [number, text] = ErrorOf([&] { Write(target, "new"); });
        if (c.refused) {
            EXPECT_EQ(number, file::kAccessError);
            EXPECT_EQ(text, "Path/File access error: '" + target + "' is " + c.what + ", not a file.");
            EXPECT_TRUE(fs::is_directory(target) || fs::is_fifo(target));
        } else {
            EXPECT_EQ(number, 0) << text;
            EXPECT_FALSE(fs::is_symlink(target));
            EXPECT_EQ(ReadAll(target), "new");
        }
        EXPECT_EQ(ReadAll(victim), "keep");
        EXPECT_EQ(ReadAll(folder + "/inside"), "keep");
        EXPECT_FALSE(fs::exists(dir.File("none")));
        EXPECT_TRUE(Hidden(dir.Path()).empty()) << Hidden(dir.Path()).front();
    }
    // A folder or a pipe that takes the name while the file is written is refused as well.
    const std::pair<const char*, std::function<bool(const std::string&)>> late[] = {
        {"a folder", [](const std::string& t) { return fs::create_directory(t); }},
        {"a named pipe", [](const std::string& t) { return ::mkfifo(t.c_str(), 0600) == 0; }},
    };
    for (const auto& [what, make] : late) {
        const std::string target = dir.File("late" + std::to_string(++n) + ".txt");
        const auto [number, text] = ErrorOf([&] { Write(target, "new", make); });
        EXPECT_EQ(number, file::kAccessError);
        EXPECT_EQ(text, "Path/File access error: '" + target + "' is " + what + ", not a file. It was not made.");
    }
    // A folder that is not there.
    EXPECT_EQ(ErrorOf([&] { Write(dir.File("none/x.txt"), "new"); }), std::make_pair(file::kPathNotFound,
                                                                                 std::string("Path not found")));
}

// Without its lock another process would take the private folder for a
// leftover; without the old file's permissions a private file would become
// readable by all. Either failure stops the write.
TEST(SafeFile, ALockOrPermissionsThatCannotBeSetStopTheWrite) {
    testsupport::TempDir dir;
    const std::string target = dir.File("private.txt");
    WriteAll(target, "old");
    ::chmod(target.c_str(), 0600);
    for (std::atomic<bool>* failing : {&gFailFlock, &gFailChmod}) {
        *failing = true;
        const auto [number, text] = ErrorOf([&] { Write(target, "new"); });
        *failing = false;
        EXPECT_NE(number, 0) << (failing == &gFailFlock ? "flock" : "fchmodat");
        EXPECT_EQ(ReadAll(target), "old");
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_TRUE(Hidden(dir.Path()).empty());
    }
    Write(target, "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a file replaced keeps its permissions";
}

// The files another program keeps beside the one replaced go with it once the
// new file has the name, and stay where they were when the rename fails.
TEST(SafeFile, SideFilesOfTheOldFileGoOnlyOnceTheNameIsTaken) {
    testsupport::TempDir dir;
    const std::string from = dir.File("new.db"), to = dir.File("old.db");
    WriteAll(to, "old");
    WriteAll(to + "-journal", "hot");
    EXPECT_NE(ErrorOf([&] { file::SafeFile::Replace(from, to, {"-wal", "-journal"}); }).first, 0);
    EXPECT_EQ(ReadAll(to + "-journal"), "hot");
    EXPECT_EQ(ReadAll(to), "old");
    WriteAll(from, "new");
    EXPECT_EQ(ErrorOf([&] { file::SafeFile::Replace(from, to, {"-wal", "-journal"}); }).first, 0);
    EXPECT_EQ(ReadAll(to), "new");
    EXPECT_FALSE(fs::exists(to + "-journal"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

// A file the person may not write is not replaced, though the folder would let
// it be renamed over: a read-only file of their own, and another user's file in
// their folder. A file they may write is.
TEST(SafeFile, AFileThePersonMayNotWriteIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give a file to another user and to become one";
    testsupport::TempDir dir;
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown(dir.Path().c_str(), kNobody, kNobody), 0);
    struct Case {
        const char* name;
        uid_t owner;
        mode_t mode;
        bool refused;
    };
    const Case cases[] = {{"read-only.txt", kNobody, 0444, true}, {"roots.txt", 0, 0644, true},
                          {"own.txt", kNobody, 0644, false}};
    for (const Case& c : cases) {
        WriteAll(dir.File(c.name), "old");
        ASSERT_EQ(::chown(dir.File(c.name).c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod(dir.File(c.name).c_str(), c.mode), 0);
    }
    // The child says which case went wrong, 1 for the first.
    const int failed = testsupport::InChild([&] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 100;
        int i = 0;
        for (const Case& c : cases) {
            ++i;
            const std::string target = dir.File(c.name);
            const auto [number, text] = ErrorOf([&] { Write(target, "new"); });
            const bool asTold = c.refused ? number == file::kAccessError &&
                                                text == "Path/File access error: '" + target + "': Permission denied."
                                          : number == 0;
            if (!asTold || ReadAll(target) != (c.refused ? "old" : "new") || !Hidden(dir.Path()).empty()) return i;
        }
        return 0;
    });
    ASSERT_NE(failed, 100) << "cannot become an unprivileged user";
    EXPECT_EQ(failed, 0) << cases[failed > 0 ? failed - 1 : 0].name;
    for (const Case& c : cases) {
        struct stat st {};
        ASSERT_EQ(::stat(dir.File(c.name).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.owner) << c.name;
        EXPECT_EQ(st.st_mode & 0777, c.mode) << c.name;
    }
}

// A name too long to be the private folder's is cut short aside, between two
// characters: Qt's writers (the printer, the graph file) take the path aside as
// UTF-8 text, in which half a character is no name at all.
TEST(SafeFile, ANameCutShortAsideKeepsWholeCharacters) {
    testsupport::TempDir dir;
    for (const size_t length : {size_t(248), size_t(255)}) {
        SCOPED_TRACE(length);
        std::string name(length % 2, 'n');
        while (name.size() < length) name += "\xC3\xA9";
        const std::string target = dir.File(name);
        file::SafeFile made(target);
        const std::string aside = fs::path(made.TempPath()).filename().string();
        EXPECT_LT(aside.size(), name.size());
        EXPECT_LT(static_cast<unsigned char>(aside.back()), 0xC0) << "a character was split";
        made.Write("new", 3);
        EXPECT_EQ(ErrorOf([&] { made.Commit(); }).first, 0);
        EXPECT_EQ(ReadAll(target), "new");
        EXPECT_TRUE(Hidden(dir.Path()).empty());
    }
}
