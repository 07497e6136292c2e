// The stock sqlite3 shell run as another program would run it: a child
// process on a file, one statement, its output read back; or a session kept
// open between statements, as a person at its prompt keeps it, so that it can
// hold a transaction while the program works.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

namespace testsupport {

struct StockShell {
    // Where the shell is on the PATH, "" when it is not installed.
    static std::string Path() {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(path ? path : "/usr/bin:/bin");
        for (std::string dir; std::getline(dirs, dir, ':');) {
            const std::filesystem::path shell = std::filesystem::path(dir) / "sqlite3";
            if (::access(shell.c_str(), X_OK) == 0) return shell.string();
        }
        return {};
    }

    // Runs `sqlite3 file sql`; its standard output, with "exit N" added when it
    // does not end with 0.
    static std::string Run(const std::string& file, const std::string& sql) {
        const std::string shell = Path();
        int out[2];
        if (shell.empty() || ::pipe(out) != 0) return "no shell";
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::close(out[0]);
            ::close(out[1]);
            ::execl(shell.c_str(), "sqlite3", file.c_str(), sql.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string text;
        char buffer[512];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
        ::close(out[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (code != 0) text += "exit " + std::to_string(code);
        return text;
    }

    // The shell kept running on a file, reading statements from a pipe: it
    // holds the file open from its first statement until it is ended.
    class Session {
    public:
        explicit Session(const std::string& file) {
            int in[2], out[2];
            if (Path().empty() || ::pipe(in) != 0 || ::pipe(out) != 0) return;
            child_ = ::fork();
            if (child_ == 0) {
                ::dup2(in[0], 0);
                ::dup2(out[1], 1);
                ::dup2(out[1], 2);
                for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
                ::execl(Path().c_str(), "sqlite3", file.c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
            ::close(in[0]);
            ::close(out[1]);
            to_ = in[1];
            from_ = out[0];
        }
        ~Session() {
            if (to_ >= 0) ::close(to_);  // end of input: the shell quits, rolling back what it left open
            if (from_ >= 0) ::close(from_);
            if (child_ > 0) ::waitpid(child_, nullptr, 0);
        }
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;

        // Runs statements; what the shell printed for them, errors included
        // ("" for statements that print nothing).
        std::string Run(const std::string& sql) {
            static const std::string kDone = "--done--\n";
            const std::string text = sql + ";\n.print " + kDone;
            ::signal(SIGPIPE, SIG_IGN);
            if (to_ < 0 || ::write(to_, text.data(), text.size()) != ssize_t(text.size())) return "no shell";
            std::string out;
            const auto done = [&] { return out.ends_with(kDone); };
            for (char c; !done();) {
                if (::read(from_, &c, 1) != 1) return out + "shell gone";
                out += c;
            }
            return out.substr(0, out.size() - kDone.size());
        }

    private:
        pid_t child_ = -1;
        int to_ = -1, from_ = -1;
    };
};

}  // namespace testsupport
