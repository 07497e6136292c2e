// Start-up in order, the command line, the single instance, the fault
// handler and shutdown.
#include "ShellFixture.h"

#include "HeldLock.h"

#include "AppGlobals.h"
#include "AppServicesTesting.h"
#include "CHourglass.h"
#include "CMRUList.h"
#include "CProject.h"
#include "CTRX.h"
#include "IShell.h"
#include "MException.h"
#include "MUtilities.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace shelltest;

namespace {

QStringList EnabledTools(FMain& main) {
    QStringList names;
    for (QAction* tool : main.Bar()->Tools())
        if (tool->isEnabled()) names << QString::number(CCommandTable::ToolId(tool));
    names.sort();
    return names;
}

}  // namespace

TEST_F(ShellTest, StartUpRunsItsStepsInOrderAndLeavesTheStartSet) {
    ASSERT_TRUE(Start({}, true));
    EXPECT_EQ(app->trace, (QStringList{"filter", "lock", "splash", "settings", "load", "recent", "hook", "toolbar",
                                       "show", "welcome", "project"}));
    EXPECT_TRUE(MException::FilterInstalled());
    EXPECT_TRUE(Main().isVisible());
    EXPECT_EQ(Main().windowTitle(), "Tessary");
    EXPECT_EQ(StatusMain(), " Welcome to Tessary. ");
    auto settings = app::Globals().gRegSettings;
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->Company(), "Tavrel");
    EXPECT_EQ(settings->AppName(), "Tessary");
    EXPECT_EQ(app::Globals().gTreeMode, -1);
    // The five menus, the two mark sub-menus, New, Open, Close, Import, Exit,
    // Preferences, User Manual and About.
    QStringList start{"1000", "2000", "3000", "4000", "4100", "4200", "5000", "1001",
                      "1002", "1003", "1004", "1006", "2005", "5001", "5003"};
    start.sort();
    EXPECT_EQ(EnabledTools(Main()), start);
    // The splash counts 8000 ms from the shown window and stays above it.
    ASSERT_TRUE(app->splash);
    EXPECT_EQ(app->splash->WaitTime(), 8000);
    EXPECT_TRUE(app->splash->Timer()->isActive());
    EXPECT_EQ(app->splash->parentWidget(), &Main());
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ShellTest, WithoutTheGraphControlTheStartSaysWhyAndShowsNoWindow) {
    factory = PanelSet::Program;
    const std::string store = std::getenv("TESSARY_CLASSES") ? std::getenv("TESSARY_CLASSES") : "";
    ::setenv("TESSARY_CLASSES", dir.File("no-classes.reg").c_str(), 1);
    const bool up = Start();
    ::setenv("TESSARY_CLASSES", store.c_str(), 1);
    EXPECT_FALSE(up);
    EXPECT_FALSE(app->main);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "MTessary::Main");
    EXPECT_TRUE(dialogs.Messages()[0].text.startsWith("Error: ")) << dialogs.Messages()[0].text.toStdString();
    // With the control registered the same start shows the program's own panels.
    dialogs.Clear();
    ASSERT_TRUE(Start());
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_TRUE(Main().findChild<QWidget*>("pnlTreeGraph")->findChild<QWidget*>("treeMain"));
}

TEST_F(ShellTest, TheFirstUseOfTheMenuOrAClickClosesTheSplashAKeyDoesNot) {
    ASSERT_TRUE(Start({}, true));
    QPointer<FSplash> splash = app->splash;
    ASSERT_TRUE(splash);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QApplication::sendEvent(splash, &key);
    QCoreApplication::processEvents();
    EXPECT_TRUE(splash);
    // A press on the main window is consumed and only closes the splash.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(Main().Frame(), &press);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(splash);
    EXPECT_TRUE(Main().isVisible());
}

TEST_F(ShellTest, AFirstStartPlacesTheWindowOnTheWholeScreenWithTheDesignSplit) {
    ASSERT_TRUE(Start());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(Main().pos(), QPoint(0, 0));
    EXPECT_EQ(Main().width(), screen.width());
    EXPECT_EQ(Main().height(), screen.height() - 28);  // 420 twips
    EXPECT_EQ(Main().Frame()->SplitPosition(), 224 * 15);
    EXPECT_TRUE(Main().Bar()->MainToolbar()->isVisible());
}

