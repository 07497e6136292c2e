// The marked rows as delimited text, byte for byte: delimiters, Nulls, quotes,
// Windows-1252 text, the prediction column and the test range; and what a
// failing export leaves behind.
#include "ExportFixture.h"

#include "CMarkedRows.h"
#include "MExport.h"
#include "MUtilities.h"

#include <clocale>
#include <cmath>
#include <csignal>
#include <random>
#include <sys/resource.h>

using namespace exporttest;

namespace {

const std::vector<Column>& Columns() {
    static const std::vector<Column> cols = {
        {"Name", "TEXT", MatchType::Text},
        {"Size", "REAL", MatchType::Numeric},
        {"Kind", "TEXT", MatchType::Output},
        {"Note", "TEXT", MatchType::NotUsed},
    };
    return cols;
}

std::vector<std::vector<Cell>> Rows() {
    return {
        {Cell::T("Ann"), Cell::D(2.5), Cell::T("apple"), Cell::T("plain")},
        {Cell::T("Bob, Jr"), Cell::D(10), Cell::T("lime"), Cell::T("say \"hi\"")},
        {Cell::N(), Cell::N(), Cell::T("apple"), Cell::T("caf\xC3\xA9 \xE2\x82\xAC")},
        {Cell::T("Dee"), Cell::D(-0.125), Cell::T("lime"), Cell::N()},
        {Cell::T("Eve"), Cell::D(1e21), Cell::T("apple"), Cell::T("x")},
    };
}

// Rows 1, 2, 3 and 5 marked; the test range is keys 2..4; row 2 predicted as
// class 2, row 3 (inside the range) without a prediction.
void Prepare(ExportProject& p) {
    p.Mark({1, 2, 3, 5});
    p.Predict(2, 2);
    p.TestRange("2", "4");
}

std::string Body(const std::string& d, const std::string& lime) {
    return "N/A" + d + "1" + d + "Ann" + d + "2.5" + d + "apple" + d + "plain\r\n" +  //
           lime + d + "2" + d + "Bob, Jr" + d + "10" + d + "lime" + d + "say \"hi\"\r\n" +
           "N/A" + d + "3" + d + d + d + "apple" + d + "caf\xE9 \x80\r\n" +  //
           "N/A" + d + "5" + d + "Eve" + d + "1E+21" + d + "apple" + d + "x\r\n";
}

}  // namespace

TEST(TextExport, CommaTabAndNoDelimiterByteForByte) {
    ExportProject p("text", Columns(), Rows());
    Prepare(p);
    const std::string lime = p.ClassName(1);
    ASSERT_EQ(lime, "lime");
    const std::string path = p.dir + "/rows.txt";

    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "Predicted,Id,Name,Size,Kind,Note\r\n" + Body(",", lime));

    p.Delimiter("1");
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "Predicted\tId\tName\tSize\tKind\tNote\r\n" + Body("\t", lime));

    // Any other number: the texts follow each other directly.
    p.Delimiter("7");
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "PredictedIdNameSizeKindNote\r\n" + Body("", lime));
    EXPECT_TRUE(p.Boxes().empty());
}

TEST(TextExport, SettingThatIsNoNumberFailsAndKeepsTheOldFile) {
    ExportProject p("text-delim", Columns(), Rows());
    Prepare(p);
    const std::string path = p.dir + "/rows.txt";
    WriteFile(path, "old");
    p.Delimiter("tab");
    EXPECT_FALSE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    ASSERT_EQ(p.Boxes().size(), 1u);
    EXPECT_EQ(p.Boxes()[0], "MTessary::ExportMarkedRS | Error: 13. \nType mismatch");
    EXPECT_EQ(ReadFile(path), "old");
}

TEST(TextExport, NoMarkedRowsGiveTheHeaderAlone) {
    ExportProject p("text-none", Columns(), Rows());
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "Predicted,Id,Name,Size,Kind,Note\r\n");
}

// Bounds are inclusive; a row inside without a prediction is "N/A" with no box.
TEST(TextExport, TestRangeBoundsAndMissingPrediction) {
    ExportProject p("text-range", Columns(), Rows());
    p.Mark({1, 2, 3, 4, 5});
    p.Predict(1, 1);
    p.Predict(2, 2);
    p.Predict(4, 2);
    p.Predict(5, 1);
    p.TestRange(" 2 rows", "4");  // the leading number of the text
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    std::vector<std::string> firsts;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) firsts.push_back(line.substr(0, line.find(',')));
    EXPECT_EQ(firsts, (std::vector<std::string>{"Predicted", "N/A", "lime", "N/A", "lime", "N/A"}));
    EXPECT_TRUE(p.Boxes().empty());
}

