// The main window's handlers of the table, field and row-range panels and of
// the field statistics view, driven by the panels' events on stand-in panels
// over a copy of the sample project: the questions, what is stored, and when
// the state machine moves.
#include "RoadFixture.h"

#include "AppGlobals.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"
#include "MConfigValues.h"
#include "ErrorGuard.h"
#include "AppErrors.h"
#include "PlaceholderClassView.h"
#include "PlaceholderFieldSelect.h"
#include "PlaceholderFieldView.h"
#include "PlaceholderSetLimits.h"
#include "PlaceholderTableSelect.h"

#include <vector>

using namespace shelltest;

namespace {

class PrepHandlers : public ShellTest {
protected:
    std::string path;
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(Start());
        path = CopySample("p");
        // IndexCounter1 stands for a field without classes.
        shelltest::Sql(path, "UPDATE FieldConfig SET MaxClass=0 WHERE FieldName='IndexCounter1'");
        MTessary::LoadProject(QString::fromStdString(path));
        ASSERT_TRUE(app::Globals().gProject);
        dialogs.Clear();
    }
    CProject& Project() { return *app::Globals().gProject; }
    std::string Config(const std::string& p) { return Project().GetConfig(p, "<none>"); }
    PlaceholderSetLimits& Limits() { return *static_cast<PlaceholderSetLimits*>(Main().Panels().setLimits); }
    PlaceholderFieldSelect& Fields() { return *static_cast<PlaceholderFieldSelect*>(Main().Panels().fieldSel); }
    PlaceholderClassView& Classes() { return *static_cast<PlaceholderClassView*>(Main().Panels().classView); }
    PlaceholderFieldView& FieldView() { return *static_cast<PlaceholderFieldView*>(Main().Panels().fieldView); }
    std::vector<ui::RecordingHandler::Call> Titled(const QString& title) {
        std::vector<ui::RecordingHandler::Call> out;
        for (const auto& c : dialogs.Messages())
            if (c.title == title) out.push_back(c);
        return out;
    }
    int16_t Field(const char* name) {
        auto dd = app::Globals().gDataDef;
        for (int16_t i = 0; i < dd->FieldCount(); ++i)
            if (dd->FieldName(i) == name) return i;
        return -1;
    }
    // The row-range step with the panel holding these ranges as the user's change.
    void RangesNext(int32_t tl, int32_t th, int32_t sl, int32_t sh, bool changed) {
        Main().State().SetStateValue(3);
        Limits().calls.clear();
        Limits().trainLow = tl;
        Limits().trainHigh = th;
        Limits().testLow = sl;
        Limits().testHigh = sh;
        Limits().changed = changed;
        emit Limits().NavNext();
    }
    std::string Ranges() {
        return Config("TrainLow") + "-" + Config("TrainHigh") + "/" + Config("TestLow") + "-" + Config("TestHigh");
    }
};

