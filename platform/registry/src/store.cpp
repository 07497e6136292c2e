// The file is UTF-8 text, one record per line, fields separated by tabs:
//   TESSARY-REGISTRY 1
//   K <key path>                    a key; the V lines after it are its values
//   V <name> <type> <data>          text types as text, other types as hex bytes
//   END <number of K and V lines>   a file without it was cut short
// Bytes below 0x20, '%' and DEL are written %XX, so a field never holds a tab
// or a line break.
#include "store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <thread>

#include "file/Error.h"
#include "file/SafeFile.h"
#include "registry/registry.h"

namespace reg::detail {

namespace {

constexpr const char* kHeader = "TESSARY-REGISTRY 1";
constexpr size_t kMaxSegment = 255;   // key name length limit, as the classic registry

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

void Escape(const std::string& in, std::string* out) {
    static const char hex[] = "0123456789ABCDEF";
    for (unsigned char c : in) {
        if (c < 0x20 || c == '%' || c == 0x7F) {
            out->push_back('%');
            out->push_back(hex[c >> 4]);
            out->push_back(hex[c & 15]);
        } else {
            out->push_back(char(c));
        }
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(std::string_view in, std::string* out) {
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size()) return false;
            int h = HexDigit(in[i + 1]), l = HexDigit(in[i + 2]);
            if (h < 0 || l < 0) return false;
            out->push_back(char(h * 16 + l));
            i += 2;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        } else {
            out->push_back(c);
        }
    }
    return true;
}

bool IsText(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

void SerializeKey(const Key& key, const std::string& path, std::string* out, size_t* records) {
    if (!path.empty() || !key.values.empty()) {
        out->append("K\t");
        Escape(path, out);
        out->push_back('\n');
        ++*records;
    }
    for (const auto& [name, value] : key.values) {
        out->append("V\t");
        Escape(name, out);
        out->push_back('\t');
        out->append(std::to_string(value.type));
        out->push_back('\t');
        if (IsText(value.type)) {
            Escape(value.data, out);
        } else {
            static const char hex[] = "0123456789abcdef";
            const size_t at = out->size();
            out->resize(at + 2 * value.data.size());
            char* p = out->data() + at;
            for (unsigned char c : value.data) {
                *p++ = hex[c >> 4];
                *p++ = hex[c & 15];
            }
        }
        out->push_back('\n');
        ++*records;
    }
    for (const auto& [name, sub] : key.subkeys)
        SerializeKey(*sub, path.empty() ? name : path + "\\" + name, out, records);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            parts.push_back(line.substr(start));
            return parts;
        }
        parts.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

int64_t Ns(const struct timespec& ts) { return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec; }

enum class ReadResult { Ok, Failed, TooLarge };

ReadResult ReadAll(int fd, std::string* out) {
    out->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadResult::Failed;
        }
        if (n == 0) return ReadResult::Ok;
        out->append(buf, size_t(n));
        if (out->size() > kMaxFile) return ReadResult::TooLarge;
    }
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool MakeDirs(const std::string& dir) {
    if (dir.empty() || dir == "/" || dir == ".") return true;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!MakeDirs(DirOf(dir))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

bool CiLess::operator()(const std::string& a, const std::string& b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char x = Lower(a[i]), y = Lower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

std::unique_ptr<Key> Key::Clone() const {
    auto copy = std::make_unique<Key>();
    copy->values = values;
    for (const auto& [name, sub] : subkeys) copy->subkeys.emplace(name, sub->Clone());
    return copy;
}

Key* Key::Find(const std::vector<std::string>& path, size_t depth) {
    Key* k = this;
    for (size_t i = 0; i < depth && i < path.size(); ++i) {
        auto it = k->subkeys.find(path[i]);
        if (it == k->subkeys.end()) return nullptr;
        k = it->second.get();
    }
    return k;
}

const Key* Key::Find(const std::vector<std::string>& path, size_t depth) const {
    return const_cast<Key*>(this)->Find(path, depth);
}

bool SplitPath(const char* path, std::vector<std::string>* out) {
    out->clear();
    if (!path) return true;
    std::string seg;
    for (const char* p = path;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!seg.empty()) {
                if (seg.size() > kMaxSegment) return false;
                out->push_back(std::move(seg));
                seg.clear();
            }
            if (*p == 0) return true;
        } else {
            seg.push_back(*p);
        }
    }
}

std::string Serialize(const Key& root) {
    std::string out = kHeader;
    out.push_back('\n');
    size_t records = 0;
    SerializeKey(root, "", &out, &records);
    out.append("END\t").append(std::to_string(records)).push_back('\n');
    return out;
}

bool Parse(const std::string& text, Key* root) {
    Key result;
    std::string_view rest(text);
    auto nextLine = [&](std::string_view* line) {
        size_t nl = rest.find('\n');
        if (nl == std::string_view::npos) return false;  // every line ends with '\n'
        *line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        return true;
    };
    std::string_view line;
    if (!nextLine(&line) || line != kHeader) return false;
    Key* current = &result;
    size_t records = 0;
    std::string name, data;
    std::vector<std::string> path;
    for (;;) {
        if (!nextLine(&line)) return false;  // no END: truncated
        auto parts = SplitTabs(line);
        if (parts[0] == "END") {
            if (parts.size() != 2 || !rest.empty()) return false;
            size_t count = 0;
            auto [p, ec] = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), count);
            if (ec != std::errc() || p != parts[1].data() + parts[1].size() || count != records) return false;
            break;
        }
        ++records;
        if (parts[0] == "K" && parts.size() == 2) {
            if (!Unescape(parts[1], &name)) return false;
            if (!SplitPath(name.c_str(), &path)) return false;
            // The serialized form never has empty segments; anything else is not ours.
            size_t segChars = 0;
            for (auto& s : path) segChars += s.size() + 1;
            if (!name.empty() && segChars != name.size() + 1) return false;
            if (path.size() > kMaxDepth) return false;
            current = &result;
            for (auto& seg : path) {
                auto& slot = current->subkeys[seg];
                if (!slot) slot = std::make_unique<Key>();
                current = slot.get();
            }
        } else if (parts[0] == "V" && parts.size() == 4) {
            if (!Unescape(parts[1], &name)) return false;
            uint32_t type = 0;
            auto [p, ec] = std::from_chars(parts[2].data(), parts[2].data() + parts[2].size(), type);
            if (ec != std::errc() || p != parts[2].data() + parts[2].size() || parts[2].empty()) return false;
            if (IsText(type)) {
                if (!Unescape(parts[3], &data)) return false;
            } else {
                if (parts[3].size() % 2) return false;
                data.clear();
                for (size_t i = 0; i < parts[3].size(); i += 2) {
                    int h = HexDigit(parts[3][i]), l = HexDigit(parts[3][i + 1]);
                    if (h < 0 || l < 0) return false;
                    data.push_back(char(h * 16 + l));
                }
            }
            current->values[name] = Value{type, data};
        } else {
            return false;
        }
    }
    *root = std::move(result);
    return true;
}