// Text keys are compared as the database orders them, without regard to case.
TEST(TextExport, TextKeysCompareAsTheDatabase) {
    ExportProject p("text-keys", Columns(), Rows(), true);
    p.Mark({1, 2, 3, 4});
    for (int k = 1; k <= 4; ++k) p.Predict(k, 2);
    p.TestRange("K'0002", "K'0003");
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    std::vector<std::string> firsts;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) firsts.push_back(line.substr(0, line.find(',')));
    EXPECT_EQ(firsts, (std::vector<std::string>{"Predicted", "N/A", "lime", "lime", "N/A"}));
}

TEST(TextExport, PredictionColumnNameAvoidsDataColumns) {
    EXPECT_EQ(CMarkedRows::PredictionName({"A", "B"}), "Predicted");
    EXPECT_EQ(CMarkedRows::PredictionName({"A", "Predicted"}), "Predicted1");
    EXPECT_EQ(CMarkedRows::PredictionName({"Predicted1", "X", "Predicted"}), "Predicted2");
    // The database does not tell names apart by case.
    EXPECT_EQ(CMarkedRows::PredictionName({"PREDICTED", "predicted1"}), "Predicted2");

    ExportProject p("text-pname", {{"Predicted", "REAL", MatchType::Numeric}, {"Kind", "TEXT", MatchType::Output}},
                    {{Cell::D(1), Cell::T("a")}, {Cell::D(2), Cell::T("b")}});
    p.Mark({2});
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "Predicted1,Id,Predicted,Kind\r\nN/A,2,2,b\r\n");
}

TEST(TextExport, LeadingNumberReadsAsTheRuntime) {
    EXPECT_EQ(CMarkedRows::LeadingNumber(" 12ab"), 12);
    EXPECT_EQ(CMarkedRows::LeadingNumber("1 5"), 15);
    EXPECT_EQ(CMarkedRows::LeadingNumber("-2.5e1x"), -25);
    EXPECT_EQ(CMarkedRows::LeadingNumber("+7"), 7);
    EXPECT_EQ(CMarkedRows::LeadingNumber("abc"), 0);
    EXPECT_EQ(CMarkedRows::LeadingNumber(""), 0);
}

// A character Windows-1252 cannot carry is not lost: the file is written as UTF-8.
TEST(TextExport, TextBeyondWindows1252IsWrittenAsUtf8) {
    ExportProject p("text-utf8", {{"Note", "TEXT", MatchType::NotUsed}, {"Kind", "TEXT", MatchType::Output}},
                    {{Cell::T("\xCE\xA9 caf\xC3\xA9"), Cell::T("a")}, {Cell::T("b"), Cell::T("b")}});
    p.Mark({1});
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBFPredicted,Id,Note,Kind\r\nN/A,1,\xCE\xA9 caf\xC3\xA9,a\r\n");
}

// Found only in a late block, after earlier ones were written: the file is
// still written whole, once, as UTF-8.
TEST(TextExport, LateCharacterBeyondWindows1252RewritesTheWholeFileAsUtf8) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({Cell::T(i == 2900 ? "\xCE\xA9" : "caf\xC3\xA9 " + std::to_string(i)), Cell::T("a")});
    ExportProject p("text-utf8-late", {{"Note", "TEXT", MatchType::NotUsed}, {"Kind", "TEXT", MatchType::Output}}, rows);
    p.Run("UPDATE Test SET Mark=-1");
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.rfind("\xEF\xBB\xBFPredicted,Id,Note,Kind\r\nN/A,1,caf\xC3\xA9 0,a\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\nN/A,2901,\xCE\xA9,a\r\nN/A,2902,caf\xC3\xA9 2901,a\r\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3001);
    EXPECT_EQ(text.find("\xEF\xBB\xBF", 1), std::string::npos);
    EXPECT_TRUE(p.Boxes().empty());
}

