// Opening projects: the sample from any working folder, the project check,
// relinking a data file that moved into the program's data folder, the
// upgrade of older projects, and the small routines the open and new roads
// share (connect texts, table probe, Config writer, proposed names).
#include "RoadFixture.h"

#include "AppGlobals.h"
#include "CDataDef.h"
#include "CProject.h"
#include "Confined.h"
#include "IntegrityCheck.h"
#include "ErrorGuard.h"
#include "OldFolding.h"
#include "StockShell.h"

#include <chrono>
#include <fstream>
#include <vector>

using namespace shelltest;

namespace {

class ProjectOpen : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(Start());
    }
    bool Open(const std::string& path) {
        MTessary::LoadProject(QString::fromStdString(path));
        return app::Globals().gProject != nullptr;
    }
    void Close() { MTessary::MenuCommand(QStringLiteral("mnuFileClose")); }
};

TEST_F(ProjectOpen, TheSampleOpensFromAnyWorkingFolder) {
    const std::string path = CopySample("elsewhere");
    // The working folder (cwd) holds no iris.mdb: the relative link names the project's folder.
    ASSERT_FALSE(std::filesystem::exists(dir.File("cwd/iris.mdb")));
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(Main().windowTitle(), "Tessary - [iris.txp]");
    EXPECT_EQ(app::Globals().gDataDef->FieldCount(), 6);
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(ConfigOf(path, "DataSourceName"), "iris.mdb") << "nothing was relinked";
    EXPECT_TRUE(Tool("mnuFileClose")->isEnabled());
    EXPECT_FALSE(Tool("mnuFileImport")->isEnabled());
    // Opening another project closes this one first; cancelling the dialog leaves none open.
    MTessary::LoadProject(QString());
    EXPECT_FALSE(app::Globals().gProject);
    EXPECT_FALSE(Tool("mnuViewBrowseAll")->isEnabled());
    EXPECT_FALSE(Tool("mnuFileClose")->isEnabled());
    EXPECT_TRUE(Tool("mnuFileImport")->isEnabled());
}

TEST_F(ProjectOpen, AMovedDataFileIsRelinkedFromTheDataFolderOnce) {
    const std::string path = CopySample("moved");
    std::filesystem::create_directories(dir.Path() / "data");
    std::filesystem::rename(dir.File("moved/iris.mdb"), dir.File("data/iris.mdb"));
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(ConfigOf(path, "DataSourceName"), dir.File("data/iris.mdb"));
    EXPECT_EQ(app::Globals().gProject->GetConfig("RecordCount"), "150");
    Close();
    // The next open finds it directly, and the rows read through the new link.
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(dialogs.Messages().empty());
    DatabasePtr db = app::Globals().gProject->OpenProject(false);
    auto rs = db->OpenRecordset("SELECT COUNT(*) FROM LinkDataSource", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), 150);
    rs->Close();
    db.reset();
    Close();

    // Missing from both places: the stored path is reported and nothing stays open.
    std::filesystem::remove(dir.File("data/iris.mdb"));
    EXPECT_FALSE(Open(path));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Project Open Error");
    EXPECT_EQ(dialogs.Messages()[0].text, "Cannot Locate Database File: \n" + QString::fromStdString(dir.File("data/iris.mdb")));
    EXPECT_EQ(dialogs.Messages()[0].icon, ui::Icon::Exclamation);
    EXPECT_EQ(Main().windowTitle(), "Tessary");
    EXPECT_FALSE(Tool("mnuFileClose")->isEnabled());
}

TEST_F(ProjectOpen, AWindowsPathIsLookedUpByItsFileNameInTheDataFolder) {
    const std::string path = CopySample("win");
    std::filesystem::remove(dir.File("win/iris.mdb"));
    std::filesystem::create_directories(dir.Path() / "data");
    std::filesystem::copy_file(SamplesDir() + "/iris.mdb", dir.File("data/iris.mdb"));
    const std::string stored = "C:\\Old Place\\iris.mdb";
    Sql(path, "UPDATE MSysLinks SET Connect=';DATABASE=" + stored + "';UPDATE Config SET sValue='" + stored +
                  "' WHERE Property='DataSourceName'");
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(ConfigOf(path, "DataSourceName"), dir.File("data/iris.mdb"));
}

