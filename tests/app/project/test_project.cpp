#include "CProject.h"
#include "ProjectTestSupport.h"

#include "ui/testing.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace {

class ProjectTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ui::ScopedRecorder boxes;

    std::string NewProject(const std::string& name = "p.txp") {
        const std::string path = dir.File(name);
        CProject p;
        p.Create(path);
        return path;
    }

    // A user's data file with one table keyed by an auto-number.
    std::string MakeData(const std::string& name = "data.db") {
        const std::string path = dir.File(name);
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute("CREATE TABLE People (ID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Name TEXT(50), Age LONG);");
        db->Execute("INSERT INTO People (Name, Age) VALUES ('Ann', 31);");
        db->Execute("INSERT INTO People (Name, Age) VALUES ('O''Hara', 47);");
        db->Execute("INSERT INTO People (Name, Age) VALUES ('Bo', Null);");
        db->Execute("CREATE TABLE Towns (Code TEXT(5) CONSTRAINT PrimaryKey PRIMARY KEY, Town TEXT(50));");
        db->Execute("INSERT INTO Towns VALUES ('A1', 'Arden');");
        db->Close();
        return path;
    }

    // Writes Config rows straight into a new file, as another program might.
    std::string MakeConfigFile(const std::string& name, const std::vector<std::pair<std::string, std::string>>& rows) {
        const std::string path = dir.File(name);
        auto db = dao::DBEngine::CreateDatabase(path, dao::dbLangGeneral);
        db->Execute(
            "CREATE TABLE Config (Property Text(255) CONSTRAINT PrimaryKey PRIMARY KEY, sValue Text(255) );");
        for (auto& [k, v] : rows)
            db->Execute("INSERT INTO Config (Property, sValue) VALUES ('" + k + "', '" + v + "');");
        db->Close();
        return path;
    }

    const ui::RecordingHandler::Call& OnlyBox() {
        EXPECT_EQ(boxes.calls.size(), 1u);
        static ui::RecordingHandler::Call none;
        return boxes.calls.empty() ? none : boxes.calls.back();
    }
};

// --- settings before and after the file exists --------------------------------

TEST_F(ProjectTest, PendingSettingsAreWrittenByCreateLastOneWins) {
    CProject p;
    const std::string path = dir.File("new.txp");
    p.SetFileName(path);
    p.SaveConfig("TableName", "First");
    p.SaveConfig("TableName", "Second");
    p.SaveConfig("PruneRate", 75);
    EXPECT_EQ(p.PendingCount(), 3);
    // Before the file exists GetConfig already answers what the file will hold.
    EXPECT_EQ(p.GetConfig("TableName"), "Second");
    EXPECT_EQ(p.GetConfig("tablename", "none"), "none");  // pending names match exactly
    EXPECT_EQ(p.GetConfig("PruneRate"), "75");
    p.Create();
    EXPECT_EQ(p.PendingCount(), 0);
    EXPECT_EQ(p.GetConfig("TableName"), "Second");
    EXPECT_EQ(p.GetConfig("ProjectType"), "Tessary");
    EXPECT_EQ(p.GetConfig("VersionMajor"), "2");
    EXPECT_EQ(p.GetConfig("VersionMinor"), "1");
    EXPECT_EQ(p.GetConfig("VersionRevision"), "16");
    EXPECT_EQ(p.GetConfig("PruneRate"), "75");
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, MissingSettingsGiveTheDefault) {
    const std::string path = NewProject();
    CProject p;
    p.SetFileName(path);
    EXPECT_EQ(p.GetConfig("NoSuch"), "");
    EXPECT_EQ(p.GetConfig("NoSuch", "7"), "7");
    EXPECT_EQ(p.GetConfig("projecttype"), "Tessary");  // the table compares without case
    // A database without Config answers the default for everything.
    const std::string bare = dir.File("bare.db");
    dao::DBEngine::CreateDatabase(bare, dao::dbLangGeneral)->Close();
    CProject q;
    q.SetFileName(bare);
    EXPECT_EQ(q.GetConfig("ProjectType", "x"), "x");
    // The first save makes Config with its exact columns.
    q.SaveConfig("LastState", 3);
    EXPECT_EQ(q.GetConfig("LastState"), "3");
    auto db = dao::DBEngine::OpenDatabase(bare, false, true);
    auto& fields = db->TableDefs()["Config"].Fields();
    ASSERT_EQ(fields.Count(), 2);
    EXPECT_EQ(fields[0].Name(), "Property");
    EXPECT_EQ(fields[1].Name(), "sValue");
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, ValuesOfAnyScalarTypeAreStoredAsTextAndReplaced) {
    CProject p;
    p.Create(dir.File("v.txp"));
    p.SaveConfig("A", 1.5);
    p.SaveConfig("B", true);
    p.SaveConfig("C", int16_t(-2));
    p.SaveConfig("A", "changed");
    EXPECT_EQ(p.GetConfig("A"), "changed");
    EXPECT_EQ(p.GetConfig("B"), "True");
    EXPECT_EQ(p.GetConfig("C"), "-2");
    // A single keeps the value the user chose, not its double expansion.
    p.SaveConfig("PruneRate", 33.3f);
    EXPECT_EQ(p.GetConfig("PruneRate"), "33.3");
    p.SaveConfig("Tiny", 1.0e-7f);
    EXPECT_EQ(p.GetConfig("Tiny"), "1E-07");
    auto db = p.OpenProject(false);
    auto rs = db->OpenRecordset("SELECT Count(*) FROM Config WHERE Property = 'A';");
    EXPECT_EQ(rs->Fields(0).AsLong(), 1);
}