TEST(TextExport, CommaDecimalLocaleStillWritesPoints) {
    ExportProject p("text-locale", Columns(), Rows());
    Prepare(p);
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + p.dir + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE here";
    setenv("LOCPATH", p.dir.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    const std::string path = p.dir + "/rows.txt";
    const bool ok = MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadFile(path), "Predicted,Id,Name,Size,Kind,Note\r\n" + Body(",", "lime"));
}

// The file size limit makes the write fail part way: the old file stays whole
// and no partial file is left beside it.
TEST(TextExport, FailureMidExportKeepsTheOldFile) {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 4000; ++i)
        rows.push_back({Cell::T("name " + std::to_string(i)), Cell::D(i * 0.5), Cell::T(i % 2 ? "a" : "b"),
                        Cell::T(std::string(40, 'n'))});
    ExportProject p("text-fail", Columns(), rows);
    p.Run("UPDATE Test SET Mark=-1");
    const std::string path = p.dir + "/rows.txt";
    WriteFile(path, "old contents\r\n");
    const size_t before = FilesIn(p.dir);

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool ok = MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0);
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(ok);
    ASSERT_EQ(p.Boxes().size(), 1u);
    EXPECT_EQ(p.Boxes()[0].rfind("MTessary::ExportMarkedRS | Error: ", 0), 0u);
    EXPECT_EQ(ReadFile(path), "old contents\r\n");
    EXPECT_EQ(FilesIn(p.dir), before);

    // Without the limit the same export replaces the file.
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_GT(ReadFile(path).size(), 64u * 1024);
}

// A short file too: the write that falls short is seen before anything is renamed.
TEST(TextExport, ShortWriteOfASmallFileKeepsTheOldFile) {
    ExportProject p("text-short", Columns(), Rows());
    Prepare(p);
    const std::string path = p.dir + "/rows.txt";
    WriteFile(path, "old");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = 50;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool ok = MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFile(path), "old");
}

// Date keys: the stored bounds are date texts and are read as dates, so a row
// on a bound day is inside and one the day after is not.
TEST(TextExport, DateKeysCompareAsDates) {
    App();
    ui::ScopedRecorder dialogs;
    app::ScopedFakeShell shell;
    const std::string dir = TempDir("text-dates");
    const std::string data = dir + "/data.db";
    {
        DatabasePtr db = dao::DBEngine::CreateDatabase(data, dao::dbLangGeneral);
        db->Execute("CREATE TABLE Data (Day DATETIME CONSTRAINT PrimaryKey PRIMARY KEY, Kind TEXT(10));");
        db->Execute("INSERT INTO Data VALUES (#1/2/2000#, 'a')");
        db->Execute("INSERT INTO Data VALUES (#1/3/2000#, 'b')");
        db->Execute("INSERT INTO Data VALUES (#1/4/2000#, 'a')");
    }
    auto project = std::make_shared<CProject>();
    project->Create(dir + "/project.txp");
    project->AttachDataSource(data, "Data");
    auto def = std::make_shared<CDataDef>();
    {
        DatabasePtr db = project->OpenProject(false);
        def->Initialize(db, "LinkDataSource");
        def->CollectStats(db);
        def->SetUserMatchType(1, MatchType::Output);
        def->Save(db);
        MdbUtils::CreateTestTable(*project, *def);
        db->Execute("UPDATE Test SET Mark=-1, Predicted=2");
    }
    // As the tree driver stores them: the key values as text.
    project->SaveConfig("TestKeyMin", com::Variant::Date(36527));  // 1/2/2000
    project->SaveConfig("TestKeyMax", com::Variant::Date(36528));  // 1/3/2000
    auto sql = std::make_shared<CSqlMachine>();
    sql->Initialize(def, project);
    ExportContext ctx;
    ctx.project = project;
    ctx.dataDef = def;
    ctx.sqlMachine = sql;
    const std::string path = dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(ctx, QString::fromStdString(path), 0));
    EXPECT_EQ(ReadFile(path), "Predicted,Day,Kind\r\nb,1/2/2000,a\r\nb,1/3/2000,b\r\nN/A,1/4/2000,a\r\n");
    EXPECT_TRUE(dialogs.Messages().empty());
    project->CloseProject();
    std::filesystem::remove_all(dir);
}