TEST_F(ProjectOpen, TheProjectCheckRefusesWithOneMessage) {
    // The stored data source must name the link's file exactly: names that differ in case are two files.
    const std::string other = CopySample("other");
    const std::pair<std::string, bool> stored[] = {
        {"iris.mdb", true}, {"IRIS.MDB", false}, {"Iris.mdb", false}, {"flowers.mdb", false}};
    for (const auto& [name, same] : stored) {
        Sql(other, "UPDATE Config SET sValue='" + name + "' WHERE Property='DataSourceName'");
        EXPECT_EQ(MTessary::IsProjectFile(QString::fromStdString(other)).project, same) << name;
    }
    EXPECT_FALSE(Open(other));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Open Project Failed");
    EXPECT_EQ(dialogs.Messages()[0].text,
              "Invalid or corrupt project file. '" + QString::fromStdString(other) + "'.");
    EXPECT_EQ(dialogs.Messages()[0].icon, ui::Icon::Critical);
    dialogs.Clear();
    // A file that is no database at all: still exactly one message.
    const std::string junk = dir.File("junk.txp");
    std::ofstream(junk) << "not a database";
    EXPECT_FALSE(Open(junk));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Open Project Failed");
    dialogs.Clear();
    // Without its Config row, or without the link table.
    const std::string noRow = CopySample("norow");
    Sql(noRow, "DELETE FROM Config WHERE Property='DataSourceName'");
    EXPECT_FALSE(MTessary::IsProjectFile(QString::fromStdString(noRow)));
    const std::string noLink = CopySample("nolink");
    Sql(noLink, "DELETE FROM MSysLinks");
    EXPECT_FALSE(MTessary::IsProjectFile(QString::fromStdString(noLink)));
    EXPECT_FALSE(MTessary::RelinkDataSource(QString::fromStdString(noLink)));
    EXPECT_TRUE(dialogs.Messages().empty()) << "the checks themselves say nothing";
    // An ODBC link: the data-source names compare, a DSN at the end of the text included.
    Sql(noRow, "UPDATE MSysLinks SET Connect='ODBC;DSN=flowers';"
               "INSERT INTO Config VALUES ('DataSourceName', 'ODBC;UID=x;DSN=Flowers;PWD=y')");
    EXPECT_TRUE(MTessary::IsProjectFile(QString::fromStdString(noRow)));
}