Store::FileStamp Store::Stamp(const std::string& path) {
    FileStamp s;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return s;
    s.present = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = Ns(st.st_mtim);
    s.ctimeNs = Ns(st.st_ctim);
    return s;
}

int Store::LockFile(bool create, std::chrono::milliseconds wait, int32_t* error) {
    std::string lockPath = path_ + ".lock";
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT && create) {
        if (!MakeDirs(DirOf(path_))) {
            *error = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
            return -1;
        }
        fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        *error = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
        return -1;
    }
    // A blocking flock could wait for ever on a holder that never lets go. The
    // deadline is fixed when the wait starts: a holder that keeps the lock and
    // keeps replacing the file is still a holder that keeps the lock.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    std::chrono::milliseconds pause{1};
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        const int failure = errno;
        if (failure == EINTR) continue;
        const Clock::time_point now = Clock::now();
        if (failure != EWOULDBLOCK || now >= deadline) {
            ::close(fd);
            *error = failure == EWOULDBLOCK ? ERROR_LOCK_VIOLATION : ERROR_CANTWRITE;
            return -1;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(10));
    }
}

// Brings root_ in step with the file. A file that does not parse is renamed aside
// (only while holding the file lock, so that no writer is mid-way) and the content
// starts empty; the call that noticed it answers ERROR_BADDB.
int32_t Store::Refresh(bool haveLock) {
    FileStamp now = Stamp(path_);
    if (loaded_ && now == stamp_) return ERROR_SUCCESS;
    if (!now.present) {
        root_ = Key();
        stamp_ = now;
        loaded_ = true;
        return ERROR_SUCCESS;
    }
    // O_NONBLOCK: a FIFO at the path must not hang the caller.
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        loaded_ = false;
        if (errno == ENOENT) {
            root_ = Key();
            return ERROR_SUCCESS;
        }
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_BADDB;
    }
    struct stat st;
    std::string text;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // Not a file of ours to judge (a folder, a device): refuse, touch nothing.
        ::close(fd);
        loaded_ = false;
        return ERROR_BADDB;
    }
    ReadResult read = ReadAll(fd, &text);
    ::close(fd);
    if (read == ReadResult::Failed) {
        loaded_ = false;
        return ERROR_BADDB;
    }
    Key parsed;
    // An empty file is an empty store (a file made by touch or mkstemp), not damage.
    if (read == ReadResult::Ok && (text.empty() || Parse(text, &parsed))) {
        root_ = std::move(parsed);
        stamp_ = now;
        loaded_ = true;
        return ERROR_SUCCESS;
    }
    root_ = Key();
    loaded_ = false;
    if (!haveLock) return ERROR_BADDB;
    char stampText[32];
    time_t t = time(nullptr);
    struct tm tmv;
    gmtime_r(&t, &tmv);
    strftime(stampText, sizeof stampText, "%Y%m%d%H%M%S", &tmv);
    std::string aside = path_ + ".damaged-" + stampText;
    for (int i = 1; ::access(aside.c_str(), F_OK) == 0 && i < 1000; ++i)
        aside = path_ + ".damaged-" + stampText + "-" + std::to_string(i);
    if (::rename(path_.c_str(), aside.c_str()) == 0) {
        stamp_ = FileStamp();
        loaded_ = true;
    }
    return ERROR_BADDB;
}

