// Another program at work on a project: Python's sqlite3 flipping marks of
// table Test while the program marks rows itself.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace browsetest {

// Python's sqlite3 on the project, flipping the marks of the given keys (one
// a commit, about every 2 ms, in a fixed random order) until its input
// closes; then it prints how often it flipped each key, as "key:count ...".
class PythonFlipper {
public:
    static std::string Python() {
        for (const char* dir : {"/usr/bin", "/usr/local/bin"}) {
            const std::string p = std::string(dir) + "/python3";
            if (::access(p.c_str(), X_OK) == 0) return p;
        }
        return {};
    }
    PythonFlipper(const std::string& file, const std::vector<long>& keys) {
        static const char* script = R"(
import select, sqlite3, sys, random
db = sqlite3.connect(sys.argv[1], timeout=30, isolation_level=None)
keys, pick, flips = [int(k) for k in sys.argv[2].split(",")], random.Random(55), {}
print("ready", flush=True)
while not select.select([sys.stdin], [], [], 0.002)[0]:
    k = pick.choice(keys)
    try:
        db.execute("BEGIN IMMEDIATE")
        db.execute("UPDATE Test SET Mark = CASE WHEN Mark = -1 THEN 0 ELSE -1 END WHERE MainPrimaryKey = ?", (k,))
        db.execute("COMMIT")
        flips[k] = flips.get(k, 0) + 1
    except sqlite3.Error:
        if db.in_transaction: db.execute("ROLLBACK")
print(" ".join("%d:%d" % kv for kv in sorted(flips.items())), flush=True)
)";
        std::string list;
        for (long k : keys) list += (list.empty() ? "" : ",") + std::to_string(k);
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        mChild = ::fork();
        if (mChild == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
            ::execl(Python().c_str(), "python3", "-c", script, file.c_str(), list.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        mTo = in[1];
        mFrom = out[0];
    }
    ~PythonFlipper() { Stop(); }
    std::string Line() {
        std::string line;
        for (char c; ::read(mFrom, &c, 1) == 1 && c != '\n';) line += c;
        return line;
    }
    // Ends the flips; how often each key was flipped.
    std::map<long, int> Stop() {
        std::map<long, int> flips;
        if (mChild <= 0) return flips;
        ::close(mTo);
        std::istringstream counts(Line());
        for (std::string kv; counts >> kv;) flips[std::stol(kv)] = std::stoi(kv.substr(kv.find(':') + 1));
        ::close(mFrom);
        ::waitpid(mChild, nullptr, 0);
        mChild = -1;
        return flips;
    }

private:
    pid_t mChild = -1;
    int mTo = -1, mFrom = -1;
};

}  // namespace browsetest
