#include "AccessMirror.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

// Before the reader's header: its TRUE and FALSE macros would break ours.
#include "file/Error.h"
#include "file/SafeFile.h"
#include "internal.h"
#include "jetsql.h"

extern "C" {
#include <mdbtools.h>
}

namespace dao::detail {

namespace {

// Raised in the version check of a mirror: bump when the mirror's layout or
// its value conversions change, so that old mirrors are rebuilt.
constexpr int kMirrorFormat = 1;

// Memo and text values up to this many bytes are read whole; the reader cuts
// longer ones. 256 KiB per column keeps a 255-column table under 64 MiB.
constexpr size_t kBindSize = 256 * 1024;

// Exit codes of the child that builds a mirror.
constexpr int kChildOk = 0;
constexpr int kChildBadFormat = 10;
constexpr int kChildCannotWrite = 11;
constexpr int kChildDiskFull = 12;

constexpr long kDiskFull = file::kDiskFull;

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

struct SourceStamp {
    int64_t size = -1;
    int64_t mtimeNs = 0;
};

bool StampOf(const std::string& path, SourceStamp* s) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    s->size = st.st_size;
    s->mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool MakeDirs(const std::string& dir) {
    if (dir.empty()) return false;
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        cur = dir.substr(0, pos);
        if (cur.empty()) continue;
        if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// True when the mirror at path was made from source as it is now.
bool MirrorCurrent(const std::string& path, const std::string& source, const SourceStamp& stamp) {
    sqlite3* db = nullptr;
    bool ok = false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        DistrustSchema(db);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT Source, Size, MTime, Format FROM MSysMirror", -1, &st, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            auto src = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            ok = src && source == src && sqlite3_column_int64(st, 1) == stamp.size &&
                 sqlite3_column_int64(st, 2) == stamp.mtimeNs && sqlite3_column_int(st, 3) == kMirrorFormat;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db);
    return ok;
}

// Temporaries that builders of older versions left when they were killed; the
// next build of the same mirror removes those whose process is gone.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    std::string prefix = base + ".tmp.";
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.rfind(prefix, 0) != 0) continue;
        long pid = std::strtol(n.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(pid_t(pid), 0) == 0) continue;
        ::unlink((folder + "/" + n).c_str());
    }
    ::closedir(d);
}

int64_t ReadLe(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    if (bytes < 8 && (v >> (bytes * 8 - 1)) & 1) v |= ~uint64_t(0) << (bytes * 8);
    return int64_t(v);
}

std::string DeclOf(const MdbHandle* mdb, const MdbColumn* col) {
    switch (col->col_type) {
    case MDB_BOOL: return "BIT";
    case MDB_BYTE: return "BYTE";
    case MDB_INT: return "SHORT";
    case MDB_LONGINT: return col->is_long_auto ? "COUNTER" : "LONG";
    case MDB_MONEY: return "CURRENCY";
    case MDB_FLOAT: return "SINGLE";
    case MDB_DOUBLE: return "DOUBLE";
    case MDB_DATETIME: return "DATETIME";
    case MDB_BINARY: return "BINARY(" + std::to_string(col->col_size > 0 ? col->col_size : 255) + ")";
    case MDB_TEXT: {
        // Jet 4 and later store text sizes in bytes of UCS-2.
        int chars = mdb->f->jet_version == MDB_VER_JET3 ? col->col_size : col->col_size / 2;
        return "TEXT(" + std::to_string(chars > 0 ? chars : 255) + ")";
    }
    case MDB_MEMO: return "LONGTEXT";
    case MDB_REPID: return "GUID";
    case MDB_NUMERIC: return "DECIMAL";
    default: return "LONGBINARY";  // OLE objects, attachments and other kinds
    }
}

double ParseNumber(const char* s) {
    std::string t = s;
    for (auto& c : t)
        if (c == ',') c = '.';
    return std::strtod(t.c_str(), nullptr);
}

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct MdbCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};

