// A PostgreSQL server of a test's or benchmark's own, on a Unix socket in a
// scratch folder, reached through its ODBC driver. The server refuses to run
// as root: as root it runs as the postgres user the package creates.
#pragma once

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace daotest {

inline const char* kOdbcDir = "/usr/lib/x86_64-linux-gnu/odbc/";

class PgServer {
public:
    explicit PgServer(const std::string& folder) : dir_(folder) {
        glob_t g{};
        if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0 && g.gl_pathc > 0)
            bin_ = std::filesystem::path(g.gl_pathv[g.gl_pathc - 1]).parent_path().string();
        ::globfree(&g);
        if (bin_.empty()) return;
        std::filesystem::create_directories(dir_);
        ::chmod(dir_.c_str(), 0777);
        as_ = ::getuid() == 0 ? "runuser -u postgres -- " : "";
        if (Run(bin_ + "/initdb -A trust -U tess -D " + dir_ + "/data") != 0) return;
        started_ = Run(bin_ + "/pg_ctl -w -D " + dir_ + "/data -l " + dir_ + "/log -o \"-k " + dir_ +
                       " -c listen_addresses='' -p 54329\" start") == 0;
    }
    ~PgServer() { Stop(); }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool Started() const { return started_; }
    void Stop() {
        if (started_) Run(bin_ + "/pg_ctl -w -m immediate -D " + dir_ + "/data stop");
        started_ = false;
    }
    int Psql(const std::string& sql) {
        std::ofstream(dir_ + "/in.sql") << sql;
        ::chmod((dir_ + "/in.sql").c_str(), 0644);
        return Run(bin_ + "/psql -q -v ON_ERROR_STOP=1 -h " + dir_ + " -p 54329 -U tess -d postgres -f " + dir_ +
                   "/in.sql");
    }
    std::string Connect() const {
        return "ODBC;Driver=" + std::string(kOdbcDir) + "psqlodbcw.so;Servername=" + dir_ +
               ";Port=54329;Database=postgres;Username=tess;BoolsAsChar=0";
    }

private:
    int Run(const std::string& cmd) { return std::system((as_ + cmd + " >/dev/null 2>&1").c_str()); }
    std::string dir_, bin_, as_;
    bool started_ = false;
};

}  // namespace daotest
