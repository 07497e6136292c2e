// Workspace and DBEngine: the databases open in the one workspace, and a file
// replaced by another under the holders' lock.
#include <sys/stat.h>

#include <algorithm>
#include <mutex>

#include "engine.h"
#include "file/Error.h"
#include "file/SafeFile.h"
#include "files.h"

namespace dao {
using namespace detail;

namespace {

std::shared_ptr<Database> Wrap(std::shared_ptr<Core> core) {
    auto impl = std::make_unique<DatabaseImpl>();
    impl->core = std::move(core);
    impl->tableDefsImpl = &impl->core->tableDefs;
    impl->tableDefs = std::make_unique<dao::TableDefs>(impl->tableDefsImpl);
    return std::make_shared<Database>(std::move(impl));
}

}  // namespace

namespace {
// Workspaces' lists of databases may be touched from threads that each open their own connection.
std::mutex gWorkspaceMutex;
}  // namespace

std::shared_ptr<Database> Workspace::OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                  const std::string& connect) {
    auto db = Wrap(OpenCore(path, exclusive, readOnly, connect, false));
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    databases_.erase(std::remove_if(databases_.begin(), databases_.end(), [](const auto& w) { return w.expired(); }),
                     databases_.end());
    databases_.push_back(db);
    return db;
}

std::shared_ptr<Database> Workspace::OpenGuest(const std::string& path) {
    auto db = Wrap(OpenCore(path, false, false, {}, false, true));
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    databases_.push_back(db);
    return db;
}

std::shared_ptr<Database> Workspace::CreateDatabase(const std::string& path, const std::string& locale, int options) {
    (void)locale;
    (void)options;
    auto db = Wrap(OpenCore(path, false, false, {}, true));
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    databases_.push_back(db);
    return db;
}

std::vector<std::shared_ptr<Database>> Workspace::Databases() const {
    std::lock_guard<std::mutex> lock(gWorkspaceMutex);
    std::vector<std::shared_ptr<Database>> out;
    for (const auto& w : databases_)
        if (auto d = w.lock())
            if (!d->impl()->core->closed) out.push_back(d);
    return out;
}

void Workspace::BeginTrans() {
    for (auto& d : Databases())
        if (!d->impl()->core->readOnly) d->BeginTrans();
}

void Workspace::Rollback() {
    bool any = false;
    for (auto& d : Databases())
        if (d->impl()->core->transDepth > 0) {
            d->Rollback();
            any = true;
        }
    if (!any) Raise(3034);
}

Workspace& DBEngine::Workspaces(int index) {
    static Workspace ws;
    if (index != 0) Raise(3265);
    return ws;
}

std::shared_ptr<Database> DBEngine::CreateDatabase(const std::string& path, const std::string& locale, int options) {
    return Workspaces(0).CreateDatabase(path, locale, options);
}

std::shared_ptr<Database> DBEngine::OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                 const std::string& connect) {
    return Workspaces(0).OpenDatabase(path, exclusive, readOnly, connect);
}

std::shared_ptr<Database> DBEngine::OpenGuest(const std::string& path) { return Workspaces(0).OpenGuest(path); }

void DBEngine::ReplaceDatabase(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) Raise(3044, to);
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) Raise(3024, from);
    if (!S_ISREG(st.st_mode)) Raise(3343, from);
    if (LogHoldsData(from)) Raise(3049, from);
    const std::string lockPath = LockPathOf(to);
    bool denied = false;
    const int fd = TakeLock(lockPath, true, &denied);
    if (denied) Raise(3045, to);
    if (fd < 0) Raise(3050);
    try {
        // The old file's log and journal would be read as the new one's: they
        // go with the old file, and stay with it when the rename fails.
        file::SafeFile::Replace(from, to, {"-wal", "-journal", "-shm"});
    } catch (const file::Error& e) {
        ReleaseLock(fd, lockPath);
        throw DaoError(e.Number(), e.what());
    }
    ReleaseLock(fd, lockPath);
}

}  // namespace dao

