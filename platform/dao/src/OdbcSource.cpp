#include "OdbcSource.h"

#include "dao/odbc.h"
#include "jetsql.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

// The layer's helpers used here, declared by hand: internal.h cannot be
// included beside the ODBC headers, whose CHAR, ULONG and BOOL clash with
// the component runtime's.
namespace dao::detail {
[[noreturn]] void Raise(long number, std::string_view arg);
[[noreturn]] void RaiseSqlite(sqlite3* db, int rc, std::string_view context);
[[noreturn]] void RaiseWithDetail(long number, std::string_view arg, std::string_view detail);
std::string UpperUtf8(std::string_view s);
std::string U16ToUtf8(std::u16string_view s);
std::string FormatDouble(double v, int digits);
bool DateFromParts(int y, int m, int d, int hh, int mi, int ss, double* out);
}  // namespace dao::detail

namespace dao::detail {

namespace {

struct Column {
    std::string name;
    SQLSMALLINT type = 0;
    SQLLEN size = 0;
    std::string decl;
    enum Kind { Integer, Real, Single, Bit, Date, Text, Binary } kind = Text;
};

std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
    std::string all;
    SQLCHAR state[6], text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &len) == SQL_SUCCESS;
         ++i) {
        if (!all.empty()) all += " ";
        all += reinterpret_cast<char*>(text);
    }
    return all;
}

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

void MapType(Column& c, SQLSMALLINT digits) {
    switch (c.type) {
    case SQL_BIT: c.decl = "BIT"; c.kind = Column::Bit; break;
    case SQL_TINYINT: c.decl = "BYTE"; c.kind = Column::Integer; break;
    case SQL_SMALLINT: c.decl = "SHORT"; c.kind = Column::Integer; break;
    case SQL_INTEGER: c.decl = "LONG"; c.kind = Column::Integer; break;
    case SQL_BIGINT: c.decl = "BIGINT"; c.kind = Column::Integer; break;
    case SQL_REAL: c.decl = "SINGLE"; c.kind = Column::Single; break;
    case SQL_FLOAT:
    case SQL_DOUBLE: c.decl = "DOUBLE"; c.kind = Column::Real; break;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        if (digits == 0 && c.size > 0 && c.size <= 9) {
            c.decl = "LONG";
            c.kind = Column::Integer;
        } else {
            c.decl = "DOUBLE";
            c.kind = Column::Real;
        }
        break;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME: c.decl = "DATETIME"; c.kind = Column::Date; break;
    case SQL_GUID: c.decl = "GUID"; c.kind = Column::Text; break;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: c.decl = "LONGBINARY"; c.kind = Column::Binary; break;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        c.kind = Column::Text;
        c.decl = c.size > 0 && c.size <= 255 ? "TEXT(" + std::to_string(c.size) + ")" : "LONGTEXT";
        break;
    default: c.decl = "LONGTEXT"; c.kind = Column::Text; break;
    }
}

}  // namespace

struct OdbcSource::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    ~Handles() {
        if (connected) SQLDisconnect(dbc);
        if (dbc) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

namespace {

// A statement handle freed on every way out.
struct OdbcStatement {
    SQLHSTMT st = SQL_NULL_HSTMT;
    explicit OdbcStatement(SQLHDBC dbc) {
        if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st))) RaiseWithDetail(3146, {}, Diagnostic(SQL_HANDLE_DBC, dbc));
    }
    ~OdbcStatement() { SQLFreeHandle(SQL_HANDLE_STMT, st); }
    [[noreturn]] void Fail() const { RaiseWithDetail(3146, {}, Diagnostic(SQL_HANDLE_STMT, st)); }
    std::string Text(SQLUSMALLINT col) const {
        char buf[1024];
        SQLLEN ind = 0;
        if (!Ok(SQLGetData(st, col, SQL_C_CHAR, buf, sizeof buf, &ind)) || ind == SQL_NULL_DATA) return "";
        return buf;
    }
    long Number(SQLUSMALLINT col) const {
        SQLINTEGER v = 0;
        SQLLEN ind = 0;
        if (!Ok(SQLGetData(st, col, SQL_C_SLONG, &v, sizeof v, &ind)) || ind == SQL_NULL_DATA) return 0;
        return v;
    }
};

}  // namespace