TEST_F(ProjectTest, QuotesInPropertyNamesAndValues) {
    CProject p;
    p.Create(dir.File("q.txp"));
    p.SaveConfig("O'Brien's", "it's");
    p.SaveConfig("x' OR '1'='1", "inject");
    EXPECT_EQ(p.GetConfig("O'Brien's"), "it's");
    EXPECT_EQ(p.GetConfig("x' OR '1'='1"), "inject");
    EXPECT_EQ(p.GetConfig("ProjectType"), "Tessary");  // not overwritten by the odd name
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, SettingsWhileOpenUseTheOpenConnection) {
    CProject p;
    p.Create(dir.File("o.txp"));
    auto db = p.OpenProject(false);
    ASSERT_TRUE(db);
    EXPECT_TRUE(p.IsOpen());
    p.SaveConfig("LastState", "4");
    EXPECT_EQ(p.GetConfig("LastState"), "4");
    auto rs = db->OpenRecordset("SELECT sValue FROM Config WHERE Property = 'LastState';");
    EXPECT_EQ(rs->Fields(0).AsString(), "4");
    p.CloseProject();
    EXPECT_FALSE(p.IsOpen());
    EXPECT_EQ(p.CurrentDatabase(), nullptr);
    EXPECT_EQ(p.GetConfig("LastState"), "4");
}

// --- validation of an existing file ----------------------------------------

TEST_F(ProjectTest, ValidProjectKeepsItsName) {
    const std::string path = NewProject();
    CProject p;
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), path);
    EXPECT_TRUE(boxes.calls.empty());
    // Initialize with no name and none set does nothing.
    CProject q;
    q.Initialize();
    EXPECT_EQ(q.FileName(), "");
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, OldVersionIsRefused) {
    const std::string path = MakeConfigFile(
        "old.txp", {{"ProjectType", "Tessary"}, {"VersionMajor", "0"}, {"VersionMinor", "99"}, {"VersionRevision", "99"}});
    CProject p;
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), "");
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "Project Read Unsucessful");
    EXPECT_EQ(box.icon, ui::Icon::Critical);
    EXPECT_EQ(box.text.toStdString(), path + " is not a valid project.");
}