bool Exec(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Why a mirror could not be written: its disk is full, or the error given.
long WriteFailure(sqlite3* db, long otherwise = 3051) { return AccessMirror::OutOfRoom(db) ? kDiskFull : otherwise; }

// The mirror's table for t: its columns and, when the source has one, its primary key.
std::string CreateSql(const MdbHandle* mdb, const MdbTableDef* t, const std::vector<MdbColumn*>& cols) {
    std::string create = "CREATE TABLE " + QuoteIdent(t->name) + " (";
    for (unsigned c = 0; c < cols.size(); ++c) {
        if (c) create += ", ";
        create += QuoteIdent(cols[c]->name) + " " + DeclOf(mdb, cols[c]);
    }
    for (unsigned i = 0; t->indices && i < t->num_idxs && i < t->indices->len; ++i) {
        auto* ix = static_cast<MdbIndex*>(g_ptr_array_index(t->indices, i));
        if (ix->index_type != 1 || ix->num_keys == 0 || ix->num_keys > MDB_MAX_IDX_COLS) continue;
        std::string keys;
        bool valid = true;
        for (unsigned k = 0; k < ix->num_keys; ++k) {
            int n = ix->key_col_num[k];
            if (n < 1 || unsigned(n) > cols.size()) valid = false;
            else keys += (k ? ", " : "") + QuoteIdent(cols[unsigned(n) - 1]->name);
        }
        if (valid) create += ", PRIMARY KEY (" + keys + ")";
        break;
    }
    return create + ")";
}

// Binds col's value in the row just fetched as parameter at of ins; text is
// what the reader bound for it, textLen its length when known.
void BindValue(MdbHandle* mdb, MdbColumn* col, sqlite3_stmt* ins, int at, const char* text, int textLen) {
    const size_t page = sizeof mdb->pg_buf;
    int start = col->cur_value_start, len = col->cur_value_len;
    bool rawOk = start >= 0 && len >= 0 && size_t(start) + size_t(len) <= page;
    const unsigned char* raw = mdb->pg_buf + (rawOk ? start : 0);
    if (col->col_type == MDB_BOOL) {
        // Yes/No lives in the row's null mask; the reader gives it as text.
        sqlite3_bind_int(ins, at, std::strcmp(text, "0") != 0 && *text ? -1 : 0);
        return;
    }
    if (len <= 0 || !rawOk) {
        sqlite3_bind_null(ins, at);
        return;
    }
    switch (col->col_type) {
    case MDB_BYTE: sqlite3_bind_int(ins, at, raw[0]); break;
    case MDB_INT: sqlite3_bind_int(ins, at, int(ReadLe(raw, 2))); break;
    case MDB_LONGINT: sqlite3_bind_int64(ins, at, ReadLe(raw, 4)); break;
    case MDB_MONEY: sqlite3_bind_double(ins, at, double(ReadLe(raw, 8)) / 10000.0); break;
    case MDB_FLOAT: {
        float f;
        std::memcpy(&f, raw, 4);
        double d = std::isfinite(f) ? std::strtod(FormatDouble(f, 7).c_str(), nullptr) : double(f);
        sqlite3_bind_double(ins, at, d);
        break;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
        double d;
        std::memcpy(&d, raw, 8);
        sqlite3_bind_double(ins, at, d);
        break;
    }
    case MDB_NUMERIC: sqlite3_bind_double(ins, at, ParseNumber(text)); break;
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID:
        sqlite3_bind_text(ins, at, text, textLen > 0 ? textLen : int(std::strlen(text)), SQLITE_TRANSIENT);
        break;
    case MDB_BINARY: sqlite3_bind_blob(ins, at, raw, len, SQLITE_TRANSIENT); break;
    case MDB_OLE: {
        size_t size = 0;
        void* data = mdb_ole_read_full(mdb, col, &size);
        if (data) sqlite3_bind_blob(ins, at, data, int(size), SQLITE_TRANSIENT);
        else sqlite3_bind_null(ins, at);
        std::free(data);
        break;
    }
    default: sqlite3_bind_null(ins, at); break;
    }
}

// Copies one table: 0, or the error to raise. What the reader gave that the
// mirror cannot take (say, two columns of one name) is the source's fault.
long CopyTable(MdbHandle* mdb, MdbCatalogEntry* entry, sqlite3* db) {
    MdbTableDef* t = mdb_read_table(entry);
    if (!t) return 3343;
    struct TableFree {
        MdbTableDef* t;
        ~TableFree() { mdb_free_tabledef(t); }
    } tf{t};
    if (!mdb_read_columns(t)) return 3343;
    mdb_read_indices(t);
    unsigned ncols = t->num_cols;
    if (ncols == 0 || !t->columns || t->columns->len < ncols) return 3343;
    std::vector<MdbColumn*> cols(ncols);
    for (unsigned c = 0; c < ncols; ++c) cols[c] = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, c));
    if (!Exec(db, CreateSql(mdb, t, cols))) return WriteFailure(db, 3343);

    std::string insert = "INSERT INTO " + QuoteIdent(t->name) + " VALUES (";
    for (unsigned c = 0; c < ncols; ++c) insert += c ? ", ?" : "?";
    insert += ")";
    sqlite3_stmt* ins = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &ins, nullptr) != SQLITE_OK) return WriteFailure(db, 3343);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> insFree(ins, sqlite3_finalize);

    std::vector<std::vector<char>> bufs(ncols, std::vector<char>(kBindSize + 1));
    std::vector<int> lens(ncols);
    for (unsigned c = 0; c < ncols; ++c) mdb_bind_column(t, int(c) + 1, bufs[c].data(), &lens[c]);
    mdb_rewind_table(t);
    // A damaged page chain can lead the reader round in a circle; a table
    // never holds far more rows than its definition counts.
    const uint64_t rowLimit = uint64_t(t->num_rows) * 2 + 1000;
    uint64_t rows = 0;
    while (mdb_fetch_row(t)) {
        if (++rows > rowLimit) return 3343;
        for (unsigned c = 0; c < ncols; ++c) BindValue(mdb, cols[c], ins, int(c) + 1, bufs[c].data(), lens[c]);
        int rc = sqlite3_step(ins);
        sqlite3_reset(ins);
        sqlite3_clear_bindings(ins);
        if (rc != SQLITE_DONE) return WriteFailure(db, 3343);
    }
    return 0;
}

