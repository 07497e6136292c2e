// The sample project under samples/ is made by the program's own code from
// samples/iris.csv: the text import, then the project steps up to the row
// ranges. This test makes it again and compares the content with what is
// committed, so the two cannot drift apart. Run with TESSARY_REGENERATE_SAMPLES=1
// to write the files in samples/ instead.
#include "CDataDef.h"
#include "CProject.h"
#include "MdbUtils.h"
#include "TextImport.h"
#include "ui/testing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* kInputs[] = {"SepalLength", "SepalWidth", "PetalLength", "PetalWidth"};

std::string SamplesDir() {
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    return std::string(src ? src : ".") + "/samples";
}

// The steps of the workflow from the table panel to the row-range panel, as
// the shell runs them. The data source is named relative to the project's
// folder, so that the sample works wherever the repository lies.
void BuildSample(const std::string& folder) {
    ui::ScopedRecorder dialogs;
    dialogs.answers.push_back(ui::Answer::Yes);  // replace an older database
    const std::string csv = folder + "/iris.csv";
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << dialogs.Messages().back().text.toStdString();
    ASSERT_TRUE(fs::exists(folder + "/iris.mdb"));
    const std::string txp = folder + "/iris.txp";
    fs::remove(txp);

    // Linked tables name their file relative to the project's folder.
    const std::string source = "iris.mdb";
    CProject project;
    project.SetFileName(txp);
    project.SaveConfig("DatabaseName", source);  // table step
    project.SaveConfig("TableName", "iris");

    project.Create();  // statistics step
    project.AttachDataSource(source, "iris");
    DatabasePtr db = project.OpenProject(false);
    ASSERT_TRUE(db);
    CDataDef def;
    def.Initialize(db, "LinkDataSource");
    def.CollectStats(db);
    ASSERT_TRUE(def.InitDone());
    MdbUtils::CreateTestTable(project, def);
    def.Save(db);
    project.SaveConfig("RecordCount", def.RecordCount());
    project.SaveConfig("LastState", 2);

    for (int16_t i = 0; i < def.FieldCount(); ++i) {  // field step
        const std::string& name = def.FieldName(i);
        if (name == "Species") def.SetUserMatchType(i, MatchType::Output);
        else if (std::find(std::begin(kInputs), std::end(kInputs), name) != std::end(kInputs))
            def.SetUserMatchType(i, MatchType::Numeric);
    }
    def.Save(project.OpenProject(false));
    project.SaveConfig("LastState", 3);

    project.SaveConfig("TrainLow", 1);  // row-range step
    project.SaveConfig("TrainHigh", 100);
    project.SaveConfig("TestLow", 101);
    project.SaveConfig("TestHigh", 150);
    project.CloseProject();
    ASSERT_TRUE(dialogs.Messages().size() <= 1u) << dialogs.Messages().back().text.toStdString();
}

std::string ValueText(const com::Variant& v) {
    if (v.vt == VT_R4 || v.vt == VT_R8) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d:%.12g", int(v.vt), v.vt == VT_R4 ? double(v.fltVal) : v.dblVal);
        return buf;
    }
    return std::to_string(v.vt) + ":" + (v.IsNull() ? std::string("Null") : dao::VarToString(v));
}

// Schema and rows of every table of a database, one line per item, paths left out.
std::vector<std::string> Dump(const std::string& path) {
    std::vector<std::string> out;
    auto db = dao::DBEngine::OpenDatabase(path, false, true);
    std::vector<std::string> tables;
    for (auto td : db->TableDefs())
        if (!(td.Attributes() & dao::dbSystemObject)) tables.push_back(td.Name());
    std::sort(tables.begin(), tables.end());
    for (const auto& name : tables) {
        auto td = db->TableDefs()[name];
        out.push_back("table " + name + " source " + td.SourceTableName() + " link " +
                      (td.Connect().empty() ? "no" : fs::path(td.Connect().substr(td.Connect().find('=') + 1)).filename().string()));
        for (auto f : td.Fields())
            out.push_back("  field " + f.Name() + " " + std::to_string(f.Type()) + " " + std::to_string(f.Size()) + " " +
                          std::to_string(f.Attributes() & dao::dbAutoIncrField));
        if (!td.Connect().empty()) continue;
        for (auto ix : td.Indexes()) {
            std::string line = "  index " + ix.Name() + (ix.Primary() ? " primary" : "") + (ix.Unique() ? " unique" : "");
            for (auto f : ix.Fields()) line += " " + f.Name();
            out.push_back(line);
        }
        auto rs = db->OpenRecordset("SELECT * FROM [" + name + "] ORDER BY 1", dao::RecordsetType::Snapshot);
        for (; !rs->Eof(); rs->MoveNext()) {
            std::string row = "  row";
            const bool config = name == "Config";
            for (int k = 0; k < rs->Fields().Count(); ++k) {
                // The data source is a path: its file name is what must agree.
                if (config && k == 1) {
                    std::string prop = rs->Fields(0).AsString();
                    if (prop == "DataSourceName" || prop == "DatabaseName") {
                        row += " " + fs::path(rs->Fields(1).AsString()).filename().string();
                        continue;
                    }
                }
                row += " " + ValueText(rs->Fields(k).Value());
            }
            out.push_back(row);
        }
    }
    return out;
}

