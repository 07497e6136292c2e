#include "ErrorGuard.h"

#include "AppErrors.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

#include <QObject>

#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>
#include <utility>

TEST(ErrorGuard, AnEscapedErrorShowsTheBoxTitledWithItsLocationAndReturns) {
    testsupport::App();
    ui::ScopedRecorder rec;
    EXPECT_FALSE(base::ShowErrors("FMain::mnuFileOpen_Click", [] { throw app::RuntimeError(52, "Bad file name"); }));
    EXPECT_FALSE(base::ShowErrors("UGrid::tdbGrid_KeyDown", [] { throw std::logic_error("boom"); }));
    int ran = 0;
    EXPECT_TRUE(base::ShowErrors("X::Y", [&] { ++ran; }));
    EXPECT_EQ(ran, 1);
    const auto msgs = rec.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].title, "FMain::mnuFileOpen_Click");
    EXPECT_EQ(msgs[0].text, "Error: 52. \nBad file name");
    EXPECT_EQ(msgs[0].icon, ui::Icon::Critical);
    EXPECT_EQ(msgs[1].title, "UGrid::tdbGrid_KeyDown");
}

TEST(ErrorGuard, ABodyThatAnswersIsTakenAtItsWordAndACaughtErrorShowsItsBox) {
    testsupport::App();
    ui::ScopedRecorder rec;
    int recorded = 0;
    base::RecordSink previous = base::SetRecordSink([&](const base::RecordedError&) { ++recorded; });
    EXPECT_FALSE(base::ShowErrors("CTRX::LoadData", [] { return false; }));
    EXPECT_TRUE(base::ShowErrors("CTRX::LoadData", [] { return true; }));
    EXPECT_FALSE(base::RecordErrors("MMenu::TableRecordCount", [] { return false; }));
    EXPECT_TRUE(base::RecordErrors("MMenu::TableRecordCount", [] { return true; }));
    EXPECT_EQ(recorded, 0);
    EXPECT_TRUE(rec.Messages().empty());

    try {
        app::RaiseError(9);
    } catch (...) {
        base::ShowCaught("CClassNames::Class");
    }
    base::ShowError("MTessary::MDBExportMarked", {3035, "Disk full"});
    base::SetRecordSink(std::move(previous));
    const std::pair<QString, QString> boxes[] = {{"CClassNames::Class", "Error: 9. \nSubscript out of range"},
                                                 {"MTessary::MDBExportMarked", "Error: 3035. \nDisk full"}};
    const auto msgs = rec.Messages();
    ASSERT_EQ(msgs.size(), std::size(boxes));
    for (size_t i = 0; i < msgs.size(); ++i)
        EXPECT_EQ(std::make_pair(msgs[i].title, msgs[i].text), boxes[i]) << i;
}

namespace {
class Asker : public QObject {
    Q_OBJECT
signals:
    void Ask(bool& hasKey, int n);
};
}  // namespace

TEST(ErrorGuard, AGuardedSlotAnswersByReferenceAndSurvivesAThrow) {
    testsupport::App();
    ui::ScopedRecorder rec;
    Asker asker;
    QObject::connect(&asker, &Asker::Ask, base::ShowingErrors("FMain::pnlTableSel_TableSelect", [](bool& hasKey, int n) {
                         hasKey = true;
                         if (n > 1) throw std::runtime_error("too many");
                     }));
    bool answer = false;
    emit asker.Ask(answer, 1);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(rec.Messages().empty());
    answer = false;
    emit asker.Ask(answer, 2);
    EXPECT_TRUE(answer);
    ASSERT_EQ(rec.Messages().size(), 1u);
    EXPECT_EQ(rec.Messages()[0].title, "FMain::pnlTableSel_TableSelect");

    // A handler that wants none of the signal's arguments is still called.
    int plain = 0;
    QObject::connect(&asker, &Asker::Ask, base::ShowingErrors("UPrune::lnkOK_Click", [&] {
                         if (++plain == 2) throw std::runtime_error("closed");
                     }));
    emit asker.Ask(answer, 1);
    EXPECT_EQ(plain, 1);
    emit asker.Ask(answer, 1);
    EXPECT_EQ(plain, 2);
    ASSERT_EQ(rec.Messages().size(), 2u);
    EXPECT_EQ(rec.Messages()[1].title, "UPrune::lnkOK_Click");
}

#include "test_error_guard.moc"