// In the child right after fork: it ends when the parent does (the time limit
// lives there), and keeps none of the parent's descriptors. Locks taken through
// flock and open-file-description locks belong to the open file, so a copy of
// a descriptor kept here would keep the parent's locks alive after it. False
// when the parent is gone already.
bool LeaveParent(pid_t parent) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) return false;
    // Standard input and output lead nowhere; the reader reports damage on
    // standard error, and the error raised in the parent says it.
    const int devnull = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2 && devnull >= 0; ++fd)
        if (fd != devnull) ::dup2(devnull, fd);
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0) {
        struct rlimit most {};
        const rlim_t last =
            ::getrlimit(RLIMIT_NOFILE, &most) == 0 && most.rlim_cur != RLIM_INFINITY ? most.rlim_cur : 65536;
        for (rlim_t fd = 3; fd < last; ++fd) ::close(int(fd));
    }
    return true;
}

}  // namespace

bool AccessMirror::IsAccessFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    char buf[20] = {};
    ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd, buf, sizeof buf) : 0;
    ::close(fd);
    return n == 20 && buf[0] == 0 && buf[1] == 1 && buf[2] == 0 && buf[3] == 0 &&
           (std::memcmp(buf + 4, "Standard Jet DB", 15) == 0 || std::memcmp(buf + 4, "Standard ACE DB", 15) == 0);
}

std::string AccessMirror::Folder() {
    if (const char* c = std::getenv("TESSARY_CACHE"); c && *c) return c;
    if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x) return std::string(x) + "/tessary";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.cache/tessary";
    return "/tmp/tessary-cache-" + std::to_string(::getuid());
}

std::string AccessMirror::ReadyFolder(const std::string& source) {
    std::string folder = Folder();
    if (!MakeDirs(folder)) RaiseCacheFailure(source, file::IsDiskFull(errno));
    return folder;
}

std::string AccessMirror::CacheAdvice(bool diskFull) {
    if (diskFull)
        return "Free some space on the disk of the cache folder '" + Folder() +
               "', or set TESSARY_CACHE to a folder on another disk.";
    return "(No copy of it could be written in the cache folder '" + Folder() + "'.)";
}

std::string AccessMirror::CacheFailureArg(const std::string& source, bool diskFull) {
    return diskFull ? "the copy of '" + source + "' in the cache folder" : source;
}

void AccessMirror::RaiseCacheFailure(const std::string& source, bool diskFull) {
    RaiseWithDetail(diskFull ? kDiskFull : 3051, CacheFailureArg(source, diskFull), CacheAdvice(diskFull));
}

bool AccessMirror::OutOfRoom(sqlite3* db) {
    return db && DiskFull(db, sqlite3_errcode(db));
}

