// One registry file in memory: a tree of keys with typed values, kept in step with
// the file on disk. Every call takes the process lock, re-reads the file when another
// process replaced it, and writes changes through file::SafeFile (aside, fsync,
// rename) under the file lock (flock on a side file "<path>.lock"). Another process
// may hold that lock for as long as it likes: a change waits a short bounded time
// for it, a read does not wait at all.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace reg::detail {

// ASCII case-insensitive ordering: key and value names compare this way.
struct CiLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// Limits the writer and the reader share: a path deeper than kMaxDepth keys is
// refused, and so is a store whose text would pass kMaxFile bytes.
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxFile = 64u << 20;

// How long a change waits for another process's file lock. Once a wait has run
// out, later changes wait only kBriefLockWait until the lock is had again, so a
// lock held for long costs one wait, not one per setting.
constexpr std::chrono::milliseconds kLockWait{2000};
constexpr std::chrono::milliseconds kBriefLockWait{100};

struct Value {
    uint32_t type = 0;
    std::string data;  // REG_SZ / REG_EXPAND_SZ held without their terminating NUL
};

struct Key {
    std::map<std::string, Value, CiLess> values;  // "" is the unnamed default value
    std::map<std::string, std::unique_ptr<Key>, CiLess> subkeys;

    std::unique_ptr<Key> Clone() const;
    Key* Find(const std::vector<std::string>& path, size_t depth);
    const Key* Find(const std::vector<std::string>& path, size_t depth) const;
};

// Text form of a store. Parse answers false for anything it does not fully
// understand, so that damage is noticed rather than half-read.
std::string Serialize(const Key& root);
bool Parse(const std::string& text, Key* root);

// Splits "A\B\C" into segments; empty segments (doubled or edge separators) are
// dropped. False when a segment is too long.
bool SplitPath(const char* path, std::vector<std::string>* out);

class Store {
public:
    explicit Store(std::string path) : path_(std::move(path)) {}

    // fn sees the current content. Returns fn's result, or the error that kept
    // the content from being read (ERROR_BADDB after a damaged file was set aside).
    // With the file lock busy the file is read as it stands: it is only ever
    // replaced whole.
    int32_t Read(const std::function<int32_t(const Key& root)>& fn);
    // fn changes a copy of the content and sets *changed; the copy is written
    // to disk and becomes current only when fn succeeds and the write succeeds.
    // ERROR_LOCK_VIOLATION, with nothing written, when another process keeps the
    // file lock through the wait.
    int32_t Modify(const std::function<int32_t(Key& root, bool* changed)>& fn);

private:
    struct FileStamp {
        bool present = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // fd holding an exclusive flock, or -1 with *error set.
    int LockFile(bool create, std::chrono::milliseconds wait, int32_t* error);
    int32_t Refresh(bool haveLock);
    int32_t Write(const Key& root);
    static FileStamp Stamp(const std::string& path);

    std::string path_;
    std::mutex mutex_;
    Key root_;
    FileStamp stamp_;
    bool loaded_ = false;
    bool lockTimedOut_ = false;  // the last change found the lock busy throughout
};

// The one Store object of a file path in this process.
Store& StoreFor(const std::string& path);

}  // namespace reg::detail
