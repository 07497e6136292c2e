// A project that another program takes while it is being opened: whichever
// step of the open meets the refusal, the person is told once why, and no
// project stays open. The other program's lock is stood in for by refusing
// this process the project's lock from a given step on.
#include "RoadFixture.h"

#include "AppGlobals.h"

#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

using namespace shelltest;

namespace {

std::string gLock;       // the lock file refused
int gGrants = INT_MAX;   // locks of it still granted
int gTaken = 0;          // locks of it granted so far

bool IsTheLock(int fd) {
    char link[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(proc.c_str(), link, sizeof link - 1);
    return n > 0 && std::string(link, size_t(n)) == gLock;
}

}  // namespace

extern "C" int flock(int fd, int operation) {
    const bool counted = !gLock.empty() && (operation & LOCK_UN) == 0 && IsTheLock(fd);
    if (counted && gGrants <= 0) {
        errno = EWOULDBLOCK;
        return -1;
    }
    const int rc = int(::syscall(SYS_flock, fd, operation));
    if (counted && rc == 0) {
        --gGrants;
        ++gTaken;
    }
    return rc;
}

namespace {

class ProjectRefused : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(Start());
    }
    void TearDown() override {
        gLock.clear();
        ShellTest::TearDown();
    }
};

}  // namespace

TEST_F(ProjectRefused, AHolderAtAnyStepOfTheOpenIsToldOnce) {
    const std::string path = CopySample("held");
    gLock = path + ".lck";
    int steps = 0;
    for (;; ++steps) {
        SCOPED_TRACE(std::to_string(steps) + " locks granted");
        dialogs.Clear();
        gGrants = steps;
        MTessary::LoadProject(QString::fromStdString(path));
        gGrants = INT_MAX;
        if (app::Globals().gProject) break;  // past the open
        std::string boxes;
        for (const auto& m : dialogs.Messages()) boxes += (m.title + " | " + m.text + "\n").toStdString();
        ASSERT_EQ(dialogs.Messages().size(), 1u) << boxes;
        EXPECT_EQ(dialogs.Messages()[0].title, "Project Read Failed");
        EXPECT_EQ(dialogs.Messages()[0].text.toStdString(),
                  "Project File: " + path + " is in use by another application.  Please close the other application "
                                            "before continuing.");
        EXPECT_EQ(Main().windowTitle(), "Tessary");
    }
    MTessary::CloseCurrentProject();
    // The checks, the link, the test that the file can be the project and the open for writing.
    EXPECT_GE(steps, 8);
}