TEST_F(PrepHandlers, RowRangeNextAsksBeforeOverwritingLaterResults) {
    // The sample holds 1-100 / 101-150.
    struct Case {
        int32_t tl, th, sl, sh;
        const char* question;
    };
    const Case cases[] = {
        {1, 100, 111, 150, "This will overwrite the previous classification.  Continue?"},
        {1, 90, 101, 150, "This will overwrite the previous rule extraction.  Continue?"},
        {2, 100, 101, 140, "This will overwrite the previous rule extraction and classification.  Continue?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        Project().SaveConfig("LastState", "5");
        dialogs.Clear();
        dialogs.answers = {ui::Answer::Cancel};
        RangesNext(c.tl, c.th, c.sl, c.sh, true);
        ASSERT_EQ(Titled("Set Limits").size(), 1u);
        EXPECT_EQ(Titled("Set Limits")[0].text, c.question);
        EXPECT_EQ(Titled("Set Limits")[0].buttons, ui::Buttons::OKCancel);
        EXPECT_EQ(Titled("Set Limits")[0].icon, ui::Icon::Exclamation);
        // Cancel: the stored values, the row count included, go back into the panel.
        EXPECT_EQ(Limits().calls, QStringList{"Initialize(150,1,100,101,150)"});
        EXPECT_EQ(Main().State().State(), 3);
        EXPECT_EQ(Ranges(), "1-100/101-150");
    }
    // OK stores the four values and moves on.
    dialogs.answers = {ui::Answer::OK};
    RangesNext(2, 100, 101, 140, true);
    EXPECT_EQ(Ranges(), "2-100/101-140");
    EXPECT_EQ(Main().State().State(), 4);
}

TEST_F(PrepHandlers, RowRangeNextStoresOnlyWhatIsNewOrNeverStored) {
    // No later step completed: no question, whatever changed.
    Project().SaveConfig("LastState", "3");
    RangesNext(5, 60, 61, 150, true);
    EXPECT_TRUE(Titled("Set Limits").empty());
    EXPECT_EQ(Ranges(), "5-60/61-150");
    EXPECT_EQ(Main().State().State(), 4);
    // Unchanged panel with stored ranges: nothing stored, still on to state 4.
    RangesNext(7, 8, 9, 10, false);
    EXPECT_EQ(Ranges(), "5-60/61-150");
    EXPECT_EQ(Main().State().State(), 4);
    // Later results, the panel equal to the stored ranges: on without a question.
    Project().SaveConfig("LastState", "5");
    RangesNext(5, 60, 61, 150, true);
    EXPECT_TRUE(Titled("Set Limits").empty());
    EXPECT_EQ(Main().State().State(), 4);
    // Never stored: all four are saved although the panel reports no change.
    shelltest::Sql(path, "DELETE FROM Config WHERE Property IN ('TrainLow','TrainHigh','TestLow','TestHigh')");
    Project().SaveConfig("LastState", "3");
    RangesNext(1, 150, 1, 150, false);
    EXPECT_EQ(Ranges(), "1-150/1-150");
}

TEST_F(PrepHandlers, FieldSelectionQuestionNextAndStatusText) {
    bool cancel = false;
    Project().SaveConfig("LastState", "3");
    emit Fields().VerifyModification(cancel);
    EXPECT_FALSE(cancel);
    EXPECT_TRUE(dialogs.Messages().empty());
    Project().SaveConfig("LastState", "4");
    dialogs.answers = {ui::Answer::Cancel, ui::Answer::OK};
    emit Fields().VerifyModification(cancel);
    EXPECT_TRUE(cancel);
    ASSERT_EQ(Titled("Modify Field Selection?").size(), 1u);
    EXPECT_EQ(Titled("Modify Field Selection?")[0].text,
              "Changes to field selection will overwrite the previous rule extraction and classification.  Continue?");
    cancel = false;
    emit Fields().VerifyModification(cancel);
    EXPECT_FALSE(cancel);

    // Next: a changed selection is saved, the last state falls back to the row ranges, the tree goes.
    Main().State().SetStateValue(2);
    Project().SaveConfig("LastState", "5");
    app::Globals().gTRX = std::make_shared<CTRX>();
    app::Globals().gDataDef->SetUserMatchType(Field("SepalWidth"), MatchType::NotUsed);
    Fields().changed = true;
    emit Fields().NavNext();
    EXPECT_EQ(Config("LastState"), "3");
    EXPECT_FALSE(app::Globals().gTRX);
    EXPECT_EQ(Main().State().State(), 3);
    CDataDef stored;
    stored.Load(Project().OpenProject(false));
    EXPECT_EQ(stored.UserMatchType(Field("SepalWidth")), MatchType::NotUsed);
    // Unchanged: nothing stored, still on.
    Main().State().SetStateValue(2);
    Project().SaveConfig("LastState", "5");
    Fields().changed = false;
    emit Fields().NavNext();
    EXPECT_EQ(Config("LastState"), "5");
    EXPECT_EQ(Main().State().State(), 3);

    // The status text names the field, and how an ordered field with classes is compared.
    emit Fields().FieldSelect(Field("SepalLength"));
    EXPECT_EQ(StatusMain(), " SepalLength  ( As Number ) ");
    EXPECT_TRUE(FieldView().calls.contains("SelectField(SepalLength)"));
    Fields().asText = {Field("SepalLength")};
    emit Fields().FieldSelect(Field("SepalLength"));
    EXPECT_EQ(StatusMain(), " SepalLength  ( As Text ) ");
    emit Fields().FieldSelect(Field("Species"));
    EXPECT_EQ(StatusMain(), " Species ");
    emit Fields().FieldSelect(Field("IndexCounter1"));
    EXPECT_EQ(StatusMain(), " IndexCounter1 ") << "no classes";
    // No such field: passed over without a box, but not without a trace.
    std::vector<base::RecordedError> dropped;
    base::RecordSink previous = base::SetRecordSink([&](const base::RecordedError& s) { dropped.push_back(s); });
    emit Fields().FieldSelect(99);
    base::SetRecordSink(std::move(previous));
    EXPECT_EQ(StatusMain(), " IndexCounter1 ");
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].where, "FMain::pnlFieldSel_FieldSelect");
    EXPECT_EQ(dropped[0].number, 9) << dropped[0].description;
    EXPECT_EQ(dialogs.Messages().size(), 2u);
}