TEST_F(ProjectTest, VersionOneIsAccepted) {
    const std::string path = MakeConfigFile(
        "v1.txp", {{"ProjectType", "Tessary"}, {"VersionMajor", "1"}, {"VersionMinor", "0"}, {"VersionRevision", "0"}});
    CProject p;
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), path);
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, OtherProjectTypeIsRefused) {
    const std::string path = MakeConfigFile(
        "other.txp", {{"ProjectType", "tessary"}, {"VersionMajor", "2"}, {"VersionMinor", "1"}, {"VersionRevision", "16"}});
    CProject p;
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), "");
    EXPECT_EQ(OnlyBox().title, "Project Read Unsucessful");
}

TEST_F(ProjectTest, NotADatabaseIsReportedAsCorrupt) {
    const std::string path = dir.File("text.txp");
    std::ofstream(path) << "Name,Age\nAnn,31\n";
    CProject p;
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), "");
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "Project Read Failed");
    EXPECT_EQ(box.icon, ui::Icon::Critical);
    EXPECT_EQ(box.text.toStdString(), path + " is not a valid project file or is corrupt.");
}

// The permission bits decide, so the case holds for root too, who could write anyway.
TEST_F(ProjectTest, ReadOnlyFileIsRefused) {
    const std::string path = NewProject();
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    CProject p;
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), "");
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "Project Open Failed");
    EXPECT_EQ(box.icon, ui::Icon::Critical);
    EXPECT_EQ(box.text.toStdString(),
              "Project file: " + path + " is read only. \nThe project must be writable to continue.");
    ::chmod(path.c_str(), 0644);
}

TEST_F(ProjectTest, FileHeldExclusivelyByAnotherProcessIsInUse) {
    const std::string path = NewProject();
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        char c = 0;
        DatabasePtr db;
        try {
            db = dao::DBEngine::OpenDatabase(path, true, false);
            db->OpenRecordset("SELECT Count(*) FROM Config;")->Fields(0).AsLong();
            c = 'y';
        } catch (...) {
            c = 'n';
        }
        if (::write(ready[1], &c, 1) != 1) ::_exit(2);
        [[maybe_unused]] auto n = ::read(release[0], &c, 1);  // hold the file until the parent is done
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    CProject p;
    p.Initialize(path);
    // A shared open of the held file is refused in the same words (3356).
    CProject shared;
    shared.SetFileName(path);
    EXPECT_EQ(shared.OpenProject(false), nullptr);
    EXPECT_FALSE(shared.IsOpen());
    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(p.FileName(), "");
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_EQ(boxes.calls[0].text, boxes.calls[1].text);
    EXPECT_EQ(boxes.calls[1].icon, boxes.calls[0].icon);
    const auto& box = boxes.calls[0];
    EXPECT_EQ(box.title, "Project Read Failed");
    EXPECT_EQ(box.icon, ui::Icon::Exclamation);
    EXPECT_EQ(box.text.toStdString(), "Project File: " + path +
                                          " is in use by another application.  Please close the other application "
                                          "before continuing.");
    // Once released it validates.
    boxes.Clear();
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), path);
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, SettingsOfAFileThatIsNotADatabase) {
    const std::string path = dir.File("notes.txp");
    std::ofstream(path) << "not a database";
    CProject p;
    p.SetFileName(path);
    p.SaveConfig("LastState", "2");
    EXPECT_EQ(p.GetConfig("LastState", "d"), "d");
    ASSERT_EQ(boxes.calls.size(), 2u);
    for (const auto& box : boxes.calls) {
        EXPECT_EQ(box.title, "Project Read Failed");
        EXPECT_EQ(box.icon, ui::Icon::Critical);
    }
    EXPECT_EQ(p.PendingCount(), 0);  // the file exists: nothing waits
}

TEST_F(ProjectTest, MissingFileIsAnOperationError) {
    CProject p;
    const std::string path = dir.File("nothing.txp");
    p.Initialize(path);
    EXPECT_EQ(p.FileName(), "");
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "Project Operation Failed");
    EXPECT_EQ(box.icon, ui::Icon::Exclamation);
    EXPECT_EQ(box.text, "Project file operation error #3024.");
}

