// Text-file import: parsing, type inference, names, messages, and the new database.
#include "TextImport.h"
#include "MUtilities.h"

#include "AppServicesTesting.h"

#include "dao/dao.h"
#include "ui/testing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <locale>
#include <sys/stat.h>
#include <string>
#include <sys/resource.h>
#include <vector>

using MdbUtils::ImportType;

namespace {

ImportType TypeOf(const std::vector<std::string>& values) {
    MdbUtils::ImportColumnScan scan;
    int64_t row = 0;
    for (const auto& v : values) scan.Add(v, ++row);
    return scan.Type();
}

std::vector<std::string> Split(std::string_view line) {
    std::vector<std::string_view> parts;
    MUtilities::Split(",", line, parts);
    return {parts.begin(), parts.end()};
}

class ImportTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ui::ScopedRecorder dialogs;

    std::string Write(const QString& name, const std::string& bytes) {
        std::string path = dir.filePath(name).toStdString();
        std::ofstream out(path, std::ios::binary);
        out << bytes;
        return path;
    }
    std::string DbPath(const std::string& text) { return MdbUtils::ImportDatabasePath(text); }
    // The only message shown, as "title|text".
    std::string OnlyMessage() {
        auto m = dialogs.Messages();
        if (m.size() != 1) return "messages: " + std::to_string(m.size());
        return (m[0].title + "|" + m[0].text).toStdString();
    }
    // Whether anything but the text files lies in the folder.
    std::vector<std::string> OtherFiles() {
        std::vector<std::string> out;
        for (const auto& e : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            if (!e.endsWith(".csv") && !e.endsWith(".txt")) out.push_back(e.toStdString());
        return out;
    }
};

}  // namespace

