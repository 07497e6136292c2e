// The progress window over real long operations: Cancel while the main window
// is busy, the values it shows, and closing the main window mid-run.
#include "ShellFixture.h"

#include "CDataDef.h"
#include "CHourglass.h"
#include "CProject.h"
#include "CTRX.h"
#include "FStatus.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace shelltest;

namespace {

class Progress : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(Start());
        project = std::make_shared<CProject>();
        project->SetFileName(CopySample());
        db = project->OpenProject(false);
        ASSERT_TRUE(db);
    }
    void TearDown() override {
        db.reset();
        project->CloseProject();
        ShellTest::TearDown();
    }
    // Wraps the progress callback the window installed: act runs at the first event.
    template <class Object>
    void AtFirstEvent(Object& object, std::function<void()> act) {
        auto watch = object.OnProgress;
        object.OnProgress = [watch, act, done = false](int16_t p) mutable {
            if (watch) watch(p);
            if (!done) {
                done = true;
                act();
            }
        };
    }
    // Cancel clicked at the first event, with the main window busy as a step keeps it.
    bool StatisticsCancelled(std::shared_ptr<CDataDef> dataDef, bool* buttonEnabled,
                             std::function<void()> meanwhile = {}) {
        CHourglass busy;
        busy.SetValue(true);
        return MTessary::RunWithProgress("Collecting Statistics...", dataDef, nullptr, [&] {
            FStatus* status = MTessary::Status();
            AtFirstEvent(*dataDef, [status, buttonEnabled, meanwhile] {
                if (meanwhile) meanwhile();
                *buttonEnabled = status->isVisible() && status->CancelButton()->isEnabled();
                QTest::mouseClick(status->CancelButton(), Qt::LeftButton);
            });
            dataDef->CollectStats(db);
        });
    }
    std::shared_ptr<CProject> project;
    DatabasePtr db;
};

}  // namespace

TEST_F(Progress, CancelStopsAStatisticsRunAndStillWorksForTheNextOne) {
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        auto dataDef = std::make_shared<CDataDef>();
        dataDef->Initialize(db, "LinkDataSource");
        bool enabled = false;
        EXPECT_TRUE(StatisticsCancelled(dataDef, &enabled));
        EXPECT_TRUE(enabled) << "the busy main window must not disable the progress window";
        EXPECT_TRUE(dataDef->Cancel());
        EXPECT_FALSE(dataDef->InitDone());
        EXPECT_FALSE(MTessary::Status()->isVisible());
        EXPECT_FALSE(MTessary::Status()->Watching());
        EXPECT_EQ(StatusMain(), " Operation canceled by user. ");
    }
    // Uncancelled, the run ends at 100.
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Initialize(db, "LinkDataSource");
    EXPECT_FALSE(MTessary::RunWithProgress("Collecting Statistics...", dataDef, nullptr,
                                           [&] { dataDef->CollectStats(db); }));
    EXPECT_TRUE(dataDef->InitDone());
    EXPECT_EQ(MTessary::Status()->Meter()->value(), 100);
    EXPECT_EQ(MTessary::Status()->PercentLabel()->text(), "100%");
}