OdbcSource::OdbcSource(const std::string& connect) : h_(std::make_unique<Handles>()) {
    std::string text = connect;
    if (UpperUtf8(text.substr(0, 5)) == "ODBC;") text = text.substr(5);
    // Messages name the source by its connect text, less any password.
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(';', pos);
        std::string part = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        std::string key = UpperUtf8(part.substr(0, part.find('=')));
        if (!part.empty() && key != "PWD" && key != "PASSWORD") name_ += (name_.empty() ? "" : ";") + part;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    auto fail = [&](SQLSMALLINT type, SQLHANDLE handle) {
        RaiseWithDetail(3151, name_, handle ? Diagnostic(type, handle) : "");
    };
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h_->env))) fail(0, nullptr);
    SQLSetEnvAttr(h_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, h_->env, &h_->dbc))) fail(SQL_HANDLE_ENV, h_->env);
    // A server that does not answer must not hang the program.
    SQLSetConnectAttr(h_->dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    SQLCHAR out[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnect(h_->dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQLSMALLINT(text.size()),
                                    out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) fail(SQL_HANDLE_DBC, h_->dbc);
    h_->connected = true;
    SQLCHAR q[8] = {};
    SQLSMALLINT qLen = 0;
    if (Ok(SQLGetInfo(h_->dbc, SQL_IDENTIFIER_QUOTE_CHAR, q, sizeof q, &qLen)) && qLen > 0 && q[0] != ' ')
        quote_ = reinterpret_cast<char*>(q);
    else quote_.clear();
}

OdbcSource::~OdbcSource() = default;

std::vector<std::string> OdbcSource::Tables() {
    OdbcStatement s(h_->dbc);
    static const char kTypes[] = "TABLE,VIEW";
    if (!Ok(SQLTables(s.st, nullptr, 0, nullptr, 0, nullptr, 0,
                      reinterpret_cast<SQLCHAR*>(const_cast<char*>(kTypes)), SQL_NTS)))
        s.Fail();
    std::vector<std::string> names;
    while (Ok(SQLFetch(s.st))) names.push_back(s.Text(3));
    return names;
}

namespace {

std::vector<Column> ReadColumns(SQLHDBC dbc, const std::string& table, std::vector<std::string>* key) {
    std::vector<Column> cols;
    {
        OdbcStatement s(dbc);
        if (!Ok(SQLColumns(s.st, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>(table.c_str())),
                           SQL_NTS, nullptr, 0)))
            s.Fail();
        while (Ok(SQLFetch(s.st))) {
            // The name is a pattern: "_" matches any character, so keep exact names only.
            if (s.Text(3) != table) continue;
            Column c;
            c.name = s.Text(4);
            c.type = SQLSMALLINT(s.Number(5));
            c.size = s.Number(7);
            MapType(c, SQLSMALLINT(s.Number(9)));
            cols.push_back(c);
        }
    }
    if (cols.empty()) Raise(3078, table);
    OdbcStatement k(dbc);
    std::vector<std::pair<long, std::string>> parts;
    if (Ok(SQLPrimaryKeys(k.st, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>(table.c_str())),
                          SQL_NTS))) {
        while (Ok(SQLFetch(k.st)))
            if (k.Text(3) == table) parts.emplace_back(k.Number(5), k.Text(4));
    }
    std::sort(parts.begin(), parts.end());
    for (auto& p : parts) key->push_back(p.second);
    return cols;
}

// Binds column col of the row just fetched, read as c's kind, as parameter
// col of ins. buf and wide are scratch space kept from one value to the next.
void CopyValue(const OdbcStatement& s, const Column& c, SQLUSMALLINT col, sqlite3_stmt* ins, std::vector<char>& buf,
               std::u16string& wide) {
    const int at = col;
    SQLLEN ind = 0;
    SQLRETURN r = SQL_SUCCESS;
    switch (c.kind) {
    case Column::Integer:
    case Column::Bit: {
        SQLBIGINT v = 0;
        r = SQLGetData(s.st, col, SQL_C_SBIGINT, &v, sizeof v, &ind);
        if (Ok(r) && ind != SQL_NULL_DATA) sqlite3_bind_int64(ins, at, c.kind == Column::Bit ? (v ? -1 : 0) : v);
        break;
    }
    case Column::Real:
    case Column::Single: {
        double v = 0;
        r = SQLGetData(s.st, col, SQL_C_DOUBLE, &v, sizeof v, &ind);
        if (Ok(r) && ind != SQL_NULL_DATA) {
            if (c.kind == Column::Single && std::isfinite(v))
                v = std::strtod(FormatDouble(float(v), 7).c_str(), nullptr);
            sqlite3_bind_double(ins, at, v);
        }
        break;
    }
    case Column::Date: {
        SQL_TIMESTAMP_STRUCT t{};
        r = SQLGetData(s.st, col, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind);
        if (Ok(r) && ind != SQL_NULL_DATA) {
            double serial = 0;
            bool dated = c.type == SQL_TYPE_TIME
                             ? DateFromParts(1899, 12, 30, t.hour, t.minute, t.second, &serial)
                             : DateFromParts(t.year, t.month, t.day, t.hour, t.minute, t.second, &serial);
            if (dated) sqlite3_bind_double(ins, at, serial);
            else ind = SQL_NULL_DATA;
        }
        break;
    }
    case Column::Text: {
        // Wide text, in pieces: the driver's own character set does not matter.
        wide.clear();
        while (true) {
            r = SQLGetData(s.st, col, SQL_C_WCHAR, buf.data(), SQLLEN(buf.size()), &ind);
            if (!Ok(r) || ind == SQL_NULL_DATA) break;
            size_t got = ind == SQL_NO_TOTAL || size_t(ind) >= buf.size() - 2 ? buf.size() - 2 : size_t(ind);
            wide.append(reinterpret_cast<const char16_t*>(buf.data()), got / 2);
            if (r == SQL_SUCCESS) break;
        }
        if (Ok(r) && ind != SQL_NULL_DATA) {
            std::string u8 = U16ToUtf8(wide);
            sqlite3_bind_text(ins, at, u8.data(), int(u8.size()), SQLITE_TRANSIENT);
        } else if (r == SQL_NO_DATA) {
            r = SQL_SUCCESS;
        }
        break;
    }
    case Column::Binary: {
        std::string bytes;
        while (true) {
            r = SQLGetData(s.st, col, SQL_C_BINARY, buf.data(), SQLLEN(buf.size()), &ind);
            if (!Ok(r) || ind == SQL_NULL_DATA) break;
            size_t got = ind == SQL_NO_TOTAL || size_t(ind) > buf.size() ? buf.size() : size_t(ind);
            bytes.append(buf.data(), got);
            if (r == SQL_SUCCESS) break;
        }
        if (Ok(r) && ind != SQL_NULL_DATA)
            sqlite3_bind_blob(ins, at, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
        else if (r == SQL_NO_DATA) r = SQL_SUCCESS;
        break;
    }
    }
    if (!Ok(r)) s.Fail();
    if (ind == SQL_NULL_DATA) sqlite3_bind_null(ins, at);
}

}  // namespace