// A project whose settings' text index another build wrote out of order, in
// part or wholly reversed, opens, and the index is rebuilt.
TEST_F(ProjectOpen, ATextIndexOutOfOrderIsRebuiltOnOpening) {
    for (auto* order : {&testsupport::UseOldNocase, &testsupport::UseReversedNocase}) {
        const std::string path = CopySample(order == &testsupport::UseOldNocase ? "part" : "reversed");
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
        order(raw);
        // "_" sorts before the letters, and after them in the old order.
        ASSERT_EQ(sqlite3_exec(raw, "INSERT INTO Config VALUES ('_Note', 'x'); REINDEX;", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
        ASSERT_NE(testsupport::IntegrityCheck(path), "ok");
        ASSERT_TRUE(Open(path));
        EXPECT_TRUE(dialogs.Messages().empty());
        EXPECT_EQ(app::Globals().gProject->GetConfig("_NOTE"), "x");
        Close();
        EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
    }
}

// The same project looked at where it cannot be written, or while another
// program holds a write transaction on it: the project check reads it at
// once and writes nothing; the next open to write rebuilds the index.
TEST_F(ProjectOpen, ATextIndexOutOfOrderIsReadWithoutWriting) {
    const std::string path = CopySample("looked");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    testsupport::UseReversedNocase(raw);
    ASSERT_EQ(sqlite3_exec(raw, "INSERT INTO Config VALUES ('_Note', 'x'); REINDEX;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    ASSERT_NE(testsupport::IntegrityCheck(path), "ok");
    const std::string folder = std::filesystem::path(path).parent_path().string(), view = dir.File("view");
    std::filesystem::create_directories(view);
    const auto check = [](const std::string& file) {
        const auto c = MTessary::IsProjectFile(QString::fromStdString(file));
        return c ? std::string("project") : "no project, error " + std::to_string(c.error.number);
    };
    const std::string mounted = testsupport::InChildText([&]() -> std::string {
        const std::string why = testsupport::BindReadOnly(folder, view);
        return why.empty() ? check(view + "/" + std::filesystem::path(path).filename().string()) : "skip: " + why;
    });
    if (mounted.rfind("skip: ", 0) != 0) {
        EXPECT_EQ(mounted, "project") << "through a read-only bind mount";
    }
    std::filesystem::permissions(path, std::filesystem::perms(0444));
    std::filesystem::permissions(folder, std::filesystem::perms(0555));
    const std::string unprivileged = testsupport::InChildText([&]() -> std::string {
        const std::string why = testsupport::BecomeNobody();
        return why.empty() ? check(path) : "skip: " + why;
    });
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    std::filesystem::permissions(path, std::filesystem::perms(0644));
    if (unprivileged.rfind("skip: ", 0) != 0) {
        EXPECT_EQ(unprivileged, "project") << "as an unprivileged user";
    }
    if (!testsupport::StockShell::Path().empty()) {
        testsupport::StockShell::Session writer(path);
        ASSERT_EQ(writer.Run("begin immediate; insert into Config values ('_Other', 'y')"), "");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(check(path), "project") << "while another program writes";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(writer.Run("commit"), "");
    }
    EXPECT_NE(testsupport::IntegrityCheck(path), "ok") << "the check wrote nothing";
    for (const auto& f : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        EXPECT_NE(f.path().filename().string().rfind("tessary-settings-" + std::to_string(::getpid()), 0), 0u)
            << f.path() << " was left behind";
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(app::Globals().gProject->GetConfig("_OTHER"), "y");
    Close();
    EXPECT_EQ(testsupport::IntegrityCheck(path), "ok");
}

// A link named like a table of the project's own is refused with one box
// naming it, before the relink or the upgrade writes a byte to the project.
TEST_F(ProjectOpen, DamagedOwnTablesAreRefusedBeforeAnythingIsWritten) {
    const std::string other = dir.File("other.db");
    Sql(other, "CREATE TABLE Victim (MainPrimaryKey INTEGER PRIMARY KEY, Mark SHORT); INSERT INTO Victim VALUES (1, 0);");
    // An older version whose data file moved: the upgrade and the relink would both write.
    const std::string path = CopySample("bad");
    std::filesystem::create_directories(dir.Path() / "data");
    std::filesystem::rename(dir.File("bad/iris.mdb"), dir.File("data/iris.mdb"));
    Sql(path, "INSERT INTO MSysLinks VALUES ('Test', ';DATABASE=" + other + "', 'Victim', 0);"
              "UPDATE Config SET sValue='0' WHERE Property='VersionMinor';");
    const auto bytes = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes();
    const auto time = std::filesystem::last_write_time(path);
    EXPECT_FALSE(Open(path));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Project Read Failed");
    EXPECT_EQ(dialogs.Messages()[0].text,
              QString::fromStdString("Project file: " + path + " cannot be opened.\nThe table Test is a link to Victim in " +
                                     other + ", but it must be the project's own table."));
    EXPECT_EQ(dialogs.Messages()[0].icon, ui::Icon::Critical);
    EXPECT_TRUE(bytes() == before && std::filesystem::last_write_time(path) == time);
    EXPECT_EQ(Count(other, "SELECT COUNT(*) FROM Victim WHERE Mark = 0"), 1);
}

TEST_F(ProjectOpen, OlderProjectsAreUpgradedOnce) {
    struct Case {
        const char* major;
        const char* minor;
        const char* revision;
        bool upgraded;
    };
    const Case cases[] = {{"2", "0", "50", true}, {"2", "1", "0", false}, {"1", "5", "0", true}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.major) + "." + c.minor + "." + c.revision);
        const std::string path = CopySample("up" + std::to_string(++n));
        Sql(path, std::string("UPDATE Config SET sValue='") + c.major + "' WHERE Property='VersionMajor';" +
                      "UPDATE Config SET sValue='" + c.minor + "' WHERE Property='VersionMinor';" +
                      "UPDATE Config SET sValue='" + c.revision + "' WHERE Property='VersionRevision';" +
                      "UPDATE Config SET sValue='5' WHERE Property='LastState';" +
                      "INSERT INTO Config VALUES ('PruneRate', '40');");
        ASSERT_TRUE(Open(path));
        Close();
        EXPECT_EQ(ConfigOf(path, "LastState"), c.upgraded ? "3" : "5");
        EXPECT_EQ(ConfigOf(path, "PruneRate"), c.upgraded ? "75" : "40");
        EXPECT_EQ(ConfigOf(path, "MinItems"), c.upgraded ? "2" : "<none>");
        EXPECT_EQ(ConfigOf(path, "VersionMinor"), c.upgraded ? "1" : c.minor);
        // Once: the next open leaves the user's later work alone.
        Sql(path, "UPDATE Config SET sValue='5' WHERE Property='LastState'");
        ASSERT_TRUE(Open(path));
        Close();
        EXPECT_EQ(ConfigOf(path, "LastState"), "5");
        EXPECT_EQ(ConfigOf(path, "VersionMajor"), "2");
    }
}

// A project an earlier version made under its other comparison of text is
// told once, when it holds values that the two comparisons tell apart.
TEST_F(ProjectOpen, AProjectOfTheEarlierTextComparisonIsToldOnce) {
    for (const bool signs : {true, false}) {
        SCOPED_TRACE(signs ? "values with signs" : "plain values");
        const std::string path = CopySample(signs ? "signs" : "plain");
        Sql(path, std::string("PRAGMA user_version = 2;") + (signs ? "UPDATE DValues_5 SET DValues = '_' || DValues;" : ""));
        dialogs.calls.clear();
        ASSERT_TRUE(Open(path));
        Close();
        ASSERT_EQ(dialogs.Messages().size(), signs ? 1u : 0u);
        if (signs) {
            EXPECT_EQ(dialogs.Messages()[0].title, "Project Upgrade");
            EXPECT_NE(dialogs.Messages()[0].text.indexOf(QStringLiteral("make the project again")), -1);
        }
        ASSERT_TRUE(Open(path));
        Close();
        EXPECT_EQ(dialogs.Messages().size(), signs ? 1u : 0u) << "told once";
    }
}

TEST_F(ProjectOpen, AProjectOfANewerVersionIsRefusedSayingSo) {
    const std::string path = CopySample("newer");
    Sql(path, "PRAGMA application_id = 1415073841; PRAGMA user_version = 4;");
    std::ifstream in(path, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(Open(path));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "Project Open Failed");
    EXPECT_NE(dialogs.Messages()[0].text.indexOf(QStringLiteral("newer version")), -1)
        << dialogs.Messages()[0].text.toStdString();
    std::ifstream again(path, std::ios::binary);
    EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()) == before)
        << "the file was changed";
}

TEST_F(ProjectOpen, ConnectTextsTableProbeAndConfigWriter) {
    EXPECT_EQ(MMenu::OdbcDatabaseName(";DATABASE=/data/iris.mdb"), "/data/iris.mdb");
    EXPECT_EQ(MMenu::OdbcDatabaseName(";database=/data/iris.mdb;PWD=x"), "/data/iris.mdb");
    EXPECT_EQ(MMenu::OdbcDatabaseName("ODBC;DSN=x;DATABASE=y"), "ODBC;DSN=x;DATABASE=y");
    EXPECT_EQ(MMenu::OdbcDatabaseName("odbc;DSN=x"), "") << "the ODBC marker is case-exact";
    EXPECT_EQ(MMenu::OdbcDatabaseName(";PWD=x"), "");

    const std::string path = CopySample("probe");
    const QString data = QString::fromStdString(dir.File("probe/iris.mdb"));
    // The probe shows no box, but each failure it drops leaves a trace.
    std::vector<base::RecordedError> dropped;
    base::RecordSink previous = base::SetRecordSink([&](const base::RecordedError& s) { dropped.push_back(s); });
    EXPECT_TRUE(MMenu::TableRecordCount(data, "iris"));
    EXPECT_TRUE(dropped.empty());
    EXPECT_FALSE(MMenu::TableRecordCount(data, "nothing"));
    EXPECT_FALSE(MMenu::TableRecordCount(data, "bad]name"));
    EXPECT_FALSE(MMenu::TableRecordCount(data + ".gone", "iris"));
    base::SetRecordSink(std::move(previous));
    EXPECT_TRUE(dialogs.Messages().empty());
    ASSERT_EQ(dropped.size(), 3u);
    EXPECT_EQ(dropped[0].where, "MMenu::TableRecordCount");
    EXPECT_EQ(dropped[0].number, 3078) << dropped[0].description;  // no such table
    EXPECT_NE(dropped[0].description.find("nothing"), std::string::npos) << dropped[0].description;
    EXPECT_EQ(dropped[2].where, "MMenu::OpenQuietly");
    EXPECT_EQ(dropped[2].number, 3024) << dropped[2].description;  // no such file
    EXPECT_NE(dropped[2].description.find("iris.mdb.gone"), std::string::npos) << dropped[2].description;

    DatabasePtr db = dao::DBEngine::OpenDatabase(path, false, false);
    MMenu::PutProperty(db, "", "x");
    MMenu::PutProperty(nullptr, "Owner", "x");
    MMenu::PutProperty(db, "Owner's", "first");
    MMenu::PutProperty(db, "Owner's", "second");
    db->Close();
    EXPECT_EQ(ConfigOf(path, "Owner's"), "second");
    EXPECT_EQ(Count(path, "SELECT COUNT(*) FROM Config WHERE Property IN ('Owner''s', '', 'Owner')"), 1);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(ProjectOpen, NewProjectNamesAndTheExtensionCheck) {
    std::filesystem::create_directories(dir.Path() / "p");
    for (const char* f : {"p/Project1.txp", "p/Project2.txp"}) std::ofstream(dir.File(f)) << "x";
    // Cancelled: the proposed name was the first free one.
    EXPECT_FALSE(MMenu::NewProject(QString::fromStdString(dir.File("p"))));
    EXPECT_EQ(dialogs.fileRequests.back().defaultName, "Project3.txp");
    EXPECT_EQ(dialogs.fileRequests.back().title, "Create New Project");

    // A folder named like a project makes no file acceptable, and nothing is deleted.
    std::filesystem::create_directories(dir.Path() / "x.txp");
    const std::string data = dir.File("x.txp/data.mdb");
    std::ofstream(data) << "precious";
    dialogs.files = {QString::fromStdString(data)};
    EXPECT_FALSE(MMenu::NewProject(QString::fromStdString(dir.File("p"))));
    EXPECT_TRUE(std::filesystem::exists(data));
    ASSERT_FALSE(dialogs.Messages().empty());
    EXPECT_EQ(dialogs.Messages()[0].text, "Unreconized file type.  A .txp file extention is required.");
    dialogs.Clear();

    // data.txp.bak passes; an existing file answered No brings the dialog back, Yes replaces it.
    const std::string bak = dir.File("p/data.txp.bak");
    std::ofstream(bak) << "old";
    dialogs.files = {QString::fromStdString(bak), QString::fromStdString(bak)};
    dialogs.answers = {ui::Answer::No, ui::Answer::Yes};
    auto project = MMenu::NewProject(QString::fromStdString(dir.File("p")));
    ASSERT_TRUE(project);
    EXPECT_EQ(project->FileName(), bak);
    EXPECT_FALSE(std::filesystem::exists(bak)) << "replaced: the new project has no file yet";
    ASSERT_EQ(dialogs.Messages().size(), 2u);
    EXPECT_EQ(dialogs.Messages()[0].text, QString::fromStdString(bak) + " exists.  Overwrite?");
    EXPECT_EQ(dialogs.Messages()[0].title, "New Project");
}

}  // namespace