TEST(ImportParse, NumbersAreReadTheSameInEveryLocale) {
    double v = 0;
    bool integer = false;
    EXPECT_TRUE(MdbUtils::ParseImportNumber("1.5", &v, &integer));
    EXPECT_EQ(v, 1.5);
    EXPECT_FALSE(integer);
    EXPECT_TRUE(MdbUtils::ParseImportNumber(" -42 ", &v, &integer));
    EXPECT_EQ(v, -42);
    EXPECT_TRUE(integer);
    EXPECT_TRUE(MdbUtils::ParseImportNumber("+.5", &v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(MdbUtils::ParseImportNumber("3.", &v));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(MdbUtils::ParseImportNumber("2.5e3", &v, &integer));
    EXPECT_EQ(v, 2500);
    EXPECT_FALSE(integer);
    // A decimal comma is never a decimal point, whatever the user's locale.
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
    };
    std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_TRUE(MdbUtils::ParseImportNumber("1.25", &v));
    EXPECT_EQ(v, 1.25);
    EXPECT_EQ(TypeOf({"1.5"}), ImportType::Single);
    EXPECT_EQ(TypeOf({"1,5"}), ImportType::Text);
    QLocale::setDefault(QLocale::c());
    std::locale::global(previous);
    for (const char* bad : {"", " ", "1,5", "1.5.2", "inf", "nan", "0x10", "e5", ".", "-", "1e", "1 000", "$5", "1..2"})
        EXPECT_FALSE(MdbUtils::ParseImportNumber(bad, &v)) << bad;
}

TEST(ImportParse, ColumnTypes) {
    EXPECT_EQ(TypeOf({"1", "2", "3"}), ImportType::Long);
    EXPECT_EQ(TypeOf({"1", "1.5", "3"}), ImportType::Single);
    EXPECT_EQ(TypeOf({"1", "3.0", "7"}), ImportType::Long);
    // A word makes text even after decimals; later numbers do not change it back.
    EXPECT_EQ(TypeOf({"1.5", "abc", "2"}), ImportType::Text);
    EXPECT_EQ(TypeOf({"-2147483648", "2147483647"}), ImportType::Long);
    // Whole numbers that a single would round stay exact.
    EXPECT_EQ(TypeOf({"16777217", "1"}), ImportType::Long);
    EXPECT_EQ(TypeOf({"16777217", "0.5"}), ImportType::Double);
    EXPECT_EQ(TypeOf({"16777216", "0.5"}), ImportType::Single);
    EXPECT_EQ(TypeOf({"2147483648"}), ImportType::Double);
    // Beyond what a double keeps digit for digit, the digits are kept as text.
    EXPECT_EQ(TypeOf({"12345678901234567890"}), ImportType::Text);
    EXPECT_STREQ(MdbUtils::ImportTypeSql(ImportType::Long), "LONG");
    EXPECT_STREQ(MdbUtils::ImportTypeSql(ImportType::Single), "SINGLE");
    EXPECT_STREQ(MdbUtils::ImportTypeSql(ImportType::Text), "Text(255)");
}

TEST(ImportParse, MissingValueIsFoundOnlyWhileTheColumnIsExamined) {
    MdbUtils::ImportColumnScan a;
    a.Add("1", 1);
    a.Add("", 2);
    a.Add("", 3);
    EXPECT_EQ(a.MissingRow(), 2);
    MdbUtils::ImportColumnScan b;
    b.Add("x", 1);
    b.Add("", 2);
    EXPECT_EQ(b.MissingRow(), 0);
    EXPECT_EQ(b.Type(), ImportType::Text);
}

TEST(ImportParse, SplitAtEveryComma) {
    EXPECT_EQ(Split("a,,b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split("a,"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(Split("abc"), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(Split("\"x,y\""), (std::vector<std::string>{"\"x", "y\""}));
}

TEST(ImportParse, FieldNamesAreMadeUnique) {
    using V = std::vector<std::string>;
    EXPECT_EQ(MdbUtils::MakeImportFieldNames(V{"a", "", "a"}), (V{"a", "#1", "#2"}));
    EXPECT_EQ(MdbUtils::MakeImportFieldNames(V{"#1", "#1"}), (V{"#1", "#1-"}));
    // The database does not tell letter case apart in names.
    EXPECT_EQ(MdbUtils::MakeImportFieldNames(V{"Name", "name"}), (V{"Name", "#1"}));
    // A renamed field that meets an earlier name is renamed again.
    EXPECT_EQ(MdbUtils::MakeImportFieldNames(V{"#2", "a", "a"}), (V{"#2", "a", "#2-"}));
}

TEST(ImportParse, Windows1252Text) {
    EXPECT_EQ(MdbUtils::DecodeWindows1252("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_TRUE(MdbUtils::IsValidUtf8("caf\xC3\xA9"));
    EXPECT_FALSE(MdbUtils::IsValidUtf8("caf\xE9"));
    EXPECT_FALSE(MdbUtils::IsValidUtf8("\xC3"));
    EXPECT_FALSE(MdbUtils::IsValidUtf8("\xC0\x80"));
}

namespace {

struct Column {
    std::string name;
    short type;
};

std::vector<Column> Columns(dao::Database& db, const std::string& table) {
    std::vector<Column> out;
    auto td = db.TableDefs()[table];
    for (auto f : td.Fields()) out.push_back({f.Name(), f.Type()});
    return out;
}

}  // namespace

TEST_F(ImportTest, HeaderAndRowsBecomeOneTable) {
    std::string csv = Write("plants.csv", "Id, Width ,Name,,Id\r\n1,1.5,rose,3,10\r\n\r\n   \r\n2,2,\"tulip\",4.0,20\r\n");
    app::ScopedFakeShell shell;
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << OnlyMessage();
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{"plants.mdb"});
    ASSERT_EQ(shell.status.texts.size(), 2);
    EXPECT_EQ(shell.status.texts[0], QString());
    EXPECT_EQ(shell.status.texts[1].toStdString(), "Import to " + DbPath(csv) + " successful.");

    auto db = dao::DBEngine::OpenDatabase(DbPath(csv));
    ASSERT_EQ(db->TableDefs().Count(), 1);
    auto cols = Columns(*db, "plants");
    ASSERT_EQ(cols.size(), 6u);
    EXPECT_EQ(cols[0].name, "IndexCounter1");
    EXPECT_EQ(cols[0].type, dao::dbLong);
    EXPECT_EQ(cols[1].name, "Id");
    EXPECT_EQ(cols[1].type, dao::dbLong);
    EXPECT_EQ(cols[2].name, "Width");
    EXPECT_EQ(cols[2].type, dao::dbSingle);
    EXPECT_EQ(cols[3].name, "Name");
    EXPECT_EQ(cols[3].type, dao::dbText);
    EXPECT_EQ(cols[4].name, "#3");
    EXPECT_EQ(cols[4].type, dao::dbLong);
    EXPECT_EQ(cols[5].name, "#4");
    auto td = db->TableDefs()["plants"];
    EXPECT_TRUE(td.Fields()[0].Attributes() & dao::dbAutoIncrField);
    bool primary = false;
    for (auto ix : td.Indexes())
        if (ix.Primary()) primary = ix.Fields().Count() == 1 && ix.Fields()[0].Name() == "IndexCounter1";
    EXPECT_TRUE(primary);

    auto rs = db->OpenRecordset("SELECT * FROM plants ORDER BY IndexCounter1", dao::RecordsetType::Snapshot);
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Fields(0).AsLong(), 1);
    EXPECT_EQ(rs->Fields(1).AsLong(), 1);
    EXPECT_EQ(rs->Fields(2).AsSingle(), 1.5f);
    EXPECT_EQ(rs->Fields(3).AsString(), "rose");
    EXPECT_EQ(rs->Fields(4).AsLong(), 3);
    rs->MoveNext();
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Fields(0).AsLong(), 2);
    EXPECT_EQ(rs->Fields(2).AsSingle(), 2.0f);
    // Quotes belong to the value.
    EXPECT_EQ(rs->Fields(3).AsString(), "\"tulip\"");
    EXPECT_EQ(rs->Fields(4).AsLong(), 4);
    EXPECT_EQ(rs->Fields(5).AsLong(), 20);
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
}