// --- connections ---------------------------------------------------------------

TEST_F(ProjectTest, OpenProjectSwitchesModeAndCloses) {
    CProject p;
    EXPECT_EQ(p.OpenProject(false), nullptr);  // no file named
    const std::string path = NewProject();
    p.SetFileName(path);
    auto shared = p.OpenProject(false);
    ASSERT_TRUE(shared);
    auto again = p.OpenProject(false);
    ASSERT_TRUE(again);
    EXPECT_NE(shared, again);  // always a new connection
    shared.reset();
    again.reset();
    auto exclusive = p.OpenProject(true);
    ASSERT_TRUE(exclusive);
    EXPECT_TRUE(p.IsOpen());
    // Another connection cannot get in while it is held exclusively.
    EXPECT_THROW(dao::DBEngine::OpenDatabase(path, false, false), dao::DaoError);
    exclusive.reset();
    p.CloseProject();
    EXPECT_FALSE(p.IsOpen());
    EXPECT_NO_THROW(dao::DBEngine::OpenDatabase(path, true, false)->Close());
    EXPECT_TRUE(boxes.calls.empty());
}

// --- the linked data table ------------------------------------------------------

TEST_F(ProjectTest, AttachDataSourceLinksTheUsersTable) {
    const std::string data = MakeData();
    CProject p;
    p.Create(dir.File("link.txp"));
    p.AttachDataSource(data, "People");
    EXPECT_EQ(p.GetConfig("DataSourceName"), data);
    EXPECT_EQ(p.GetConfig("TableName"), "People");
    auto db = p.OpenProject(false);
    ASSERT_TRUE(db);
    dao::TableDef link = db->TableDefs()["LinkDataSource"];
    EXPECT_EQ(link.Connect(), ";DATABASE=" + data);
    EXPECT_EQ(link.SourceTableName(), "People");
    auto rs = db->OpenRecordset("SELECT Name FROM LinkDataSource WHERE Age = 47;");
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Fields(0).AsString(), "O'Hara");
    rs->Close();
    db.reset();
    p.CloseProject();

    // A second attach replaces the link.
    p.AttachDataSource(data, "Towns");
    db = p.OpenProject(false);
    EXPECT_EQ(db->TableDefs()["LinkDataSource"].SourceTableName(), "Towns");
    auto towns = db->OpenRecordset("SELECT Town FROM LinkDataSource;");
    EXPECT_EQ(towns->Fields(0).AsString(), "Arden");
    EXPECT_EQ(p.GetConfig("TableName"), "Towns");
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, OdbcConnectStringIsStoredUnchanged) {
    CProject p;
    p.Create(dir.File("odbc.txp"));
    const std::string connect = "ODBC;DSN=Sales;UID=ann";
    p.AttachDataSource(connect, "Orders");
    auto db = p.OpenProject(false);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->TableDefs()["LinkDataSource"].Connect(), connect);
    EXPECT_EQ(p.GetConfig("DataSourceName"), connect);
}

TEST_F(ProjectTest, AttachReportsFailuresWithItsOwnTitle) {
    CProject p;
    p.Create(dir.File("bad.txp"));
    p.AttachDataSource(dir.File("missing.db"), "People");
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "CProject::AttachDataSource");
    EXPECT_EQ(box.icon, ui::Icon::Critical);
    EXPECT_TRUE(box.text.startsWith("Error: 3024. \n")) << box.text.toStdString();
    EXPECT_EQ(p.GetConfig("TableName", "unset"), "unset");
    // Nothing happens without all three names.
    boxes.Clear();
    p.AttachDataSource("", "People");
    CProject unnamed;
    unnamed.AttachDataSource("x.db", "People");
    EXPECT_TRUE(boxes.calls.empty());
}

// --- replacing files -------------------------------------------------------------