// Thousands of rows of every kind of value, read in several blocks: each line
// is what reading the same query row by row through the fields gives.
TEST(TextExport, EveryValueTypeAcrossBlocksMatchesRowByRowReading) {
    const std::vector<Column> columns = {
        {"Small", "SHORT", MatchType::Numeric},   {"Whole", "LONG", MatchType::Numeric},
        {"Big", "BIGINT", MatchType::NotUsed},    {"Single", "SINGLE", MatchType::Numeric},
        {"Real", "DOUBLE", MatchType::Numeric},   {"Money", "CURRENCY", MatchType::NotUsed},
        {"Flag", "BIT", MatchType::NotUsed},      {"Seen", "DATETIME", MatchType::NotUsed},
        {"Label", "TEXT(40)", MatchType::NotUsed}, {"Memo", "MEMO", MatchType::NotUsed},
        {"Kind", "TEXT(10)", MatchType::Output},
    };
    const char* labels[] = {"plain", "say \"hi\"", "a, b", "caf\xC3\xA9 \xE2\x82\xAC 5", "\xE2\x80\x94 \xC3\xBC", ""};
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 2600; ++i) {
        auto maybe = [&](Cell c) { return unit(rng) < 0.05 ? Cell::N() : c; };
        rows.push_back({maybe(Cell::D(std::floor(unit(rng) * 60000) - 30000)),
                        maybe(Cell::D(std::floor(unit(rng) * 4e9) - 2e9)),
                        maybe(Cell::D(std::floor(unit(rng) * 1e15))),
                        maybe(Cell::D((unit(rng) - 0.5) * std::pow(10.0, std::floor(unit(rng) * 20) - 8))),
                        maybe(Cell::D((unit(rng) - 0.5) * std::pow(10.0, std::floor(unit(rng) * 40) - 20))),
                        maybe(Cell::D(std::round((unit(rng) - 0.5) * 1e8) / 1e4)),
                        maybe(Cell::D(i % 2 ? -1 : 0)),
                        maybe(Cell::D(i % 7 ? 36000 + unit(rng) * 5000 : std::floor(unit(rng) * 3000) + 35000)),
                        maybe(Cell::T(labels[i % 6])),
                        maybe(Cell::T(std::string(size_t(i % 300), 'm') + labels[(i + 3) % 6])),
                        Cell::T(i % 3 ? "lime" : "apple")});
    }
    ExportProject p("text-mix", columns, rows);
    p.Run("UPDATE Test SET Mark=-1 WHERE MainPrimaryKey MOD 3 <> 0");
    p.Run("UPDATE Test SET Predicted = MainPrimaryKey MOD 3");
    p.TestRange("500", "2000");
    const std::string path = p.dir + "/rows.txt";
    ASSERT_TRUE(MExport::ExportMarkedRS(p.ctx, QString::fromStdString(path), 0));
    EXPECT_TRUE(p.Boxes().empty());

    std::string expected = "Predicted,Id";
    for (const Column& c : columns) expected += "," + c.name;
    expected += "\r\n";
    CMarkedRows marked(p.ctx, 0);
    DatabasePtr db = p.project.OpenProject(false);
    RecordsetPtr rs = db->OpenRecordset(marked.Sql(), dao::RecordsetType::Dynaset);
    long lines = 0;
    for (; !rs->Eof(); rs->MoveNext(), ++lines) {
        const long key = rs->Fields(1).AsLong();
        const int predicted = rs->Fields(0).AsShort();
        expected += key >= 500 && key <= 2000 && predicted >= 1 ? p.ClassName(int16_t(predicted - 1)) : "N/A";
        for (int i = 1; i < rs->Fields().Count(); ++i) {
            expected += ',';
            const com::Variant v = rs->Fields(i).Value();
            if (v.vt == VT_NULL) continue;
            if (v.vt != VT_BSTR) {
                expected += dao::VarToString(v);
                continue;
            }
            for (char16_t c : dao::VarToU16(v)) expected += char(MUtilities::Cp1252FromUnicode(c));
        }
        expected += "\r\n";
    }
    EXPECT_GT(lines, 1500);
    const std::string written = ReadFile(path);
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
    // The mix is really there: quotes, Windows-1252 bytes, dates, exponents and Nulls.
    for (const char* piece : {"say \"hi\"", "caf\xE9 \x80", "\x97 \xFC", "/19", ":", "E+", "E-", ",,", "True"})
        EXPECT_NE(written.find(piece), std::string::npos) << piece;
}