TEST_F(ImportTest, FilesWithoutDataRowsMissRowOne) {
    for (const std::string& content : {std::string(), std::string("a,b\r\n"), std::string("\r\n  \r\na,b\r\n\r\n")}) {
        dialogs.Clear();
        std::string csv = Write("empty.csv", content);
        EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
        EXPECT_EQ(OnlyMessage(), "Bad Data|Missing value in row #1.  Import stoped.");
        auto m = dialogs.Messages();
        if (!m.empty()) {
            EXPECT_EQ(m[0].icon, ui::Icon::Exclamation);
        }
        EXPECT_TRUE(OtherFiles().empty());
    }
}

TEST_F(ImportTest, BadRowsStopTheImportBeforeAnythingIsCreated) {
    // Blank lines do not count: the ragged row is data row 3.
    std::string csv = Write("ragged.csv", "a,b\n1,2\n\n3,4\n5,6,7\n8\n");
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    EXPECT_EQ(OnlyMessage(), "Bad Import Data|Number of fields Does Not match number of field names at row #3");
    EXPECT_TRUE(OtherFiles().empty());

    // A quoted value holding a comma splits into two fields.
    dialogs.Clear();
    csv = Write("quoted.csv", "a,b\n1,\"x,y\"\n");
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    EXPECT_EQ(OnlyMessage(), "Bad Import Data|Number of fields Does Not match number of field names at row #1");

    // The first column with a missing value decides the message.
    dialogs.Clear();
    csv = Write("missing.csv", "a,b,c\n1,2,x\n2,,\n3,4,5\n,5,6\n");
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    EXPECT_EQ(OnlyMessage(), "Bad Data|Missing value in row #4.  Import stoped.");
    EXPECT_TRUE(OtherFiles().empty());
}

