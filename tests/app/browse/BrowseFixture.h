// The sample project copied into a folder of its own, its test rows classified
// by the tree driver, and a grid panel over it, headless.
#pragma once

#include "AppServicesTesting.h"
#include "CBrowseAll.h"
#include "CBrowseGrid.h"
#include "CBrowseTest.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CSqlMachine.h"
#include "CTRX.h"
#include "MBrowseViews.h"
#include "ProjectTestSupport.h"
#include "TreeFixture.h"
#include "UGrid.h"
#include "ui/testing.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace browsetest {

using testsupport::App;

class BrowseFixture : public ::testing::Test {
protected:
    ui::ScopedRecorder dialogs;  // message boxes are recorded, none is shown
    app::ScopedFakeShell shell;
    std::string dir;
    std::shared_ptr<CProject> project = std::make_shared<CProject>();
    std::shared_ptr<CDataDef> def = std::make_shared<CDataDef>();
    std::shared_ptr<CSqlMachine> sql = std::make_shared<CSqlMachine>();
    std::unique_ptr<UGrid> grid;

    void SetUp() override {
        App();
        dir = treetest::TempDir("browse-iris");
        const char* src = std::getenv("TESSARY_SOURCE_DIR");
        const std::string samples = std::string(src ? src : ".") + "/samples";
        for (const char* f : {"iris.mdb", "iris.txp"}) {
            std::filesystem::copy_file(samples + "/" + f, dir + "/" + f);
            std::filesystem::permissions(dir + "/" + f, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        }
        project->SetFileName(dir + "/iris.txp");
        DatabasePtr db = project->OpenProject(false);
        ASSERT_TRUE(db);
        def->Load(db);
        {
            // The test step: a tree from rows 1-100, rows 101-150 classified.
            CTRX trx;
            ASSERT_TRUE(trx.Initialize(def, project.get()));
            ASSERT_TRUE(trx.LoadData(1, 100));
            ASSERT_TRUE(trx.BuildTree());
            trx.Classify(101, 150);
        }
        Exec("UPDATE Test SET Mark = -1 WHERE MainPrimaryKey IN (3, 5, 101, 120, 150);");
        sql->Initialize(def, project);
        grid = std::make_unique<UGrid>();
        grid->resize(900, 500);
        grid->SetDatabaseName(QString::fromStdString(project->FileName()));
    }

    void TearDown() override {
        grid.reset();
        project->CloseProject();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    void Exec(const std::string& s) { project->OpenProject(false)->Execute(s); }
    // The project reads its data through a link that takes no writes: the data file itself is changed.
    void ExecData(const std::string& s) { dao::DBEngine::OpenDatabase(dir + "/iris.mdb", false, false)->Execute(s); }

    // Keys of the rows an independent query gives, in key order.
    std::vector<long> Keys(const std::string& where) {
        auto rs = project->OpenProject(false)->OpenRecordset(
            "SELECT MainPrimaryKey FROM Test" + (where.empty() ? std::string() : " WHERE " + where) +
                " ORDER BY MainPrimaryKey;",
            dao::RecordsetType::Snapshot);
        std::vector<long> keys;
        for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Fields(0).AsLong());
        return keys;
    }

    // The shell's browse set-up: the SQL, then a view of the fitting kind.
    void Browse(int16_t type, bool testRange = true) {
        if (sql->BrowseType() != type || !grid->DataBrowse()) {
            sql->SetBrowseType(type);
            grid->SetDataBrowse(nullptr);
        }
        sql->SetKeyMin(type == 1 && testRange ? project->GetConfig("TestKeyMin") : "");
        sql->SetKeyMax(type == 1 && testRange ? project->GetConfig("TestKeyMax") : "");
        Show();
    }

    // Sets the record source again (filters, sorts) and binds a view when none is bound.
    void Show() {
        grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
        if (!grid->DataBrowse()) grid->SetDataBrowse(MBrowseViews::NewBrowseView(sql->BrowseType(), def, project));
    }

    CBrowseModel* Model() const { return grid->Grid()->Model(); }

    int ColumnOf(const QString& field) const {
        const auto& cols = Model()->Columns();
        for (int i = 0; i < int(cols.size()); ++i)
            if (cols[size_t(i)].dataField == field) return i;
        return -1;
    }

    // The key of every row the grid shows, in grid order.
    std::vector<long> GridKeys() {
        const int key = ColumnOf(QStringLiteral("IndexCounter1"));
        std::vector<long> keys;
        const long n = Model()->Count();
        for (int r = 0; r < n; ++r) keys.push_back(long(Model()->Value(r, key).toDouble()));
        return keys;
    }

    static std::vector<long> Sorted(std::vector<long> v) {
        std::sort(v.begin(), v.end());
        return v;
    }
};

}  // namespace browsetest
