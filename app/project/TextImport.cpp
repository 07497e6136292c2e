#include "TextImport.h"

#include "AppErrors.h"
#include "AppServices.h"
#include "CSafeFile.h"
#include "MFileUtils.h"
#include "MUtilities.h"
#include "dao/dao.h"
#include "file/Error.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace MdbUtils {

namespace {

// Whole numbers beyond this are not held exactly by a double; written as
// digits they go to a text column so that no digit is lost.
constexpr double kDoubleExact = 9007199254740992.0;  // 2^53
// A single holds every whole number up to 2^24; above that a fraction column
// would round integer parts.
constexpr double kSingleExact = 16777216.0;  // 2^24

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* ImportTypeSql(ImportType type) {
    switch (type) {
    case ImportType::Long: return "LONG";
    case ImportType::Single: return "SINGLE";
    case ImportType::Double: return "DOUBLE";
    case ImportType::Text: return "Text(255)";
    }
    return "Text(255)";
}

bool ParseImportNumber(std::string_view text, double* value, bool* isInteger) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) return false;

    // Check the grammar ourselves: from_chars would also take "inf" and "nan".
    size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') {
        negative = t[i] == '-';
        ++i;
    }
    size_t digitsStart = i;
    size_t intDigits = 0, fracDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++intDigits;
    bool point = false, exponent = false;
    if (i < t.size() && t[i] == '.') {
        point = true;
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        exponent = true;
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;

    std::string_view body = t.substr(digitsStart);
    double v = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != body.data() + body.size() || !std::isfinite(v)) return false;
    if (value) *value = negative ? -v : v;
    if (isInteger) *isInteger = !point && !exponent;
    return true;
}

void ImportColumnScan::Add(std::string_view value, int64_t row) {
    if (Decided()) return;
    if (value.empty()) {
        mMissingRow = row;
        return;
    }
    double v = 0;
    bool integerText = false;
    if (!ParseImportNumber(value, &v, &integerText)) {
        mText = true;
        return;
    }
    double a = std::fabs(v);
    if (integerText && a >= kDoubleExact) {
        // Digits a double cannot keep: keep them as text.
        mText = true;
        return;
    }
    if (a > mMaxAbs) mMaxAbs = a;
    if (v != std::trunc(v))
        mFraction = true;
    else if (v < -2147483648.0 || v > 2147483647.0)
        mOutsideLong = true;
}

ImportType ImportColumnScan::Type() const {
    if (mText) return ImportType::Text;
    if (mFraction) return mMaxAbs <= kSingleExact ? ImportType::Single : ImportType::Double;
    return mOutsideLong ? ImportType::Double : ImportType::Long;
}

namespace {

// Field names clash for the database when its collation finds them equal.
bool SameName(const std::string& a, const std::string& b) { return dao::CompareText(a, b) == 0; }

}  // namespace

std::vector<std::string> MakeImportFieldNames(const std::vector<std::string>& header) {
    std::vector<std::string> names = header;
    for (size_t k = 0; k < names.size(); ++k)
        if (names[k].empty()) names[k] = "#" + std::to_string(k);
    for (size_t k = 1; k < names.size(); ++k) {
        const std::string own = "#" + std::to_string(k);
        for (size_t j = 0; j < k; ++j) {
            if (SameName(names[k], names[j])) names[k] = (names[k] == own) ? own + "-" : own;
        }
        // The renaming above looks only forward; make sure no earlier name matches.
        for (bool clash = true; clash;) {
            clash = false;
            for (size_t j = 0; j < k && !clash; ++j)
                if (SameName(names[k], names[j])) clash = true;
            if (clash) names[k] += "-";
        }
    }
    return names;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int n;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) n = 1, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF) n = 2, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4) n = 3, cp = c & 0x07;
        else return false;
        if (i + n >= s.size()) return false;
        for (int k = 1; k <= n; ++k) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::string DecodeWindows1252(std::string_view bytes) {
    // 0x80..0x9F; the five codes the code page leaves open map to the C1 controls.
    static const char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        uint32_t cp = c < 0x80 ? c : (c < 0xA0 ? kHigh[c - 0x80] : c);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

namespace {

// Anything but a regular file (a FIFO, a device) would block or never end.
void RefuseNonRegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) app::RaiseError(75);
}