TEST_F(ImportTest, ExistingDatabaseIsReplacedOnlyWhenTheUserAgrees) {
    std::string csv = Write("data.csv", "a\n1\n");
    std::string db = DbPath(csv);
    {
        std::ofstream out(db, std::ios::binary);
        out << "old";
    }
    dialogs.answers.push_back(ui::Answer::No);
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title.toStdString(), "Warning!");
    EXPECT_EQ(dialogs.Messages()[0].text.toStdString(), db + " Exists.  Overwrite?");
    EXPECT_EQ(dialogs.Messages()[0].buttons, ui::Buttons::YesNo);
    EXPECT_EQ(dialogs.Messages()[0].icon, ui::Icon::Exclamation);
    std::ifstream in(db);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "old");

    dialogs.Clear();
    dialogs.answers.push_back(ui::Answer::Yes);
    EXPECT_TRUE(MdbUtils::LoadTextFile(csv));
    auto d = dao::DBEngine::OpenDatabase(db);
    auto rs = d->OpenRecordset("data", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields("a").AsLong(), 1);
}

TEST_F(ImportTest, FailureWhileWritingLeavesTheOldDatabase) {
    // A text longer than the column holds fails in the middle of the copy.
    std::string csv = Write("long.csv", "a,b\n1,x\n2," + std::string(300, 'y') + "\n");
    std::string db = DbPath(csv);
    {
        std::ofstream out(db, std::ios::binary);
        out << "old";
    }
    dialogs.answers.push_back(ui::Answer::Yes);
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    auto m = dialogs.Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[1].title.toStdString(), "LoadTextFile");
    EXPECT_EQ(m[1].icon, ui::Icon::None);
    EXPECT_TRUE(m[1].text.startsWith("Error: 3163. \n")) << m[1].text.toStdString();
    std::ifstream in(db);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "old");
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{"long.mdb"});
}

TEST_F(ImportTest, NamesThatWouldBreakTheStatementAreRefused) {
    std::string csv = Write("names.csv", "a] LONG, b [x,c\n1,2,3\n");
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    auto m = dialogs.Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(m[0].text.startsWith("Error: 3125. \n")) << m[0].text.toStdString();
    EXPECT_TRUE(OtherFiles().empty());

    // Blanks and punctuation in the file name stay inside the bracketed table name.
    dialogs.Clear();
    csv = Write("my data; DROP TABLE x.csv", "a\n1\n");
    EXPECT_TRUE(MdbUtils::LoadTextFile(csv)) << OnlyMessage();
    auto d = dao::DBEngine::OpenDatabase(DbPath(csv));
    ASSERT_EQ(d->TableDefs().Count(), 1);
    EXPECT_EQ(d->TableDefs()[0].Name(), "my data; DROP TABLE x");
}

TEST_F(ImportTest, LargeWholeNumbersAreKeptExactly) {
    std::string csv = Write("big.csv", "n,f,w\n16777217,0.5,12345678901234567890\n-16777219,20000001,1\n");
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << OnlyMessage();
    auto db = dao::DBEngine::OpenDatabase(DbPath(csv));
    auto cols = Columns(*db, "big");
    EXPECT_EQ(cols[1].type, dao::dbLong);
    EXPECT_EQ(cols[2].type, dao::dbDouble);
    EXPECT_EQ(cols[3].type, dao::dbText);
    auto rs = db->OpenRecordset("SELECT * FROM big ORDER BY IndexCounter1", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields("n").AsLong(), 16777217);
    EXPECT_EQ(rs->Fields("w").AsString(), "12345678901234567890");
    rs->MoveNext();
    EXPECT_EQ(rs->Fields("n").AsLong(), -16777219);
    EXPECT_EQ(rs->Fields("f").AsDouble(), 20000001.0);
}