int32_t Store::Write(const Key& root) {
    std::string text = Serialize(root);
    // The reader would call a larger file damaged and set it aside.
    if (text.size() > kMaxFile) return ERROR_CANTWRITE;
    // One writer at a time holds the file lock; settings are the user's alone.
    try {
        file::SafeFile made(path_, nullptr, 0600);
        made.Write(text.data(), text.size());
        made.Commit();
    } catch (const file::Error&) {
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

int32_t Store::Read(const std::function<int32_t(const Key& root)>& fn) {
    std::lock_guard<std::mutex> guard(mutex_);
    // The lock only guards setting a damaged file aside, which can wait for a later call.
    int32_t lockError = ERROR_SUCCESS;
    int fd = LockFile(false, std::chrono::milliseconds(0), &lockError);
    int32_t rc = Refresh(fd >= 0);
    if (fd >= 0) ::close(fd);
    if (rc != ERROR_SUCCESS) return rc;
    return fn(root_);
}

int32_t Store::Modify(const std::function<int32_t(Key& root, bool* changed)>& fn) {
    std::lock_guard<std::mutex> guard(mutex_);
    int32_t rc = ERROR_SUCCESS;
    int fd = LockFile(true, lockTimedOut_ ? kBriefLockWait : kLockWait, &rc);
    lockTimedOut_ = rc == ERROR_LOCK_VIOLATION;
    if (fd < 0) return rc;
    rc = Refresh(true);
    if (rc == ERROR_SUCCESS) {
        std::unique_ptr<Key> copy = root_.Clone();
        bool changed = false;
        rc = fn(*copy, &changed);
        if (rc == ERROR_SUCCESS && changed) {
            rc = Write(*copy);
            if (rc == ERROR_SUCCESS) {
                root_ = std::move(*copy);
                stamp_ = Stamp(path_);
                loaded_ = true;
            }
        }
    }
    ::close(fd);
    return rc;
}

Store& StoreFor(const std::string& path) {
    static std::mutex mutex;
    // Never destroyed: handles may be used from static destructors elsewhere.
    static auto* stores = new std::map<std::string, std::unique_ptr<Store>>();
    std::lock_guard<std::mutex> guard(mutex);
    auto& slot = (*stores)[path];
    if (!slot) slot = std::make_unique<Store>(path);
    return *slot;
}

}  // namespace reg::detail
