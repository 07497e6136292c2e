// The text import against seeded mutations of text files, built with the
// address and undefined-behaviour sanitizers (see CMakeLists.txt): every file
// is imported or refused with one message, and an imported table holds every
// data line of the file.
#include "TextImport.h"

#include "MUtilities.h"

#include "AppServicesTesting.h"

#include "dao/dao.h"
#include "ui/testing.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>

// The toolkit's libraries are not built for leak checking.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

const std::vector<std::string> kSeeds = {
    "Id,Width,Name,Flag\r\n1,1.5,rose,1\r\n2,2,tulip,0\r\n3,-0.25e1,\"lily\",1\r\n",
    "a,b,c\n1,2,3\n\n   \n4,5,6\n7,8,9\n",
    "x , y,,x\n1,2,3,4\n-2147483648,2147483647,16777217,9007199254740993\n",
    "Name,Caf\xE9,Price\n\x80uro,\xFF,12.50\nna\xEFve,b,7\n",
    "\xEF\xBB\xBFK,T\rA,b\r\rC,d\r",
};

void Mutate(std::string& t, std::mt19937& rng) {
    static const char* pieces[] = {",", ",,", "\n", "\r", "\r\n", " ", "\"", "'", "-", ".", "e", "1", "0.5",
                                   "99999999999", "?", "\t", "\xC3", "\xE9", "#"};
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const size_t at = t.empty() ? 0 : rng() % t.size();
        switch (rng() % 6) {
        case 0: t.erase(at, 1 + rng() % 5); break;
        case 1: t.insert(at, pieces[rng() % (sizeof pieces / sizeof *pieces)]); break;
        case 2:
            if (!t.empty()) t[at] = char(rng());
            break;
        case 3: t.insert(at, std::string(1 + rng() % 300, "a,\n9"[rng() % 4])); break;  // long values, many fields
        case 4: {
            const std::string slice = t.substr(at, 1 + rng() % 30);
            for (int i = 0, n = 1 + int(rng() % 20); i < n; ++i) t.insert(at, slice);
            break;
        }
        default: t.insert(at, std::string(1, '\0')); break;
        }
    }
}

// Data lines as the import counts them: not blank, after the header.
long DataLines(const std::string& text) {
    long lines = 0;
    std::string line;
    bool header = true;
    auto end = [&] {
        bool blank = true;
        for (char c : line)
            if (c != ' ') blank = false;
        if (!blank) {
            if (header) header = false;
            else ++lines;
        }
        line.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            end();
        } else {
            line += c;
        }
    }
    if (!line.empty()) end();
    return lines;
}

}  // namespace

TEST(ImportFuzz, MutatedFilesAreImportedWholeOrRefusedWithOneMessage) {
    QTemporaryDir dir;
    const std::string csv = dir.filePath(QStringLiteral("fuzz.csv")).toStdString();
    const std::string mdb = MdbUtils::ImportDatabasePath(csv);
    app::ScopedFakeShell shell;
    std::mt19937 rng(4242);
    int imported = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        std::string text = kSeeds[rng() % kSeeds.size()];
        Mutate(text, rng);
        {
            std::ofstream out(csv, std::ios::binary | std::ios::trunc);
            out << text;
        }
        QFile::remove(QString::fromStdString(mdb));
        ui::ScopedRecorder dialogs;
        if (MdbUtils::LoadTextFile(csv)) {
            ++imported;
            ASSERT_TRUE(dialogs.Messages().empty()) << round;
            auto db = dao::DBEngine::OpenDatabase(mdb);
            auto rs = db->OpenRecordset("SELECT Count(*) FROM fuzz", dao::RecordsetType::Snapshot);
            EXPECT_EQ(rs->Fields(0).AsLong(), DataLines(text)) << round;
        } else {
            ++refused;
            ASSERT_EQ(dialogs.Messages().size(), 1u) << round;
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(mdb))) << round;
        }
        // Nothing but the text file and its database is ever left.
        const auto files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        for (const auto& f : files) ASSERT_TRUE(f == "fuzz.csv" || f == "fuzz.mdb") << f.toStdString();
    }
    EXPECT_GT(imported, 30);
    EXPECT_GT(refused, 30);
}