TEST_F(ImportTest, Windows1252AndUtf8Text) {
    std::string csv = Write("w1252.csv", "Stadt,n\nK\xF6ln,1\nCaf\xE9 \x80,2\n");
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << OnlyMessage();
    auto db = dao::DBEngine::OpenDatabase(DbPath(csv));
    auto rs = db->OpenRecordset("SELECT Stadt FROM w1252 ORDER BY IndexCounter1", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsString(), "K\xC3\xB6ln");
    rs->MoveNext();
    EXPECT_EQ(rs->Fields(0).AsString(), "Caf\xC3\xA9 \xE2\x82\xAC");

    // A file that is UTF-8 throughout (here with a byte-order mark) is read as such.
    std::string csv8 = Write("utf8.csv", "\xEF\xBB\xBFStadt,n\nK\xC3\xB6ln,1\n");
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv8)) << OnlyMessage();
    auto db8 = dao::DBEngine::OpenDatabase(DbPath(csv8));
    auto rs8 = db8->OpenRecordset("utf8", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs8->Fields("Stadt").AsString(), "K\xC3\xB6ln");
}

TEST_F(ImportTest, MissingFileIsReported) {
    EXPECT_FALSE(MdbUtils::LoadTextFile(dir.filePath("nothere.csv").toStdString()));
    auto m = dialogs.Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].title.toStdString(), "LoadTextFile");
    EXPECT_TRUE(m[0].text.startsWith("Error: 53. \n"));
}

TEST_F(ImportTest, FiftyMegabytesStream) {
    std::string csv = dir.filePath("large.csv").toStdString();
    const int64_t rows = 1250000;
    auto writeFile = [&](bool badLastRow) {
        std::ofstream out(csv, std::ios::binary | std::ios::trunc);
        out << "Id,A,B,C,Label\r\n";
        for (int64_t i = 1; i <= rows; ++i)
            out << i << ',' << (i % 1000) * 0.25 << ',' << (i * 7919) % 100000 << ',' << (i % 97) + 0.5
                << ",label_" << (i % 13) << "_abcdefgh\r\n";
        if (badLastRow) out << "1,2\r\n";
    };
    // A bad row at the very end: the whole file is read before anything is
    // written, and memory does not grow with it.
    writeFile(true);
    ASSERT_GE(QFileInfo(QString::fromStdString(csv)).size(), 50 * 1000 * 1000);
    struct rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024) << "kB";
    EXPECT_EQ(OnlyMessage(),
              "Bad Import Data|Number of fields Does Not match number of field names at row #" + std::to_string(rows + 1));
    EXPECT_TRUE(OtherFiles().empty());

    dialogs.Clear();
    writeFile(false);
    ASSERT_TRUE(MdbUtils::LoadTextFile(csv)) << OnlyMessage();
    auto db = dao::DBEngine::OpenDatabase(DbPath(csv));
    auto rs = db->OpenRecordset("SELECT Count(*), Max(IndexCounter1) FROM large", dao::RecordsetType::Snapshot);
    EXPECT_EQ(rs->Fields(0).AsLong(), rows);
    EXPECT_EQ(rs->Fields(1).AsLong(), rows);
    auto cols = Columns(*db, "large");
    EXPECT_EQ(cols[2].type, dao::dbSingle);
    EXPECT_EQ(cols[3].type, dao::dbLong);
    EXPECT_EQ(cols[5].type, dao::dbText);
}

namespace {

// Answers Yes to the overwrite question, which comes between the two readings
// of the file, and changes the file there as another program might.
class ChangingHandler : public ui::RecordingHandler {
public:
    std::function<void()> change;
    ui::Answer Message(const ui::MessageRequest& r) override {
        if (r.text.endsWith("Overwrite?") && change) change();
        return RecordingHandler::Message(r);
    }
};

void Overwrite(const std::string& path, const std::string& bytes) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(0);
    out << bytes;
}

}  // namespace