// What tells one state of a file from another: a file put in its place has
// another inode, one rewritten in place another size or modification time,
// or, when that time was put back (touch -r, rsync --inplace -t), another
// change time, which no one can set.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    // All but the change time: a file rewritten with its time put back is
    // first read on, so that a value that no longer fits is named.
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size && Same(modified, o.modified);
    }
    bool SameChange(const FileIdentity& o) const { return Same(changed, o.changed); }
    static bool Same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
};

// A checksum of every byte read (FNV-1a), the same however the reads split
// them: two readings that differ anywhere, even within the times' resolution,
// differ here.
constexpr uint64_t kSumStart = 14695981039346656037ull;

uint64_t AddToSum(uint64_t sum, const char* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) sum = (sum ^ uint8_t(bytes[i])) * 1099511628211ull;
    return sum;
}

// Reads a text file line by line, without the line end: "\r\n", "\n" or a
// lone "\r" (files written with old line ends).
class LineReader {
public:
    explicit LineReader(const QString& path) : mPath(path) {
        const std::string name = QFile::encodeName(path).toStdString();
        std::error_code ec;
        if (std::filesystem::is_directory(name, ec)) app::RaiseError(75);
        RefuseNonRegularFile(name);
        mFd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (mFd < 0) {
            int err = errno;
            if (err == ENOENT || err == ENOTDIR) app::RaiseError(53);
            app::RaiseError(75);
        }
        mOpened = Identity();
    }
    ~LineReader() { ::close(mFd); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool Next(std::string& line) {
        line.clear();
        bool any = false;
        for (;;) {
            if (mPos == mLen && !Fill()) {
                if (!any) return false;
                break;
            }
            any = true;
            const char* start = mBuf + mPos;
            size_t n = 0;
            while (mPos + n < mLen && start[n] != '\n' && start[n] != '\r') ++n;
            line.append(start, n);
            mPos += n;
            if (mPos == mLen) continue;
            const char end = mBuf[mPos++];
            if (end == '\r') {
                if (mPos == mLen) Fill();
                if (mPos < mLen && mBuf[mPos] == '\n') ++mPos;
            }
            break;
        }
        if (mFirst) {
            mFirst = false;
            // A byte-order mark is not part of the first name.
            if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        }
        return true;
    }

    // The file as it was when it was opened.
    const FileIdentity& Opened() const { return mOpened; }
    // The open file now.
    FileIdentity Identity() const {
        struct stat st {};
        if (::fstat(mFd, &st) != 0) throw app::RuntimeError(57, "Device I/O error");
        return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    // What was read so far, as a checksum.
    uint64_t Sum() const { return mSum; }
    // Stops the import when the file is not the one (or not as) expected;
    // with sum, at the end, also when it was changed at all since, or what was
    // read differs from what that reading read.
    void Require(const FileIdentity& expected, const uint64_t* sum = nullptr) const {
        const FileIdentity now = Identity();
        if (now == expected && (!sum || (now.SameChange(expected) && *sum == mSum))) return;
        const std::string file = mPath.toStdString();
        if (now.device != expected.device || now.inode != expected.inode)
            throw app::RuntimeError(75, "The file " + file +
                                            " was replaced by another file while it was being imported. Nothing "
                                            "was imported; import it again.");
        throw app::RuntimeError(75, "The file " + file +
                                        " changed while it was being imported (its size, times or contents differ "
                                        "from when it was first read). Nothing was imported; import it again.");
    }

private:
    bool Fill() {
        mPos = 0;
        ssize_t n;
        do n = ::read(mFd, mBuf, sizeof mBuf);
        while (n < 0 && errno == EINTR);
        if (n < 0) throw app::RuntimeError(57, "Device I/O error");
        mLen = size_t(n);
        mSum = AddToSum(mSum, mBuf, mLen);
        return mLen > 0;
    }

    QString mPath;
    int mFd = -1;
    FileIdentity mOpened;
    uint64_t mSum = kSumStart;
    char mBuf[1 << 16];
    size_t mPos = 0, mLen = 0;
    bool mFirst = true;
};

bool IsBlankLine(std::string_view line) {
    for (char c : line)
        if (c != ' ') return false;
    return true;
}

std::string TrimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return std::string(s.substr(b, e - b));
}

// What the first reading of the file found.
struct Scan {
    std::vector<std::string> header;  // raw bytes, trimmed
    std::vector<ImportColumnScan> columns;
    int64_t rows = 0;                 // data rows
    int64_t badCountRow = 0;          // first row whose field count differs, 0 for none
    bool utf8 = true;
    FileIdentity file;                // the file that was read
    uint64_t sum = 0;                 // and what was read of it
};

void ScanFile(const QString& path, Scan& scan) {
    LineReader reader(path);
    std::string line;
    std::vector<std::string_view> parts;
    int64_t row = -1;
    while (reader.Next(line)) {
        if (IsBlankLine(line)) continue;
        ++row;
        if (scan.utf8 && !IsValidUtf8(line)) scan.utf8 = false;
        MUtilities::Split(",", line, parts);
        if (row == 0) {
            for (auto p : parts) scan.header.push_back(TrimBlanks(p));
            scan.columns.resize(parts.size());
            continue;
        }
        if (parts.size() != scan.header.size()) {
            scan.badCountRow = row;
            return;
        }
        scan.rows = row;
        for (size_t k = 0; k < parts.size(); ++k) scan.columns[k].Add(parts[k], row);
    }
    reader.Require(reader.Opened());
    scan.file = reader.Opened();
    scan.sum = reader.Sum();
}

// Jet refuses these in object names; they would also end a bracketed name early.
void CheckName(const std::string& name) {
    size_t characters = 0;
    bool ok = !name.empty() && name.front() != ' ';
    for (unsigned char c : name) {
        if ((c & 0xC0) != 0x80) ++characters;
        if (c < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']') ok = false;
    }
    if (characters > 64) ok = false;
    if (!ok) throw dao::DaoError(3125, dao::ErrorDescription(3125, name));
}

// A table holds at most 255 fields, the key among them.
void CheckFieldCount(size_t columns) {
    constexpr size_t kMaxFields = 255;
    if (columns + 1 > kMaxFields)
        throw dao::DaoError(3190, "Too many fields defined. The file has " + std::to_string(columns) +
                                      " fields; a table holds " + std::to_string(kMaxFields - 1) +
                                      " besides its key field.");
}

std::string MakeCreateTable(const std::string& table, const std::vector<std::string>& names,
                            const std::vector<ImportType>& types) {
    std::string sql = "CREATE TABLE [" + table + "] ( IndexCounter1 AUTOINCREMENT CONSTRAINT PrimaryKey PRIMARY KEY, ";
    for (size_t k = 0; k < names.size(); ++k) sql += "[" + names[k] + "] " + ImportTypeSql(types[k]) + ", ";
    sql.resize(sql.size() - 2);
    sql += ");";
    return sql;
}

// The value in the column's type. The first reading chose the type from every
// value, so a value that does not fit it now means the file changed: that stops
// the import, naming where, instead of storing a different or arbitrary number.
com::Variant ValueFor(std::string_view text, ImportType type, bool utf8, int64_t row, const std::string& field) {
    if (type == ImportType::Text) {
        if (text.empty()) return com::Variant::Null();
        return com::Variant::Str(utf8 ? std::string(text) : DecodeWindows1252(text));
    }
    auto refuse = [&](long number, const char* why) {
        std::string shown(text.substr(0, 40));
        if (text.size() > shown.size()) shown += "...";
        if (!utf8) shown = DecodeWindows1252(shown);
        throw app::RuntimeError(number, "The value \"" + shown + "\" in row #" + std::to_string(row) + ", field " +
                                            field + " " + why + " (column type " + ImportTypeSql(type) +
                                            "). The file changed after it was first read; import it again.");
    };
    double v = 0;
    bool integerText = false;
    if (!ParseImportNumber(text, &v, &integerText)) refuse(13, "is not a number");
    if (integerText && std::fabs(v) >= kDoubleExact) refuse(13, "has more digits than a number keeps");
    switch (type) {
    case ImportType::Long:
        if (v != std::trunc(v)) refuse(13, "is not a whole number");
        if (!(v >= -2147483648.0 && v <= 2147483647.0)) refuse(6, "is beyond the 32-bit range");
        return com::Variant::I4(static_cast<LONG>(v));
    case ImportType::Single:
        if (!(std::fabs(v) <= kSingleExact)) refuse(6, "is beyond the range a single holds exactly");
        return com::Variant::R4(static_cast<FLOAT>(v));
    case ImportType::Double:
    case ImportType::Text:
        break;
    }
    return com::Variant::R8(v);
}

// Copies the rows of the file into the new table.
// A value the new table cannot take: the layer's error, naming where it stands in the file.
[[noreturn]] void RaiseValueError(const dao::DaoError& e, int64_t row, const std::string& field) {
    throw dao::DaoError(e.Number(), e.Description() + " (row #" + std::to_string(row) + ", field " + field + ")");
}

void WriteRows(const QString& path, dao::Database& db, const std::string& table, const Scan& scan,
               const std::vector<ImportType>& types, const std::vector<std::string>& names) {
    auto rs = db.OpenRecordset("[" + table + "]", dao::RecordsetType::Dynaset);
    LineReader reader(path);
    reader.Require(scan.file);
    std::string line;
    std::vector<std::string_view> parts;
    int64_t row = -1;
    dao::Transaction written(db);
    while (reader.Next(line)) {
        if (IsBlankLine(line)) continue;
        if (++row == 0) continue;
        MUtilities::Split(",", line, parts);
        if (parts.size() != scan.header.size() || row > scan.rows)
            throw app::RuntimeError(75, "The file changed while it was being imported.");
        rs->AddNew();
        for (size_t k = 0; k < parts.size(); ++k) {
            com::Variant value = ValueFor(parts[k], types[k], scan.utf8, row, names[k]);
            try {
                rs->Fields(static_cast<int>(k) + 1).SetValue(std::move(value));
            } catch (const dao::DaoError& e) {
                RaiseValueError(e, row, names[k]);
            }
        }
        rs->Update();
    }
    if (row < scan.rows) throw app::RuntimeError(75, "The file changed while it was being imported.");
    reader.Require(scan.file, &scan.sum);
    written.Commit();
    rs->Close();
}

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

std::string ImportDatabasePath(const std::string& textPath) {
    return MFileUtils::GetFileDir(textPath) + MFileUtils::GetFileBase(textPath) + ".mdb";
}

bool LoadTextFile(const std::string& utf8Path) {
    const QString path = Q(utf8Path);
    std::unique_ptr<CSafeFile> made;
    // An earlier import's "successful" must not stand beside this one's failure.
    app::StatusText(QString());
    try {
        Scan scan;
        ScanFile(path, scan);
        if (scan.badCountRow > 0) {
            ui::MsgBox(QStringLiteral("Number of fields Does Not match number of field names at row #%1")
                           .arg(scan.badCountRow),
                       ui::Buttons::OK, ui::Icon::Exclamation, QStringLiteral("Bad Import Data"));
            return false;
        }
        int64_t missing = scan.rows == 0 ? 1 : 0;  // a file without data rows misses row 1
        std::vector<ImportType> types;
        for (const auto& c : scan.columns) {
            if (missing == 0 && c.MissingRow() > 0) missing = c.MissingRow();
            types.push_back(c.Type());
        }
        if (missing > 0) {
            ui::MsgBox(QStringLiteral("Missing value in row #%1.  Import stoped.").arg(missing), ui::Buttons::OK,
                       ui::Icon::Exclamation, QStringLiteral("Bad Data"));
            return false;
        }

        std::vector<std::string> header;
        for (const auto& h : scan.header) header.push_back(scan.utf8 ? h : DecodeWindows1252(h));
        std::vector<std::string> names = MakeImportFieldNames(header);
        const std::string table = MFileUtils::GetFileBase(utf8Path);
        CheckName(table);
        for (const auto& n : names) CheckName(n);
        CheckFieldCount(names.size());

        const QString dbPath = Q(ImportDatabasePath(utf8Path));
        file::RefuseNotAFile(Utf8(dbPath));
        if (QFileInfo::exists(dbPath)) {
            if (ui::MsgBox(dbPath + QStringLiteral(" Exists.  Overwrite?"), ui::Buttons::YesNo, ui::Icon::Exclamation,
                           QStringLiteral("Warning!")) != ui::Answer::Yes)
                return false;
        }

        // Built aside and moved into place when complete in its one file and
        // checked, so that a failure leaves the old database (or none), never a
        // half-filled one.
        made = std::make_unique<CSafeFile>(Utf8(dbPath), nullptr);
        {
            auto db = dao::DBEngine::CreateDatabase(made->TempPath(), dao::dbLangGeneral);
            db->Execute(MakeCreateTable(table, names, types));
            WriteRows(path, *db, table, scan, types, names);
            db->Finish();
        }
        made->CommitDatabase();

        app::StatusText(QStringLiteral("Import to ") + dbPath + QStringLiteral(" successful."));
        return true;
    } catch (...) {
        // Explained with the file being made; shown under the import's title.
        app::ErrInfo e = app::CurrentError();
        if (made) e.description = made->Explain(e.description);
        ui::MsgBox(ui::ErrorText(e.number, QString::fromStdString(e.description)), ui::Buttons::OK, ui::Icon::None,
                   QStringLiteral("LoadTextFile"));
    }
    return false;
}

}  // namespace MdbUtils
