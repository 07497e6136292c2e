// The real program on a copy of the sample project: the real result panels,
// grid and live-prediction panel, the engine and the graph control through the
// build's class store.
#pragma once

#include "ShellFixture.h"

#include "AppGlobals.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CTRX.h"
#include "FStatus.h"
#include "UAppFrame.h"

#include "../panels/results/ULink.h"
#include "../panels/results/UMatrix.h"
#include "../panels/results/UPrune.h"
#include "../panels/results/UReport.h"
#include "../panels/results/UTreeGraph.h"
#include "../browse/UGrid.h"
#include "../panels/UInteractive.h"

#include "MFileUtils.h"
#include "MdbUtils.h"
#include "NominalTable.h"
#include "TextImport.h"

#include <QPushButton>
#include <QTimer>

#include <sqlite3.h>

#include <functional>
#include <utility>
#include <vector>

namespace shelltest {

class RoadTest : public ShellTest {
protected:
    // Starts the program with its own panels and opens a copy of the sample.
    void Open() {
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (path.empty()) path = CopySample();
        app = std::make_unique<CTessaryApp>(PanelSet::Program);
        ASSERT_TRUE(MTessary::Main({QString::fromStdString(path)}));
        if (app->splash) app->splash->close();
        Main().resize(1000, 700);
        Main().show();
        ASSERT_TRUE(Globals().gProject) << "the sample did not open";
    }
    static app::AppGlobals& Globals() { return app::Globals(); }
    std::string Config(const char* name) { return Globals().gProject->GetConfig(name, "<none>"); }
    // Moves the workflow as the state machine's change event does.
    void ToState(int s) { Main().State().SetStateValue(s); }
    QString Left() { return Main().Frame()->GetActiveKeyLeft(); }
    QString Right() { return Main().Frame()->GetActiveKeyRight(); }
    QString CaptionRight() { return Main().Frame()->CaptionRight(); }
    ::UPrune& Prune() { return *static_cast<::UPrune*>(Main().Panels().prune); }
    ::UReport& ReportPanel() { return *static_cast<::UReport*>(Main().Panels().report); }
    ::UMatrix& Matrix() { return *static_cast<::UMatrix*>(Main().Panels().matrix); }
    ::UTreeGraph& TreeGraph() { return *dynamic_cast<::UTreeGraph*>(Main().Panels().treeGraph); }
    ::UGrid& GridView() { return *static_cast<::UGrid*>(Main().Panels().grid); }
    ::UInteractive& Live() { return *static_cast<::UInteractive*>(Main().Panels().interact); }
    QString Checked() {
        QString ticked;
        for (int id = 3001; id <= 3008; ++id)
            if (Tool(QString::number(id))->isChecked()) ticked += Tool(QString::number(id))->objectName();
        return ticked;
    }
    // One number from the project file, read beside the program.
    long long Count(const std::string& sql) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        long long n = -1;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        else ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
        sqlite3_finalize(st);
        sqlite3_close(db);
        return n;
    }
    void Exec(const std::string& sql) {
        if (Globals().gProject) Globals().gProject->CloseProject();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        char* err = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
        sqlite3_free(err);
        sqlite3_close(db);
    }
    // Clicks the progress window's Cancel while the step whose caption is given runs.
    void CancelDuring(const QString& caption) {
        auto* timer = new QTimer(&Main());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, caption] {
            FStatus* status = MTessary::Status();
            if (status->isVisible() && status->windowTitle() == caption) {
                status->CancelButton()->click();
                timer->deleteLater();
                timer->stop();
            }
        });
        timer->start();
    }
    // Extraction and test of the sample as the workflow runs them.
    void ToTested() {
        ToState(4);
        ASSERT_EQ(Config("LastState"), "4");
        emit Prune().NavNext();
        ASSERT_EQ(Config("LastState"), "5");
    }

    // Makes `path` a project over one table of a data file, at the row-range
    // step: `use` gives each field's use, `config` the stored settings.
    void MakeProject(const std::string& data, const std::string& table,
                     const std::function<int16_t(const std::string&)>& use,
                     const std::vector<std::pair<const char*, const char*>>& config) {
        CProject project;
        project.SetFileName(path);
        project.Create();
        project.AttachDataSource(data, table);
        DatabasePtr pdb = project.OpenProject(false);
        CDataDef dataDef;
        dataDef.Initialize(pdb, "LinkDataSource");
        dataDef.CollectStats(pdb);
        MdbUtils::CreateTestTable(project, dataDef);
        for (int16_t i = 0; i < dataDef.FieldCount(); ++i) dataDef.SetUserMatchType(i, use(dataDef.FieldName(i)));
        dataDef.Save(pdb);
        for (const auto& [k, v] : config) project.SaveConfig(k, std::string(v));
        pdb.reset();
        project.CloseProject();
    }
    // The generated nominal table imported from its text file as File > Import
    // does it, every field but the key an input and "class" the output, rows
    // 1-191 training and 192-286 test.
    void MakeNominalProject() {
        const std::string csv = dir.File("nominal.csv");
        ASSERT_TRUE(testsupport::NominalTable::Write(csv));
        MakeImportedProject(csv, "class", MatchType::Text, 286, 191);
    }
    // The text file imported as File > Import does it, made the project `path`
    // beside it: the key the import adds not used, `output` the output, every
    // other field an input of type `inputs`; rows up to trainHigh training.
    void MakeImportedProject(const std::string& csv, const std::string& output, int16_t inputs, int rows,
                             int trainHigh) {
        ASSERT_TRUE(MdbUtils::LoadTextFile(csv));
        const std::string table = MFileUtils::GetFileBase(csv);
        path = MFileUtils::GetFileDir(csv) + table + ".txp";
        const std::string count = std::to_string(rows), high = std::to_string(trainHigh),
                          low = std::to_string(trainHigh + 1);
        MakeProject(MdbUtils::ImportDatabasePath(csv), table,
                    [&](const std::string& name) {
                        return name == output            ? MatchType::Output
                               : name == "IndexCounter1" ? MatchType::NotUsed
                                                         : inputs;
                    },
                    {{"RecordCount", count.c_str()}, {"TrainLow", "1"}, {"TrainHigh", high.c_str()},
                     {"TestLow", low.c_str()}, {"TestHigh", count.c_str()}, {"LastState", "3"}, {"PruneRate", "10"},
                     {"MinItems", "2"}});
    }

    std::string path;
};

}  // namespace shelltest
