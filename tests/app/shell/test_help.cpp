// The help program's context for what the main window shows, and its start.
#include "ShellFixture.h"

#include "AppGlobals.h"
#include "CSqlMachine.h"
#include "FPref.h"

#include <QFile>
#include <QThread>
#include <QTimer>

using namespace shelltest;

namespace {

struct HelpCase {
    const char* left;
    const char* right;
    int browseType;  // -1: no browse view yet
    int treeMode;
    const char* context;
};

class HelpContexts : public ShellTest, public ::testing::WithParamInterface<HelpCase> {};

}  // namespace

TEST_P(HelpContexts, FollowWhatThePanesShow) {
    const HelpCase& c = GetParam();
    ASSERT_TRUE(Start());
    if (*c.left) Main().Frame()->SetActivePanel(c.left);
    if (*c.right) Main().Frame()->SetActivePanel(c.right);
    if (c.browseType >= 0) {
        auto sql = std::make_shared<CSqlMachine>();
        sql->SetBrowseType(int16_t(c.browseType));
        app::Globals().gSqlMachine = sql;
    }
    app::Globals().gTreeMode = c.treeMode;
    EXPECT_EQ(MTessary::HelpContext(), c.context);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HelpContexts,
    ::testing::Values(HelpCase{"", "", -1, -1, "0000"}, HelpCase{"TableSelect", "FieldView", -1, -1, "0000"},
                      HelpCase{"Configure", "FieldView", -1, -1, "6100"}, HelpCase{"SetLimits", "DataGrid", 0, -1, "6120"},
                      HelpCase{"Prune", "TreeGraph", -1, 1, "6140"}, HelpCase{"Report", "ClassView", -1, -1, "6550"},
                      HelpCase{"Report", "FieldView", -1, -1, "6500"}, HelpCase{"Report", "DataGrid", 0, -1, "6200"},
                      HelpCase{"Report", "DataGrid", 1, -1, "6220"}, HelpCase{"Report", "IMode", -1, -1, "6400"},
                      HelpCase{"Report", "Matrix", -1, -1, "6300"}, HelpCase{"Report", "TreeGraph", -1, 1, "6650"},
                      HelpCase{"Report", "TreeGraph", -1, 0, "6600"}, HelpCase{"Report", "", -1, -1, "0000"}));

TEST_F(ShellTest, TheManualStartsTheHelpProgramWithItsContextAndAMissingOneIsIgnored) {
    ASSERT_TRUE(Start());
    Tool("mnuHelpManual")->trigger();  // no program yet: nothing happens, nothing is said
    EXPECT_TRUE(dialogs.Messages().empty());

    const QString record = QString::fromStdString(dir.File("help-args.txt"));
    QFile script(QString::fromStdString(dir.File("TESSHELP")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho \"$@\" > '" + record + "'\n").toUtf8());
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    Main().Frame()->SetActivePanel("Report");
    Main().Frame()->SetActivePanel("TreeGraph");
    app::Globals().gTreeMode = 1;
    Tool("mnuHelpManual")->trigger();
    QFile out(record);
    for (int i = 0; i < 50 && !out.exists(); ++i) QThread::msleep(50);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll().trimmed(), "6650");
}

TEST_F(ShellTest, AnotherActiveWindowGivesItsOwnContext) {
    ASSERT_TRUE(Start());
    QString seen;
    QTimer::singleShot(0, [&] {
        auto* pref = qobject_cast<FPref*>(QApplication::activeModalWidget());
        if (pref) {
            pref->activateWindow();
            QCoreApplication::processEvents();
            seen = MTessary::HelpContext();
            pref->cmdCancel_Click();
        }
    });
    MTessary::EditPreferences();
    EXPECT_EQ(seen, QString::number(FPref::kHelpContextId));
}