TEST_F(PrepHandlers, ADoubleClickedFieldOpensItsClasses) {
    Main().Frame()->SetActivePanel(QStringLiteral("FieldView"));
    Project().SaveConfig("LastState", "1");
    emit FieldView().ItemSelect(QStringLiteral("Species"));
    EXPECT_TRUE(Classes().calls.isEmpty());
    Project().SaveConfig("LastState", "3");
    emit FieldView().ItemSelect(QStringLiteral("IndexCounter1"));
    EXPECT_TRUE(Classes().calls.isEmpty()) << "a field without classes";
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "FieldView");
    emit FieldView().ItemSelect(QStringLiteral("Species"));
    EXPECT_EQ(Classes().calls, (QStringList{"Initialize()", "SetField(Species)"}));
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "ClassView");
    EXPECT_TRUE(Tool("mnuViewClassList")->isChecked());
}

TEST_F(PrepHandlers, TableSelectAnswersWhetherTheTableHasAKey) {
    auto& table = *static_cast<PlaceholderTableSelect*>(Main().Panels().tableSel);
    const QString data = QString::fromStdString(dir.File("p/iris.mdb"));
    bool hasKey = true;
    emit table.TableSelect(data, QString(), hasKey);
    EXPECT_FALSE(hasKey);
    EXPECT_EQ(Main().Frame()->GetActiveKeyLeft(), "TableSelect");
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "");
    emit table.TableSelect(data, QStringLiteral("iris"), hasKey);
    EXPECT_TRUE(hasKey);
    EXPECT_TRUE(FieldView().calls.contains("AltInitialize(" + data + ",iris)"));
    EXPECT_EQ(Main().Frame()->GetActiveKeyRight(), "FieldView");
    // A table without a primary index, and one that is not there.
    shelltest::Sql(data.toStdString(), "CREATE TABLE Loose (A INTEGER UNIQUE, B TEXT)");
    emit table.TableSelect(data, QStringLiteral("Loose"), hasKey);
    EXPECT_FALSE(hasKey) << "a unique index counts only for ODBC sources";
    hasKey = true;
    emit table.TableSelect(data, QStringLiteral("Gone"), hasKey);
    EXPECT_FALSE(hasKey);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(PrepHandlers, StepsTwoAndThreeFillTheirPanelsFromConfig) {
    // Without a stored row count the row panel is hidden.
    shelltest::Sql(path, "DELETE FROM Config WHERE Property IN ('RecordCount','TrainHigh','TestHigh')");
    Main().State().SetStateValue(2);
    EXPECT_EQ(Main().Frame()->GetActiveKeyLeft(), "Configure");
    EXPECT_TRUE(Main().StatusBar()->Panel(4)->isHidden());
    EXPECT_EQ(Fields().calls, QStringList{"Initialize()"});
    // Without stored upper limits both ranges run to the stored row count.
    Project().SaveConfig("RecordCount", "150");
    Main().State().SetStateValue(3);
    EXPECT_EQ(Limits().calls, QStringList{"Initialize(150,1,150,101,150)"});
    EXPECT_EQ(Main().Frame()->GetActiveKeyLeft(), "SetLimits");
    EXPECT_TRUE(dialogs.Messages().empty());
}

}  // namespace

// A Config text as a whole number: halves go to even, and what rounds past the
// 32-bit range is an overflow, not a wrapped number.
TEST(ConfigValues, WholeNumbersStayWithinTheirRange) {
    EXPECT_EQ(MConfigValues::Long(" 2.5 "), 2);
    EXPECT_EQ(MConfigValues::Long("2147483647.4"), 2147483647);
    EXPECT_EQ(MConfigValues::Long("-2147483648.5"), -2147483648);
    for (const char* text : {"2147483647.5", "2147483648", "-2147483649", "1e300"}) {
        try {
            MConfigValues::Long(text);
            ADD_FAILURE() << text << " was taken";
        } catch (const app::RuntimeError& e) {
            EXPECT_EQ(e.Number(), 6) << text;
        }
    }
}