// Busy, the central area still reads enabled, yet clicks and keys reach
// only the progress window.
TEST_F(Progress, ABusyWindowTakesNoInputYetStaysEnabled) {
    auto* button = new QPushButton(Main().Frame());
    auto* box = new QLineEdit(Main().Frame());
    button->show();
    box->show();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Initialize(db, "LinkDataSource");
    bool enabled = false;
    EXPECT_TRUE(StatisticsCancelled(dataDef, &enabled, [&] {
        EXPECT_TRUE(button->isEnabled() && box->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClicks(box, "7");
    }));
    EXPECT_TRUE(enabled);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(box->text(), "");
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClicks(box, "7");
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(box->text(), "7");
    delete button;
    delete box;
}

TEST_F(Progress, CancelStopsATreeBuild) {
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Load(db);
    auto trx = std::make_shared<CTRX>();
    ASSERT_TRUE(trx->Initialize(dataDef, project.get()));
    ASSERT_TRUE(trx->LoadData(1, 100));
    bool enabled = false;
    bool built = true;
    CHourglass busy;
    busy.SetValue(true);
    const bool cancelled = MTessary::RunWithProgress("Extracting rules...", nullptr, trx, [&] {
        FStatus* status = MTessary::Status();
        AtFirstEvent(*trx, [status, &enabled] {
            enabled = status->CancelButton()->isEnabled();
            // A tree build's first report is 0, shown as 1.
            EXPECT_EQ(status->Meter()->value(), 1);
            QTest::mouseClick(status->CancelButton(), Qt::LeftButton);
        });
        built = trx->BuildTree();
    });
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(trx->Canceled());
    EXPECT_FALSE(built);
    EXPECT_FALSE(trx->HasTree());
    // The same window runs the next build to its end.
    busy.SetValue(true);
    EXPECT_FALSE(MTessary::RunWithProgress("Extracting rules...", nullptr, trx, [&] { built = trx->BuildTree(); }));
    EXPECT_TRUE(built);
    EXPECT_TRUE(trx->HasTree());
}

TEST_F(Progress, TheWindowShowsClampedValuesOnlyWhenTheyChange) {
    FStatus* status = MTessary::Status();
    auto dataDef = std::make_shared<CDataDef>();
    status->Initialize("Collecting Statistics...", dataDef, nullptr, &Main());
    EXPECT_EQ(status->windowTitle(), "Collecting Statistics...");
    dataDef->OnProgress(-1);
    EXPECT_EQ(status->Meter()->value(), 100);
    EXPECT_EQ(status->PercentLabel()->text(), "100%");
    const int repaints = status->Repaints();
    status->SetProgress(100);
    status->SetProgress(250);
    EXPECT_EQ(status->Repaints(), repaints);
    status->SetProgress(-5);
    EXPECT_EQ(status->Meter()->value(), 0);

    auto trx = std::make_shared<CTRX>();
    status->Initialize("Extracting rules...", nullptr, trx, &Main());
    EXPECT_EQ(status->PercentLabel()->text(), "0%");
    trx->OnProgress(0);
    EXPECT_EQ(status->PercentLabel()->text(), "1%");
    trx->OnProgress(250);
    EXPECT_EQ(status->Meter()->value(), 100);
    // A new run that reports the last run's final value still shows it.
    status->Initialize("Extracting rules...", nullptr, trx, &Main());
    trx->OnProgress(100);
    EXPECT_EQ(status->Meter()->value(), 100);
    // After Cancel the run's events no longer reach the window.
    status->Initialize("Extracting rules...", nullptr, trx, &Main());
    trx->OnProgress(30);
    status->CancelClick();
    trx->OnProgress(60);
    EXPECT_EQ(status->Meter()->value(), 30);
    EXPECT_TRUE(trx->Canceled());
    EXPECT_TRUE(status->Canceled());
}

TEST_F(Progress, TheCloseBoxActsAsCancel) {
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Initialize(db, "LinkDataSource");
    const bool cancelled = MTessary::RunWithProgress("Collecting Statistics...", dataDef, nullptr, [&] {
        FStatus* status = MTessary::Status();
        AtFirstEvent(*dataDef, [status] { status->close(); });
        dataDef->CollectStats(db);
    });
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(dataDef->Cancel());
}

TEST_F(Progress, ClosingTheMainWindowMidRunCancelsAndClosesAfterwards) {
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Initialize(db, "LinkDataSource");
    QPointer<FMain> main = &Main();
    bool stillOpen = false;
    const bool cancelled = MTessary::RunWithProgress("Collecting Statistics...", dataDef, nullptr, [&] {
        AtFirstEvent(*dataDef, [&] {
            main->close();
            stillOpen = main && main->isVisible() && !main->Unloaded();
        });
        dataDef->CollectStats(db);
        // The objects of the run are still there when it returns.
        EXPECT_TRUE(app::Globals().gRegSettings);
    });
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(stillOpen);
    ASSERT_TRUE(main);
    QCoreApplication::processEvents();
    EXPECT_TRUE(!main || main->Unloaded());
    EXPECT_FALSE(app::Globals().gRegSettings);
}

// A close that waited in the queue while a command ran is met as the command
// lets go of the busy state: the window closes once the command has returned.
TEST_F(Progress, AQueuedCloseWaitsForTheCommandToReturn) {
    QPointer<FMain> main = &Main();
    {
        CHourglass busy;
        busy.SetValue(true);
        QMetaObject::invokeMethod(main, [main] { main->close(); }, Qt::QueuedConnection);
    }
    EXPECT_TRUE(main && !main->Unloaded()) << "closed inside the command";
    QCoreApplication::processEvents();
    EXPECT_TRUE(!main || main->Unloaded());
}