// The committed files are only read through copies, so that no test touches them
// (and tests running side by side do not meet in them).
std::string CopyOfSamples(const QTemporaryDir& dir) {
    const std::string folder = dir.path().toStdString() + "/committed";
    fs::create_directory(folder);
    for (const char* f : {"iris.csv", "iris.mdb", "iris.txp"}) {
        fs::copy_file(SamplesDir() + "/" + f, folder + "/" + f);
        fs::permissions(folder + "/" + f, fs::perms::owner_write, fs::perm_options::add);
    }
    return folder;
}

std::string Config(const std::string& txp, const std::string& property) {
    CProject p;
    p.SetFileName(txp);
    return p.GetConfig(property, "<none>");
}

}  // namespace

TEST(SampleProject, RebuildsToWhatIsCommitted) {
    const std::string samples = SamplesDir();
    if (std::getenv("TESSARY_REGENERATE_SAMPLES")) {
        BuildSample(samples);
        ASSERT_FALSE(HasFatalFailure());
        GTEST_SKIP() << "written into " << samples;
    }
    QTemporaryDir dir;
    const std::string committed = CopyOfSamples(dir);
    const std::string folder = dir.path().toStdString();
    fs::copy_file(samples + "/iris.csv", folder + "/iris.csv");
    BuildSample(folder);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(Dump(folder + "/iris.mdb"), Dump(committed + "/iris.mdb"));
    EXPECT_EQ(Dump(folder + "/iris.txp"), Dump(committed + "/iris.txp"));
}

TEST(SampleProject, HoldsTheIrisDataAndTheRowRanges) {
    QTemporaryDir dir;
    const std::string samples = CopyOfSamples(dir);
    // 150 rows of four measurements and the species.
    auto db = dao::DBEngine::OpenDatabase(samples + "/iris.mdb", false, true);
    auto rs = db->OpenRecordset("SELECT Count(*), Min(IndexCounter1), Max(IndexCounter1) FROM iris",
                                dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 150);
    EXPECT_EQ(rs->Fields(1).AsLong(), 1);
    EXPECT_EQ(rs->Fields(2).AsLong(), 150);
    auto td = db->TableDefs()["iris"];
    for (const char* f : kInputs) EXPECT_EQ(td.Fields()[f].Type(), dao::dbSingle) << f;
    EXPECT_EQ(td.Fields()["Species"].Type(), dao::dbText);

    const std::string txp = samples + "/iris.txp";
    EXPECT_EQ(Config(txp, "ProjectType"), "Tessary");
    EXPECT_EQ(Config(txp, "TableName"), "iris");
    EXPECT_EQ(Config(txp, "RecordCount"), "150");
    EXPECT_EQ(Config(txp, "LastState"), "3");
    EXPECT_EQ(Config(txp, "TrainLow"), "1");
    EXPECT_EQ(Config(txp, "TrainHigh"), "100");
    EXPECT_EQ(Config(txp, "TestLow"), "101");
    EXPECT_EQ(Config(txp, "TestHigh"), "150");

    CProject project;
    project.Initialize(txp);
    ASSERT_EQ(project.FileName(), txp);
    CDataDef def;
    def.Load(project.OpenProject(false));
    ASSERT_TRUE(def.InitDone());
    ASSERT_EQ(def.FieldCount(), 6);
    EXPECT_EQ(def.FieldName(def.PrimaryKeyField()), "IndexCounter1");
    for (int16_t i = 0; i < def.FieldCount(); ++i) {
        const std::string& name = def.FieldName(i);
        int16_t expected = name == "Species" ? MatchType::Output : name == "IndexCounter1" ? MatchType::NotUsed
                                                                                          : MatchType::Numeric;
        EXPECT_EQ(def.UserMatchType(i), expected) << name;
        if (name == "Species") {
            EXPECT_EQ(def.MaxClass(i), 3);
        }
    }
    project.CloseProject();
}

TEST(SampleProject, OpensFromAnyWorkingFolderAndAnyPlace) {
    // A copy elsewhere, opened from yet another working folder, still reaches its data.
    QTemporaryDir elsewhere, cwd;
    const std::string folder = CopyOfSamples(elsewhere);
    const fs::path old = fs::current_path();
    fs::current_path(cwd.path().toStdString());
    long rows = -1;
    try {
        auto db = dao::DBEngine::OpenDatabase(folder + "/iris.txp");
        auto rs = db->OpenRecordset("SELECT Count(*) FROM LinkDataSource INNER JOIN Test ON "
                                    "LinkDataSource.IndexCounter1 = Test.MainPrimaryKey",
                                    dao::RecordsetType::Snapshot);
        rows = rs->Fields(0).AsLong();
    } catch (const dao::DaoError& e) {
        ADD_FAILURE() << e.Number() << " " << e.Description();
    }
    fs::current_path(old);
    EXPECT_EQ(rows, 150);
}