void OdbcSource::CreateTable(sqlite3* db, const std::string& schema, const std::string& table) {
    std::vector<std::string> key;
    auto cols = ReadColumns(h_->dbc, table, &key);
    std::string sql = "CREATE TABLE " + QuoteIdent(schema) + "." + QuoteIdent(table) + " (";
    for (size_t i = 0; i < cols.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(cols[i].name) + " " + cols[i].decl;
    if (!key.empty()) {
        sql += ", PRIMARY KEY (";
        for (size_t i = 0; i < key.size(); ++i) sql += (i ? ", " : "") + QuoteIdent(key[i]);
        sql += ")";
    }
    sql += ")";
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) RaiseSqlite(db, rc, table);
}

void OdbcSource::CopyRows(sqlite3* db, const std::string& schema, const std::string& table) {
    std::vector<std::string> key;
    auto cols = ReadColumns(h_->dbc, table, &key);
    auto q = [&](const std::string& n) {
        if (quote_.empty()) return n;
        std::string r = quote_;
        for (char c : n) {
            r += c;
            if (std::string(1, c) == quote_) r += c;
        }
        return r + quote_;
    };
    std::string select = "SELECT ";
    std::string insert = "INSERT INTO " + QuoteIdent(schema) + "." + QuoteIdent(table) + " VALUES (";
    for (size_t i = 0; i < cols.size(); ++i) {
        select += (i ? ", " : "") + q(cols[i].name);
        insert += i ? ", ?" : "?";
    }
    select += " FROM " + q(table);
    insert += ")";

    sqlite3_stmt* ins = nullptr;
    int rc = sqlite3_prepare_v2(db, insert.c_str(), -1, &ins, nullptr);
    if (rc != SQLITE_OK) RaiseSqlite(db, rc, table);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> insFree(ins, sqlite3_finalize);
    OdbcStatement s(h_->dbc);
    if (!Ok(SQLExecDirect(s.st, reinterpret_cast<SQLCHAR*>(select.data()), SQLINTEGER(select.size())))) s.Fail();
    std::vector<char> buf(64 * 1024);
    std::u16string wide;
    while (true) {
        SQLRETURN fr = SQLFetch(s.st);
        if (fr == SQL_NO_DATA) break;
        if (!Ok(fr)) s.Fail();
        for (size_t i = 0; i < cols.size(); ++i) CopyValue(s, cols[i], SQLUSMALLINT(i + 1), ins, buf, wide);
        rc = sqlite3_step(ins);
        sqlite3_reset(ins);
        sqlite3_clear_bindings(ins);
        if (rc != SQLITE_DONE) RaiseSqlite(db, rc, table);
    }
}

}  // namespace dao::detail

namespace dao {

std::vector<OdbcDataSource> OdbcDataSources() {
    std::vector<OdbcDataSource> out;
    SQLHENV env = SQL_NULL_HENV;
    if (!detail::Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return out;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
    SQLCHAR driver[512];
    SQLSMALLINT nameLen = 0, driverLen = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (detail::Ok(SQLDataSources(env, direction, name, sizeof name, &nameLen, driver, sizeof driver,
                                     &driverLen))) {
        out.push_back({reinterpret_cast<char*>(name), reinterpret_cast<char*>(driver)});
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return out;
}

}  // namespace dao