TEST_F(ShellTest, AStoredHiddenToolbarStaysHidden) {
    SetReg("Config", "ShowToolbar", "False");
    ASSERT_TRUE(Start());
    EXPECT_FALSE(Main().Bar()->MainToolbar()->isVisible());
}

TEST_F(ShellTest, ABareNameOpensFromTheCurrentFolderThenFromProjects) {
    CopySample("cwd");
    ASSERT_TRUE(Start({"iris"}));
    EXPECT_EQ(Main().windowTitle(), "Tessary - [iris.txp]");
    EXPECT_EQ(QString::fromStdString(app::Globals().gProject->FileName()),
              QString::fromStdString(dir.File("cwd/iris.txp")));
    app.reset();

    std::filesystem::remove(dir.File("cwd/iris.txp"));
    CopySample("Projects");
    ASSERT_TRUE(Start({"  iris  "}));
    ASSERT_TRUE(app::Globals().gProject);
    EXPECT_EQ(QString::fromStdString(app::Globals().gProject->FileName()),
              QString::fromStdString(dir.File("Projects/iris.txp")));
}

TEST_F(ShellTest, AnArgumentHoldingTheExtensionAnywhereGetsNoSecondOne) {
    CopySample("cwd", "SALES.TXP");
    ASSERT_TRUE(Start({"SALES.TXP"}));
    EXPECT_EQ(Main().windowTitle(), "Tessary - [SALES.TXP]");
    app.reset();
    CopySample("cwd", "old.txp.bak");
    ASSERT_TRUE(Start({"old.txp.bak"}));
    EXPECT_EQ(Main().windowTitle(), "Tessary - [old.txp.bak]");
}

TEST_F(ShellTest, AMissingCommandLineProjectIsReportedAndAutoLoadIsNotConsulted) {
    const std::string sample = CopySample();
    SetReg("Config", "AutoLoad", "True");
    SetReg("RecentFileList", "1", sample);
    ASSERT_TRUE(Start({"nosuch"}));
    EXPECT_EQ(StatusMain(), " Could not load command line project: nosuch ");
    EXPECT_FALSE(app::Globals().gProject);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ShellTest, AutoLoadOpensTheNewestRecentProjectWhenItExists) {
    SetReg("Config", "AutoLoad", "True");
    ASSERT_TRUE(Start());  // an empty list: no project, no message
    EXPECT_FALSE(app::Globals().gProject);
    app.reset();

    SetReg("RecentFileList", "1", dir.File("gone.txp"));
    ASSERT_TRUE(Start());
    EXPECT_FALSE(app::Globals().gProject);
    app.reset();

    const std::string sample = CopySample();
    SetReg("RecentFileList", "1", sample);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(app::Globals().gProject);
    EXPECT_EQ(app::Globals().gProject->FileName(), sample);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ShellTest, OpeningTheSampleShowsStateThreeTools) {
    const std::string sample = CopySample();
    ASSERT_TRUE(Start({QString::fromStdString(sample)}));
    EXPECT_EQ(Main().windowTitle(), "Tessary - [iris.txp]");
    EXPECT_EQ(StatusMain(), " Welcome to Tessary. ");
    EXPECT_EQ(Main().StatusBar()->Panel(QStringLiteral("Project"))->text(), " 150 Rows ");
    for (const char* on : {"3001", "3004", "3005", "1010", "1005", "1003"})
        EXPECT_TRUE(Tool(on)->isEnabled()) << on;
    for (const char* off : {"3002", "3003", "3006", "3007", "3008", "1009", "1004"})
        EXPECT_FALSE(Tool(off)->isEnabled()) << off;
    EXPECT_TRUE(Tool("mnuViewBrowseAll")->isChecked());
    EXPECT_EQ(Main().Frame()->GetActiveKeyLeft(), "Report");
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "DataGrid");
    EXPECT_EQ(Main().Frame()->CaptionRight(), "Browse All Data");
    EXPECT_EQ(Reg("RecentFileList", "1"), sample);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ShellTest, ClosingSavesThePlaceAndReleasesEverythingInOrder) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    Main().move(10, 20);
    Main().Frame()->SetSplitPosition(300 * 15);
    QPointer<FMain> main = &Main();
    ASSERT_TRUE(main->close());
    EXPECT_FALSE(MException::FilterInstalled());
    EXPECT_FALSE(main->ActivationHook());
    const auto& g = app::Globals();
    EXPECT_FALSE(g.gTRX || g.gSqlMachine || g.gDataDef || g.gProject || g.gMRUList || g.gRegSettings);
    EXPECT_FALSE(app->IsFormLoaded("FMain"));
    // A busy cursor released after the close finds no window and makes none.
    { CHourglass late; late.SetValue(true); }
    EXPECT_EQ(Reg("Window", "FMainLeft"), "150");
    EXPECT_EQ(Reg("Window", "FMainTop"), "300");
    EXPECT_EQ(Reg("Window", "SplitPosition"), "4500");
}