TEST(ImportFuzz, PiecesOfTheImportTakeAnyBytes) {
    std::mt19937 rng(99);
    std::vector<std::string_view> parts;
    for (int round = 0; round < 20000; ++round) {
        std::string s(rng() % 40, '\0');
        for (char& c : s) c = rng() % 3 ? "0123456789+-.eE ,"[rng() % 17] : char(rng());
        double v = 0;
        bool integer = false;
        if (MdbUtils::ParseImportNumber(s, &v, &integer)) {
            EXPECT_TRUE(std::isfinite(v)) << s;
        }
        MUtilities::Split(",", s, parts);
        size_t commas = 0;
        for (char c : s) commas += c == ',';
        EXPECT_EQ(parts.size(), commas + 1);
        MdbUtils::ImportColumnScan scan;
        for (auto p : parts) scan.Add(p, 1);
        (void)scan.Type();
        const std::string decoded = MdbUtils::DecodeWindows1252(s);
        EXPECT_TRUE(MdbUtils::IsValidUtf8(decoded)) << s;
        std::vector<std::string> header(parts.begin(), parts.end());
        const auto names = MdbUtils::MakeImportFieldNames(header);
        ASSERT_EQ(names.size(), header.size());
        for (size_t i = 0; i < names.size(); ++i)
            for (size_t j = 0; j < i; ++j) ASSERT_NE(dao::CompareText(names[i], names[j]), 0) << s;
    }
}

namespace {

// Rewrites the file in place at the overwrite question, between the two
// readings, keeping its size and modification time.
class RewritingHandler : public ui::RecordingHandler {
public:
    std::string path, bytes;
    ui::Answer Message(const ui::MessageRequest& r) override {
        if (r.text.endsWith("Overwrite?")) {
            struct stat before {};
            ::stat(path.c_str(), &before);
            std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << bytes;
            const timespec same[2] = {before.st_atim, before.st_mtim};
            ::utimensat(AT_FDCWD, path.c_str(), same, 0);
        }
        return RecordingHandler::Message(r);
    }
};

}  // namespace

TEST(ImportFuzz, ValuesChangedBetweenTheReadingsAreRefusedNotConverted) {
    QTemporaryDir dir;
    const std::string csv = dir.filePath(QStringLiteral("changed.csv")).toStdString();
    const std::string mdb = MdbUtils::ImportDatabasePath(csv);
    // Whole numbers, fractions and doubles, each value 17 characters wide.
    const std::string header = "i,s,d\n";
    const std::string row = "00000000000000001,00000000000000.25,00000020000000.25\n";
    for (const char* wide : {"99999999999.50000", "-9.9999999999e+19", "1.00000000000e+39", "-1.000000000e+300",
                             "nan00000000000000", "12345678901234567"}) {
        for (int column = 0; column < 3; ++column) {
            std::string changed = row;
            changed.replace(size_t(column) * 18, 17, wide);
            std::ofstream(csv, std::ios::binary | std::ios::trunc) << header << row << row;
            std::ofstream(mdb, std::ios::binary | std::ios::trunc) << "old";
            RewritingHandler handler;
            handler.path = csv;
            handler.bytes = header + row + changed;
            ui::ScopedHandler scope(&handler);
            app::ScopedFakeShell shell;
            const bool imported = MdbUtils::LoadTextFile(csv);
            // A double column takes any finite number; nothing else fits a column it was not read as. What
            // fits is refused too, once the whole file is read: it changed, its time put back or not.
            const bool fits = column == 2 && std::string(wide) != "nan00000000000000" &&
                              std::string(wide) != "12345678901234567";
            EXPECT_FALSE(imported) << wide << " in column " << column;
            ASSERT_EQ(handler.Messages().size(), 2u);
            EXPECT_TRUE(handler.Messages()[1].text.contains(fits ? QStringLiteral("changed while it was being imported")
                                                                 : QStringLiteral("row #2, field ") + QChar("isd"[column])))
                << handler.Messages()[1].text.toStdString();
        }
    }
}