TEST_F(ImportTest, FileChangedBetweenTheReadingsIsNotImported) {
    // Columns a and b whole numbers, c with fractions; each change keeps the
    // number of rows and fields and the size of the file.
    const std::string original = "a,b,c\n1,0000000000000001,0.500000000000000\n2,7,0.25\n";
    enum class How { Replace, InPlace, InPlaceSameTime };
    struct Case {
        const char* what;
        How how;
        std::string row1;  // replaces the first data row
        std::string expected;
        std::string row2 = "2,7,0.25";  // and the second
    };
    const std::vector<Case> cases = {
        {"replaced by another file", How::Replace, "1,0000000000000001,0.500000000000000", "Error: 75. \n"},
        {"rewritten in place", How::InPlace, "1,0000000000000002,0.500000000000000", "Error: 75. \n"},
        {"text where a number was", How::InPlaceSameTime, "x,0000000000000001,0.500000000000000",
         "Error: 13. \nThe value \"x\" in row #1, field a is not a number"},
        {"a fraction in a whole-number column", How::InPlaceSameTime, "1,99999999999.5000,0.500000000000000",
         "in row #1, field b is not a whole number"},
        {"beyond the 32-bit range", How::InPlaceSameTime, "1,-999999999999999,0.500000000000000",
         "Error: 6. \nThe value \"-999999999999999\" in row #1, field b is beyond the 32-bit range"},
        {"beyond what a single holds", How::InPlaceSameTime, "1,0000000000000001,1.0000000000e+039",
         "Error: 6. \nThe value \"1.0000000000e+039\" in row #1, field c is beyond the range"},
        {"digits a double cannot keep", How::InPlaceSameTime, "1,0000000000000001,12345678901234567",
         "in row #1, field c has more digits than a number keeps"},
        {"a digit in the first row and the last, its time put back", How::InPlaceSameTime,
         "1,0000000000000003,0.500000000000000",
         "Error: 75. \nThe file " + dir.filePath("changed.csv").toStdString() +
             " changed while it was being imported (its size, times or contents differ from when it was first read).",
         "2,8,0.25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string csv = Write("changed.csv", original);
        const std::string db = DbPath(csv);
        {
            std::ofstream out(db, std::ios::binary);
            out << "old";
        }
        ChangingHandler handler;
        ui::ScopedHandler scope(&handler);
        handler.change = [&] {
            const std::string changed = "a,b,c\n" + c.row1 + "\n" + c.row2 + "\n";
            ASSERT_EQ(changed.size(), original.size());
            struct stat before {};
            ASSERT_EQ(::stat(csv.c_str(), &before), 0);
            if (c.how == How::Replace) {
                const std::string other = dir.filePath("other.csv").toStdString();
                std::ofstream(other, std::ios::binary) << changed;
                ASSERT_EQ(std::rename(other.c_str(), csv.c_str()), 0);
                return;
            }
            Overwrite(csv, changed);
            if (c.how == How::InPlace) {
                // A change within the same clock tick still shows in the time.
                const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 1, before.st_mtim.tv_nsec}};
                ASSERT_EQ(::utimensat(AT_FDCWD, csv.c_str(), later, 0), 0);
            } else {
                const timespec same[2] = {before.st_atim, before.st_mtim};
                ASSERT_EQ(::utimensat(AT_FDCWD, csv.c_str(), same, 0), 0);
            }
        };
        app::ScopedFakeShell shell;
        EXPECT_FALSE(MdbUtils::LoadTextFile(csv));
        EXPECT_EQ(shell.status.texts, QStringList{QString()});
        auto m = handler.Messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[1].title.toStdString(), "LoadTextFile");
        EXPECT_NE(m[1].text.toStdString().find(c.expected), std::string::npos) << m[1].text.toStdString();
        if (c.how == How::Replace) {
            EXPECT_TRUE(m[1].text.contains("was replaced by another file"));
        }
        // The old database stays as it was.
        std::ifstream in(db);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "old");
        EXPECT_EQ(OtherFiles(), std::vector<std::string>{"changed.mdb"});
    }
}