// The program's services and settings go with it; what was installed before
// it, as panels alone install theirs, is back once it has gone.
TEST_F(ShellTest, TheProgramsServicesEndWithIt) {
    app::ScopedFakeShell before;
    ASSERT_TRUE(Start());
    EXPECT_EQ(CTessaryApp::Instance(), app.get());
    EXPECT_EQ(base::Shell(), &Main());
    EXPECT_EQ(app::Forms(), app.get());
    EXPECT_TRUE(MUtilities::RegSettings());
    EXPECT_EQ(MUtilities::RegSettings(), app::Globals().gRegSettings);
    app.reset();
    EXPECT_FALSE(app::HasGlobals());
    EXPECT_EQ(CTessaryApp::Instance(), nullptr);
    EXPECT_EQ(base::Shell(), nullptr);
    EXPECT_EQ(app::Forms(), &before.forms);
    EXPECT_FALSE(MUtilities::RegSettings());
    app::StatusText("after");
    EXPECT_EQ(before.status.texts, QStringList{"after"});
}

// Another process holding the settings lock for long: the program starts on the
// settings as they stand, no save hangs, one box says that changes are not
// saved, and the other's file stays as it was.
TEST_F(ShellTest, ASettingsLockHeldElsewhereNeverHangsAndIsToldOnce) {
    const std::string sample = CopySample();
    SetReg("Config", "ShowToolbar", "False");
    SetReg("RecentFileList", "1", dir.File("older.txp"));
    const QString store = QString::fromStdString(dir.File("user.reg"));
    const auto contents = [&] {
        QFile f(store);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = contents();
    testsupport::HeldLock other(store.toStdString() + ".lock", 30);
    if (!other.Held()) GTEST_SKIP() << other.Why();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(Start());
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_FALSE(Main().Bar()->MainToolbar()->isVisible());
    EXPECT_EQ(app::Globals().gMRUList->Item(1), QString::fromStdString(dir.File("older.txp")));
    // Opening saves the folder and the recent list, closing the window's place.
    t.restart();
    MTessary::LoadProject(QString::fromStdString(sample));
    EXPECT_TRUE(app::Globals().gProject);
    ASSERT_TRUE(Main().close());
    EXPECT_LT(t.elapsed(), 5000);
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Tessary");
    EXPECT_EQ(dialogs.Messages()[0].icon, ui::Icon::Exclamation);
    EXPECT_EQ(dialogs.Messages()[0].text, "Another program holds the lock on the settings file " + store +
                                              ". Settings were read as they stand; changes to them are not saved "
                                              "while it holds the lock.");
    EXPECT_EQ(contents(), before);
}

TEST_F(ShellTest, ActivationReachesTheFrameOncePerChange) {
    ASSERT_TRUE(Start());
    UAppFrame* frame = Main().Frame();
    EXPECT_TRUE(frame->FocusMark());
    MTessary::MainWindowProc(false);
    EXPECT_FALSE(frame->FocusMark());
    frame->SetFocusX();  // a change made elsewhere: a second deactivation does not reach the frame
    MTessary::MainWindowProc(false);
    EXPECT_TRUE(frame->FocusMark());
    MTessary::MainWindowProc(true);
    EXPECT_TRUE(frame->FocusMark());
    frame->UnSetFocusX();
    MTessary::MainWindowProc(true);  // already active: nothing reaches the frame
    EXPECT_FALSE(frame->FocusMark());
}

TEST(ExceptionFilter, NamesEveryCodeAndTheUnknownOnes) {
    EXPECT_EQ(MException::ExceptionName(0xC0000005u), "Exception Error: ACCESS_VIOLATION");
    EXPECT_EQ(MException::ExceptionName(0xC00000FDu), "Exception Error: STACK_OVERFLOW");
    EXPECT_EQ(MException::ExceptionName(0x80000004u), "Exception Error: SINGLE_STEP");
    EXPECT_EQ(MException::ExceptionName(0x40000005u), "Exception Error: SEGMENT_NOTIFICATION");
    EXPECT_EQ(MException::ExceptionName(0xE06D7363u), "Exception Error: Unknown Exception (0xE06D7363)");
    EXPECT_EQ(MException::ExceptionName(0x1Au), "Exception Error: Unknown Exception (0x1A)");
    EXPECT_EQ(MException::CodeOfSignal(SIGFPE, FPE_INTDIV, false), 0xC0000094u);
    EXPECT_EQ(MException::CodeOfSignal(SIGBUS, BUS_ADRALN, false), 0x80000002u);
    EXPECT_EQ(MException::CodeOfSignal(SIGBUS, BUS_ADRERR, false), 0xC0000006u);
    EXPECT_EQ(MException::CodeOfSignal(SIGILL, ILL_PRVOPC, false), 0xC0000096u);
    EXPECT_EQ(MException::CodeOfSignal(SIGSEGV, SEGV_MAPERR, true), 0xC00000FDu);
}

namespace {

// Runs body in a child with the filter installed; its standard error and how it ended.
std::pair<std::string, int> InChild(void (*body)()) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) return {"", 0};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], STDERR_FILENO);
        ::close(pipefd[0]);
        MException::InstallFilter();
        body();
        ::_exit(0);
    }
    ::close(pipefd[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {out, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

volatile int* gNull = nullptr;
volatile int gZero = 0;

}  // namespace

TEST(ExceptionFilter, AFaultIsNamedOnStandardErrorAndEndsTheProcessWithItsSignal) {
    auto [text, sig] = InChild([] { *gNull = 1; });
    EXPECT_EQ(text, "Error: 10000. \nException Error: ACCESS_VIOLATION\n");
    EXPECT_EQ(sig, SIGSEGV);
    std::tie(text, sig) = InChild([] { gZero = 10 / gZero; });
    EXPECT_EQ(text, "Error: 10000. \nException Error: INTEGER_DIVIDE_BY_ZERO\n");
    EXPECT_EQ(sig, SIGFPE);
}

TEST_F(ShellTest, ASecondInstanceEndsAtOnceWithoutAWindow) {
    const QString program = QString::fromLocal8Bit(std::getenv("TESSARY_BINARY_DIR")) + "/bin/tessary";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted());
    const QString lock = MTessary::LockPath();
    for (int i = 0; i < 100 && !QFileInfo::exists(lock); ++i) QThread::msleep(50);
    ASSERT_TRUE(QFileInfo::exists(lock));
    QProcess second;
    env.insert("TESSARY_SHOWN_EXIT", "1");
    second.setProcessEnvironment(env);
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(second.readAllStandardOutput().contains("shown after"));
    first.kill();
    first.waitForFinished();
    // The lock of a process that is gone does not stop the next start.
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(program, {});
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_TRUE(third.readAllStandardOutput().contains("shown after"))
        << "exit " << third.exitCode() << ": " << third.readAllStandardError().toStdString();
}

TEST_F(ShellTest, TheProgramFindsItsModulesWithoutASetting) {
    const std::string buildStore = std::string(std::getenv("TESSARY_BINARY_DIR")) + "/classes.reg";
    ::unsetenv("TESSARY_CLASSES");
    ASSERT_TRUE(Start({QString::fromStdString(CopySample())}));
    const char* store = std::getenv("TESSARY_CLASSES");
    ASSERT_TRUE(store);
    EXPECT_EQ(std::filesystem::weakly_canonical(store), std::filesystem::weakly_canonical(buildStore));
    // The engine comes up through the class store found beside the program.
    CTRX trx;
    EXPECT_TRUE(trx.Initialize(app::Globals().gDataDef, app::Globals().gProject.get()));
    EXPECT_TRUE(dialogs.Messages().empty());
}
