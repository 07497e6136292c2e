// Jet SQL to SQLite: tokenizer, expression parser and statement rewriter.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dao::detail {

struct Token {
    enum Kind { Ident, QuotedIdent, String, Number, Date, Op, End };
    Kind kind = End;
    std::string text;  // identifier name (unquoted), string value, number text, date serial text, operator
    size_t pos = 0;
    bool Is(const char* keyword) const;  // identifier equal to keyword, case-insensitive
    bool IsOp(const char* op) const { return kind == Op && text == op; }
};

// Splits Jet SQL into tokens; 3075 for an unterminated literal or name.
std::vector<Token> Tokenize(std::string_view sql);

// What the translator asks of the database it translates for.
class SchemaResolver {
public:
    virtual ~SchemaResolver() = default;
    // A table name as written to the SQLite schema and table it stands for
    // (links resolve to their attached source). False when unknown.
    virtual bool ResolveTable(const std::string& name, std::string* schema, std::string* table) = 0;
    // DAO type of a column (0 when unknown); size set when known.
    virtual short ColumnType(const std::string& schema, const std::string& table, const std::string& column,
                             long* size) = 0;
    // Column names of the primary index, in order; empty when none.
    virtual std::vector<std::string> PrimaryKey(const std::string& schema, const std::string& table) = 0;
    // The name that reaches a table's hidden row key: "rowid" unless a
    // column of the table has taken that name.
    virtual std::string RowidName(const std::string& schema, const std::string& table) {
        (void)schema;
        (void)table;
        return "rowid";
    }
};

struct TableRef {
    std::string written;  // the name in the statement
    std::string alias;    // the name columns are qualified with in the output SQL
    std::string schema;   // SQLite schema ("main", "lnk1" ...)
    std::string table;    // SQLite table name
    std::string rowid = "rowid";  // the name of its hidden row key (RowidName)
    bool subquery = false;
};

struct SelectInfo {
    std::string sql;  // the whole SQLite statement
    // The same statement with the columns that rows are made distinct on left
    // as written, without the comparison given to them: SQLite tells where such
    // a column comes from and how it is declared only there. Empty when sql
    // tells it itself.
    std::string describeSql;
    std::string distinct;
    std::vector<std::string> items;      // translated select items (with AS where named)
    std::vector<std::string> itemNames;  // output names; "*" or "T.*" for stars
    std::vector<short> itemTypes;        // DAO type hints (0 unknown)
    std::vector<long> itemSizes;
    std::string from, where, groupBy, having, orderBy, limit;
    bool keyOrder = false;  // orderBy is the first table's key, ascending, put there for want of one
    std::vector<TableRef> tables;
    bool aggregate = false;  // aggregates, GROUP BY, DISTINCT, UNION or TOP: rows are not base-table rows
    bool keyable = false;    // every row maps to one row of each base table
    std::string into;        // SELECT ... INTO target
};

enum class StmtKind { Select, SelectInto, Insert, Update, Delete, CreateTable, CreateIndex, AlterTable, DropTable, DropIndex };

struct ColumnDef {
    std::string name;
    short type = 10;
    long size = 255;
    bool autoIncrement = false;
    bool notNull = false;
    bool primary = false;
    bool unique = false;
    std::string constraintName;
};

struct ConstraintDef {
    std::string name;
    bool primary = false;
    bool unique = false;
    std::vector<std::string> columns;
};

struct Statement {
    StmtKind kind = StmtKind::Select;
    std::string sql;  // translated SQL for Select, Insert, Update, Delete
    SelectInfo select;
    std::string table;  // target table as written
    std::vector<ColumnDef> columns;
    std::vector<ConstraintDef> constraints;
    std::string indexName;
    std::vector<std::pair<std::string, bool>> indexColumns;  // name, descending
    bool unique = false, primary = false, disallowNull = false, ignoreNull = false;
    enum AlterOp { AddColumn, DropColumn, AddConstraint, DropConstraint } alterOp = AddColumn;
    std::string dropName;
};

Statement TranslateStatement(std::string_view sql, SchemaResolver* resolver);
// A Jet criterion (WHERE clause text without WHERE) as an SQLite condition.
// stripQualifiers turns T.F into F (criteria on a record set's own columns).
std::string TranslateCriteria(std::string_view criteria, SchemaResolver* resolver, bool stripQualifiers);

std::string QuoteIdent(std::string_view name);
std::string QuoteString(std::string_view text);

}  // namespace dao::detail