TEST_F(ProjectTest, CreateReplacesAnExistingFile) {
    const std::string path = dir.File("again.txp");
    {
        CProject p;
        p.Create(path);
        p.SaveConfig("LastState", "5");
    }
    std::ofstream(path + "-journal") << "stale";
    CProject p;
    p.Create(path);
    EXPECT_EQ(p.GetConfig("LastState", "none"), "none");
    EXPECT_EQ(p.GetConfig("ProjectType"), "Tessary");
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

TEST_F(ProjectTest, CreateWhileAnotherProjectIsOpenWritesToTheNewFile) {
    CProject p;
    const std::string first = dir.File("first.txp");
    p.Create(first);
    ASSERT_TRUE(p.OpenProject(false));
    p.SetFileName(dir.File("second.txp"));
    p.SaveConfig("TableName", "Second");
    p.Create();
    EXPECT_FALSE(p.IsOpen());
    EXPECT_EQ(p.GetConfig("TableName"), "Second");
    CProject old;
    old.SetFileName(first);
    EXPECT_EQ(old.GetConfig("TableName", "none"), "none");
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, CreateNeverDeletesItsOwnDataSource) {
    const std::string data = MakeData("people.txp");
    CProject p;
    p.SetFileName(data);
    p.SaveConfig("DatabaseName", data);
    p.Create();
    const auto& box = OnlyBox();
    EXPECT_EQ(box.icon, ui::Icon::Critical);
    EXPECT_TRUE(box.text.contains("cannot be replaced")) << box.text.toStdString();
    auto db = dao::DBEngine::OpenDatabase(data, false, true);
    auto rs = db->OpenRecordset("SELECT Count(*) FROM People;");
    EXPECT_EQ(rs->Fields(0).AsLong(), 3);
}

// --- schema helpers ----------------------------------------------------------------

TEST_F(ProjectTest, TableExistsIgnoresCaseAndBlanks) {
    const std::string path = NewProject();
    auto db = dao::DBEngine::OpenDatabase(path);
    EXPECT_TRUE(MdbUtils::TableExists(db, "config"));
    EXPECT_TRUE(MdbUtils::TableExists(db, " config "));
    EXPECT_FALSE(MdbUtils::TableExists(db, "conf"));
    EXPECT_FALSE(MdbUtils::TableExists(nullptr, "Config"));
    db->Execute("CREATE TABLE Extra (A LONG);");
    EXPECT_TRUE(MdbUtils::TableExists(db, "EXTRA"));
}

TEST_F(ProjectTest, OpenDataSourceReportsBadFiles) {
    const std::string text = dir.File("notes.mdb");
    std::ofstream(text) << "just text";
    EXPECT_EQ(MdbUtils::OpenDataSource(text, true), nullptr);
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "Open Database (3343)");
    EXPECT_EQ(box.icon, ui::Icon::Critical);
    EXPECT_EQ(box.text.toStdString(), "Unrecognized database format '" + text + "'.");

    boxes.Clear();
    EXPECT_EQ(MdbUtils::OpenDataSource(dir.File("none.mdb"), true), nullptr);
    EXPECT_EQ(OnlyBox().title, "Open Database (3024)");

    boxes.Clear();
    auto db = MdbUtils::OpenDataSource(MakeData(), true);
    ASSERT_TRUE(db);
    EXPECT_FALSE(db->Updatable());
    EXPECT_TRUE(boxes.calls.empty());
}

TEST_F(ProjectTest, OdbcSourceThatCannotConnectIsReported) {
    EXPECT_EQ(MdbUtils::OpenDataSource("ODBC;DSN=Nowhere", false), nullptr);
    const auto& box = OnlyBox();
    EXPECT_TRUE(box.title.startsWith("Open Database (")) << box.title.toStdString();
    EXPECT_EQ(box.icon, ui::Icon::Critical);
}

TEST_F(ProjectTest, ProjectErrorsAfterCreateGoToTheBox) {
    CProject p;
    p.Create(dir.File("nofolder/x.txp"));
    const auto& box = OnlyBox();
    EXPECT_EQ(box.title, "Project Operation Failed");
    EXPECT_TRUE(box.text.startsWith("Project file operation error #30")) << box.text.toStdString();
}

}  // namespace