long AccessMirror::Build(const std::string& source, const std::string& target) {
    std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open(source.c_str(), MDB_NOFLAGS));
    if (!mdb || !mdb->f) return 3343;
    mdb_set_bind_size(mdb.get(), kBindSize);
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) return 3343;
    SourceStamp stamp;
    if (!StampOf(source, &stamp)) return 3343;

    ::unlink(target.c_str());
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(target.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const long failure = WriteFailure(raw);
        sqlite3_close_v2(raw);
        return failure;
    }
    std::unique_ptr<sqlite3, SqliteCloser> db(raw);
    DistrustSchema(db.get());
    // A mirror is rebuilt from its source at will: no journal while it is made.
    if (!Exec(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN") ||
        !Exec(db.get(), "CREATE TABLE MSysMirror (Source TEXT, Size INTEGER, MTime INTEGER, Format INTEGER)"))
        return WriteFailure(db.get());
    for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
        auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (e->object_type != MDB_TABLE || mdb_is_system_table(e)) continue;
        if (long failure = CopyTable(mdb.get(), e, db.get())) return failure;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db.get(), "INSERT INTO MSysMirror VALUES (?1, ?2, ?3, ?4)", -1, &st, nullptr) != SQLITE_OK)
        return WriteFailure(db.get());
    sqlite3_bind_text(st, 1, source.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, stamp.size);
    sqlite3_bind_int64(st, 3, stamp.mtimeNs);
    sqlite3_bind_int(st, 4, kMirrorFormat);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE || !Exec(db.get(), "COMMIT")) return WriteFailure(db.get());
    return 0;
}

std::string AccessMirror::Path(const std::string& source) {
    char* real = ::realpath(source.c_str(), nullptr);
    if (!real) Raise(3024, source);
    std::string full = real;
    std::free(real);
    SourceStamp stamp;
    if (!StampOf(full, &stamp)) Raise(3343, source);

    // Access files are whole pages (2 KB in Jet 3, 4 KB later): anything else
    // was cut short, and the reader can wander off the end of a cut file.
    if (stamp.size < 4096 || stamp.size % 2048 != 0) Raise(3343, source);

    // Messages name the Access file the person chose, and the folder where the copy goes.
    const std::string folder = ReadyFolder(source);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.db", static_cast<unsigned long long>(Fnv1a(full)));
    std::string mirror = folder + "/" + name;
    if (MirrorCurrent(mirror, full, stamp)) return mirror;

    RemoveStaleTemporaries(folder, name);
    // Built aside by the child, and given the name once whole and on the disk.
    std::unique_ptr<file::SafeFile> made;
    try {
        made = std::make_unique<file::SafeFile>(mirror);
    } catch (const file::Error& e) {
        RaiseCacheFailure(source, e.Number() == kDiskFull);
    }
    const std::string temp = made->TempPath();
    // The reader gets through about 60 MB a second here (a 3 MB file in
    // 50 ms). Going round a damaged page chain is caught by the row count;
    // this limit, generous for a busy machine, catches any other endless loop.
    // A build with the sanitizers reads several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kSlowerBuild = 4;
#else
    constexpr int kSlowerBuild = 1;
#endif
    const auto limit = (std::chrono::seconds(30) + std::chrono::seconds(stamp.size >> 20)) * kSlowerBuild;
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) RaiseCacheFailure(source, false);
    if (pid == 0) {
        if (!LeaveParent(parent)) ::_exit(kChildCannotWrite);
        long rc = 3343;
        try {
            rc = Build(full, temp);
        } catch (...) {
        }
        ::_exit(rc == 0 ? kChildOk : rc == 3343 ? kChildBadFormat : rc == kDiskFull ? kChildDiskFull : kChildCannotWrite);
    }
    int status = 0;
    auto until = std::chrono::steady_clock::now() + limit;
    auto pause = std::chrono::microseconds(200);
    while (true) {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) {
            status = -1;
            break;
        }
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(20)) pause *= 2;
    }
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == kChildOk) {
        try {
            made->Commit();
            return mirror;
        } catch (const file::Error& e) {
            RaiseCacheFailure(source, e.Number() == kDiskFull);
        }
    }
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == kChildDiskFull) RaiseCacheFailure(source, true);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == kChildCannotWrite)
        RaiseCacheFailure(source, false);
    Raise(3343, source);
}

}  // namespace dao::detail
