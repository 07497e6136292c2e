// The database layer: DAO-shaped objects over SQLite 3.
//
// Databases, table definitions, fields, indexes and record sets behave as the
// application code expects of the classic data-access objects: values are
// VARIANTs, SQL is written in the Jet dialect (translated to SQLite), text
// compares case-insensitively, and failures raise dao::DaoError carrying the
// Jet error number and description.
//
// Object model:
//   - Database, Recordset and Workspace are handed out as std::shared_ptr.
//   - TableDef, Field and Index are small handle classes with reference
//     semantics: copies refer to the same object (as object variables do).
//   - Collections (TableDefs, Fields, Indexes) are reached by reference from
//     their owner and index by ordinal (from 0) or by name (case-insensitive).
//
// Threading: a Database and everything opened from it belong to the thread
// that opened it. Nothing here is Qt-aware.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "com/oleauto.h"

namespace dao {

// ------------------------------------------------------------------ constants

// Field type codes (Field::Type), as DAO numbers them.
enum DataTypeEnum : short {
    dbBoolean = 1,
    dbByte = 2,
    dbInteger = 3,     // 16-bit
    dbLong = 4,        // 32-bit
    dbCurrency = 5,
    dbSingle = 6,
    dbDouble = 7,
    dbDate = 8,
    dbBinary = 9,
    dbText = 10,
    dbLongBinary = 11,
    dbMemo = 12,
    dbGUID = 15,
    dbBigInt = 16,
    dbVarBinary = 17,
    dbChar = 18,
    dbNumeric = 19,
    dbDecimal = 20,
    dbFloat = 21,
    dbTime = 22,
    dbTimeStamp = 23,
};

// Field::Attributes bits.
enum FieldAttributeEnum : long {
    dbFixedField = 0x1,
    dbVariableField = 0x2,
    dbAutoIncrField = 0x10,
    dbUpdatableField = 0x20,
};

// TableDef::Attributes bits.
enum TableDefAttributeEnum : long {
    dbHiddenObject = 0x1,
    dbSystemObject = static_cast<long>(0x80000002u),
    dbAttachExclusive = 0x10000,
    dbAttachSavePWD = 0x20000,
    dbAttachedODBC = 0x20000000,
    dbAttachedTable = 0x40000000,
};

// Record set kinds. Default picks what DAO picks: Table for a local table
// name, Dynaset for a linked table or an SQL statement.
enum class RecordsetType : int {
    Default = 0,
    Table = 1,
    Dynaset = 2,
    Snapshot = 4,
    ForwardOnly = 8,
};
constexpr int dbOpenTable = 1;
constexpr int dbOpenDynaset = 2;
constexpr int dbOpenSnapshot = 4;
constexpr int dbOpenForwardOnly = 8;

// OpenRecordset / Execute option bits.
enum RecordsetOptionEnum : int {
    dbDenyWrite = 0x1,
    dbDenyRead = 0x2,
    dbReadOnly = 0x4,
    dbAppendOnly = 0x8,
    dbSQLPassThrough = 0x40,
    dbFailOnError = 0x80,
    dbSeeChanges = 0x200,
    // A sorted dynaset reads its first rows with a LIMIT query of their own
    // (SQLite then keeps only the top rows) and sorts all of them when a later
    // row is asked for: a view shows its first page sooner, at the price of one
    // more pass for a caller that reads them all.
    dbFirstRowsFast = 0x10000,
};

// Recordset::EditMode values.
enum EditModeEnum : int {
    dbEditNone = 0,
    dbEditInProgress = 1,
    dbEditAdd = 2,
};

// The locale string that the application passes to CreateDatabase (general
// sort order, code page 1252). Every database uses the one collation below.
inline constexpr const char* dbLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";

// ------------------------------------------------------------------ errors

// A numbered database error: Number is the Jet/DAO error number (3021, 3265,
// 3343 ...), Description its text with names filled in. what() gives the
// description. VB-runtime errors raised by the typed readers use their own
// numbers (13 type mismatch, 94 invalid use of Null).
class DaoError : public std::runtime_error {
public:
    DaoError(long number, std::string description);
    long Number() const { return number_; }
    const std::string& Description() const { return description_; }

private:
    long number_;
    std::string description_;
};

// A file written by a newer version of this program: not opened, so that
// nothing in it changes.
inline constexpr long kNewerFile = 3860;

// The standard description for an error number; '|' placeholders are
// replaced by arg (as Jet fills in file and object names).
std::string ErrorDescription(long number, std::string_view arg = {});

// ------------------------------------------------------------------ text

// The one comparison of text, the database's and the program's: as SQLite's
// NOCASE, the letters A-Z equal a-z and every other character is itself, so
// texts order by code point ("abc" equals "ABC"; "é" and "É" differ; "_"
// sorts before "a"). Every statement the database layer generates compares,
// sorts and groups text this way; in-program lookups that must agree with the
// database call it. Returns <0, 0 or >0.
int CompareText(std::u16string_view a, std::u16string_view b);
int CompareText(std::string_view utf8a, std::string_view utf8b);

// Jet's Like: * any run, ? one character, # one digit, [abc] / [a-z] a set,
// [!abc] a negated set; letters compared as by CompareText.
bool LikeText(std::u16string_view text, std::u16string_view pattern);

// ------------------------------------------------------------------ typed reads

// Reading a VARIANT into a typed variable, with the runtime's rules: Null
// raises 94 "Invalid use of Null"; a value that does not convert raises 13
// "Type mismatch"; out of range raises 6 "Overflow". Numbers become text as
// CStr writes them (Single 7 significant digits, Double 15, Boolean "True"/"False").
std::string VarToString(const VARIANT& v);
// VarToString's text added to out, without temporaries (bulk writers).
void AppendVarString(std::string& out, const VARIANT& v);
std::u16string VarToU16(const VARIANT& v);
short VarToShort(const VARIANT& v);     // rounds half to even
int32_t VarToLong(const VARIANT& v);    // rounds half to even
float VarToSingle(const VARIANT& v);
double VarToDouble(const VARIANT& v);
bool VarToBool(const VARIANT& v);
DATE VarToDate(const VARIANT& v);

class Database;
class Recordset;
class Workspace;
class TableDef;
class Index;
struct FieldImpl;
struct TableDefImpl;
struct IndexImpl;
struct DatabaseImpl;
struct RecordsetImpl;

// ------------------------------------------------------------------ Field

// A column: of a table definition, of an index, or of a record set. A field
// made by CreateField (or the constructor) is free-standing until appended.
// Value/SetValue are for record-set fields; definition fields raise 3219.
class Field {
public:
    Field();  // an empty handle; every member raises 91
    Field(const std::string& name, short type, long size = 0);

    std::string Name() const;
    short Type() const;                     // DataTypeEnum, 1..23
    long Size() const;                      // Text: max characters; numbers: bytes
    long Attributes() const;                // FieldAttributeEnum bits
    void SetAttributes(long attributes);    // only before it is appended
    short OrdinalPosition() const;          // 0-based position in its collection
    std::string SourceField() const;        // the column's name in its base table ("" for an expression)
    std::string SourceTable() const;        // the base table's name ("" for an expression)
    bool Required() const;

    // The current record's value as DAO types it: I2, I4, R4, R8, CY, DATE,
    // BOOL, BSTR, UI1, array of UI1 for binary, or Null. Raises 3021 when
    // there is no current record.
    com::Variant Value() const;
    // Sets the value in the edit buffer (after AddNew or Edit; else 3020).
    // The value is converted to the field's type (13 when it cannot be,
    // 3163 when text is longer than Size).
    void SetValue(const VARIANT& v);
    Field& operator=(const com::Variant& v) { SetValue(v); return *this; }

    // Typed reads of Value() with the rules of the VarTo* functions above.
    std::string AsString() const { return VarToString(Value()); }
    std::u16string AsU16() const { return VarToU16(Value()); }
    short AsShort() const { return VarToShort(Value()); }
    int32_t AsLong() const { return VarToLong(Value()); }
    float AsSingle() const { return VarToSingle(Value()); }
    double AsDouble() const { return VarToDouble(Value()); }
    bool AsBool() const { return VarToBool(Value()); }
    DATE AsDate() const { return VarToDate(Value()); }
    bool IsNull() const { return Value().IsNull(); }

    explicit Field(std::shared_ptr<FieldImpl> impl);
    const std::shared_ptr<FieldImpl>& impl() const { return impl_; }

private:
    std::shared_ptr<FieldImpl> impl_;
};

// Ordered collection of fields (of a TableDef, an Index or a Recordset).
class Fields {
public:
    int Count() const;
    dao::Field Item(int index) const;               // 0-based; 3265 when out of range
    dao::Field Item(const std::string& name) const; // case-insensitive; 3265 when absent
    dao::Field operator[](int index) const { return Item(index); }
    dao::Field operator[](const std::string& name) const { return Item(name); }
    // TableDef fields: appended to a new table definition, or added as a
    // column to an existing table. Index fields: names the index's columns.
    // Recordset fields: 3219.
    void Append(const dao::Field& field);

    struct Iterator {
        const Fields* owner;
        int i;
        dao::Field operator*() const { return owner->Item(i); }
        Iterator& operator++() { ++i; return *this; }
        bool operator!=(const Iterator& o) const { return i != o.i; }
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, Count()}; }

    struct Impl;
    explicit Fields(Impl* impl) : impl_(impl) {}

private:
    Impl* impl_;  // owned by the object the collection belongs to
};

// ------------------------------------------------------------------ Index

// An index of a table definition. Fields names the indexed columns in order.
class Index {
public:
    Index();  // empty handle
    std::string Name() const;
    bool Primary() const;
    void SetPrimary(bool primary);          // only before it is appended
    bool Unique() const;                    // a primary index is unique
    dao::Fields& Fields();
    // A field to append to this index's Fields (type and size are ignored).
    dao::Field CreateField(const std::string& name, short type = 0, long size = 0);

    explicit Index(std::shared_ptr<IndexImpl> impl);
    const std::shared_ptr<IndexImpl>& impl() const { return impl_; }

private:
    std::shared_ptr<IndexImpl> impl_;
};

class Indexes {
public:
    int Count() const;
    dao::Index Item(int index) const;                // 3265 when out of range
    dao::Index Item(const std::string& name) const;  // 3265 when absent
    dao::Index operator[](int index) const { return Item(index); }
    dao::Index operator[](const std::string& name) const { return Item(name); }
    // Creates the index on the table (3022 when existing rows break a unique index;
    // 3283 "Primary key already exists" for a second primary index).
    void Append(const dao::Index& index);

    struct Iterator {
        const Indexes* owner;
        int i;
        dao::Index operator*() const { return owner->Item(i); }
        Iterator& operator++() { ++i; return *this; }
        bool operator!=(const Iterator& o) const { return i != o.i; }
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, Count()}; }

    struct Impl;
    explicit Indexes(Impl* impl) : impl_(impl) {}

private:
    Impl* impl_;
};

// ------------------------------------------------------------------ TableDef

// A table definition: a local table, or a link to a table in another file
// (Connect ";DATABASE=path", SourceTableName the table there). Links are
// stored in the database and reattached whenever it is opened, for reading
// only (writing through one raises 3027). "ODBC;" connect strings are
// stored; using such a link raises 3151.
class TableDef {
public:
    TableDef();  // empty handle
    bool IsNothing() const { return !impl_; }

    std::string Name() const;
    void SetName(const std::string& name);  // renames an appended table
    long Attributes() const;                // TableDefAttributeEnum bits
    std::string Connect() const;            // "" for a local table
    void SetConnect(const std::string& connect);        // links only; takes effect at RefreshLink/Append
    std::string SourceTableName() const;    // "" for a local table
    // The file a link to a database file reads, resolved as the link is
    // opened (a relative path from this database's folder); "" for a local
    // table or an ODBC link.
    std::string LinkedFile() const;
    // Re-points an appended link at its (changed) Connect; 3024 when the
    // source file is missing, 3078 when the source table is not in it.
    void RefreshLink();
    // What of a local table computes values as rows are written, beyond the
    // plain columns and indexes this layer makes: a default that is no short
    // literal, a generated column, an index on an expression or on part of
    // the rows, a virtual table module. "" when none (and for a link).
    std::string ComputedPart() const;
    // Rows of a local table; -1 for a linked table (not kept by the engine).
    long RecordCount() const;

    dao::Fields& Fields();
    dao::Indexes& Indexes();
    dao::Field CreateField(const std::string& name, short type = dbText, long size = 0);
    dao::Index CreateIndex(const std::string& name);
    std::shared_ptr<Recordset> OpenRecordset(RecordsetType type = RecordsetType::Default, int options = 0);

    explicit TableDef(std::shared_ptr<TableDefImpl> impl);
    const std::shared_ptr<TableDefImpl>& impl() const { return impl_; }

private:
    std::shared_ptr<TableDefImpl> impl_;
};

class TableDefs {
public:
    int Count() const;
    dao::TableDef Item(int index) const;                // 3265 when out of range
    dao::TableDef Item(const std::string& name) const;  // 3265 when absent
    dao::TableDef operator[](int index) const { return Item(index); }
    dao::TableDef operator[](const std::string& name) const { return Item(name); }
    // Creates the table (with its fields and indexes) or the link. 3010 when
    // a table of that name exists; 3024 when a link's source file is missing.
    void Append(const dao::TableDef& tableDef);
    void Delete(const std::string& name);  // drops the table or removes the link; 3265 when absent
    void Refresh();                        // re-reads the list from the file

    struct Iterator {
        const TableDefs* owner;
        int i;
        dao::TableDef operator*() const { return owner->Item(i); }
        Iterator& operator++() { ++i; return *this; }
        bool operator!=(const Iterator& o) const { return i != o.i; }
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, Count()}; }

    struct Impl;
    explicit TableDefs(Impl* impl) : impl_(impl) {}

private:
    Impl* impl_;
};

// ------------------------------------------------------------------ Recordset

// A cursor over a table or a query.
//   Table:       one local table, all columns, rows in the order of the current
//                Index (primary key by default); updatable; Seek works.
//   Dynaset:     rows of a table or query by key; updatable when every
//                column can be traced to a base table row; sees later changes
//                to rows it holds (not new rows of others until Requery).
//   Snapshot:    read-only; the set of rows is fixed when opened (rows of a
//                grouped or computed query are kept as read, rows of base
//                tables are re-read by key, so later edits to them show).
//   ForwardOnly: a read-only snapshot that only moves forward.
// A table or snapshot opened on a table name without ORDER BY presents its
// rows in primary-key order.
class Recordset {
public:
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    RecordsetType Type() const;
    std::string Name() const;         // the table name or SQL it was opened on
    bool Updatable() const;
    bool Bookmarkable() const;        // false for forward-only

    // Position. Bof()/Eof() are BOF/EOF (EOF is a C macro).
    bool Bof() const;
    bool Eof() const;
    void MoveFirst();                 // 3021 when there are no rows; forward-only: only before moving
    void MoveLast();                  // 3021 when there are no rows
    void MoveNext();                  // at Eof: 3021
    void MovePrevious();              // at Bof: 3021; forward-only: 3219
    void Move(long rows);             // from the current record; past either end leaves Bof/Eof

    // As DAO reports it: a table-type record set knows its count; the
    // others count the rows reached so far (MoveLast makes it the total).
    long RecordCount() const;
    long AbsolutePosition() const;    // 0-based; -1 without a current record
    void SetAbsolutePosition(long position);

    // A bookmark identifies a row of this record set and its clones (until Requery).
    int64_t Bookmark() const;         // 3021 without a current record
    void SetBookmark(int64_t bookmark);
    int64_t LastModified() const;     // the row last added or changed through this record set
    // A second cursor over the same rows, positioned at no record (BOF).
    std::shared_ptr<Recordset> Clone() const;

    // Fields of the current record.
    dao::Fields& Fields();
    dao::Field Fields(int index);                // 0-based ordinal; 3265 when out of range
    dao::Field Fields(const std::string& name);  // case-insensitive; 3265 when absent

    // Editing. Update writes the buffer: after AddNew a new row (auto-number
    // fields filled), after Edit the current row. 3022 on a duplicate key,
    // 3027 when not updatable, 3020 Update without AddNew/Edit.
    void AddNew();
    void Edit();                      // 3021 without a current record
    void Update();
    void CancelUpdate();
    void Delete();                    // the current record; it stays current but deleted
    int EditMode() const;             // EditModeEnum

    // Find: criteria in Jet syntax (a WHERE clause without WHERE). FindFirst
    // and FindLast search all rows, FindNext/FindPrevious from the current
    // one. A match becomes current; no match sets NoMatch and keeps the current row.
    void FindFirst(const std::string& criteria);
    void FindLast(const std::string& criteria);
    void FindNext(const std::string& criteria);
    void FindPrevious(const std::string& criteria);
    bool NoMatch() const;

    // Seek on a table-type record set: Index names the index ("PrimaryKey"),
    // comparison is "=", "<", "<=", ">", ">=" and keys the index's leading values.
    std::string Index() const;
    void SetIndex(const std::string& indexName);  // 3800 (not an index of this table) when absent
    void Seek(const std::string& comparison, std::initializer_list<com::Variant> keys);
    void Seek(const std::string& comparison, const com::Variant& key1) { Seek(comparison, {key1}); }

    // Up to rows records from the current one, as a 2-D array of VARIANT
    // indexed (field, row), both from 0; the record after the last one
    // returned becomes current. At Eof: an Empty VARIANT.
    com::Variant GetRows(long rows);

    void Requery();                   // re-runs the query; positions at the first row
    void Close();                     // later use raises 3420

    // Reading every key of a large record set is the slow part of reaching
    // its last rows. A dynaset over base-table rows can have them read by a
    // record set of the same statement on a second connection to the same
    // file (on another thread), and then take them over.
    bool KeysShareable() const;
    // Reads every key now: unsorted, in one pass about as long as a count of
    // the rows; sorted, by the sort. False, reading nothing, when the record
    // set cannot (not KeysShareable, or not in the order its rows come in).
    // Given helpers (other connections to the same file, used by no one else
    // meanwhile), an unsorted set's rows may be split among them and read on
    // threads of their own; the helpers are left reading without
    // memory-mapped pages.
    bool ReadAllKeys(const std::vector<std::shared_ptr<Database>>& helpers = {});
    // Takes the keys `from` read with ReadAllKeys, when it ran the same
    // statement over the same files; `from` is then closed. The rows read
    // here keep their places (whatever was written since, here or by another
    // program), and those of `from` not among them follow in its order.
    // False otherwise, and nothing changes here. ReadAllKeys joins what it
    // reads to the rows read so far in the same way.
    bool TakeKeys(Recordset& from);

    explicit Recordset(std::unique_ptr<RecordsetImpl> impl);

private:
    std::unique_ptr<RecordsetImpl> impl_;
};

// ------------------------------------------------------------------ Database

class Database : public std::enable_shared_from_this<Database> {
public:
    ~Database();  // closes (uncommitted work is rolled back)
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    std::string Name() const;         // the file path
    std::string Connect() const;      // the connect string it was opened with
    bool Updatable() const;           // false when opened read-only
    void Close();                     // later use raises 3420
    // Closes a database this program has written, complete in its one file:
    // the log copied back and removed (a guest's file keeps its journal mode,
    // its emptied log going as it is closed), the file checked and on the
    // disk. Raises 3035 when the disk is full, 3049 when the check finds
    // damage, another number for any other failure; closed either way.
    void Finish();
    // Writes a copy of this database, as this connection sees it, to a new file.
    void CopyTo(const std::string& file);
    // Stops what runs on this connection now; the reading or writing call
    // fails. The one call that another thread may make while this
    // connection is in use.
    void Interrupt();
    // Reads this connection's files, and those it attaches later, through
    // SQLite's page cache instead of mapping them: for the extra connections
    // of a parallel read, whose mapped pages would each count against the
    // process's memory again.
    void ReadWithoutMapping();
    // Lets go of the state of the file that this connection's record sets
    // are reading part-way: their statements are reset, and one that was
    // reading its rows runs its query again when it next moves on, from the
    // last row it read where its walk allows, passing over the rows it
    // already has by their keys (never by counting them). Nothing should hold a read between a person's actions: it
    // keeps another program's commits unseen, the log from being folded back
    // past it, and a write here from starting on the file as it is now.
    void EndReads();
    // The ODBC links that `other`, a connection to the same project, has
    // copied already are read here from its copies instead of being copied
    // again: both connections see the same rows, by the same keys. Links
    // used here already, or not yet copied there, are left as they are.
    void ShareLinkCopies(const Database& other);
    // The format version of a file of this program as it was when this
    // connection opened it (opening it writable brings it up to date); 0 for
    // a file of another program.
    int FileVersion() const;
    // Whether the indexes of a table of this file hold their text keys in the
    // order of the comparison (a file an earlier version wrote may not).
    bool IndexesInOrder(const std::string& table);

    // Runs an action query (Jet SQL: INSERT, UPDATE, DELETE, SELECT ... INTO,
    // CREATE/ALTER/DROP TABLE, CREATE/DROP INDEX). Each statement is atomic;
    // the whole statement is undone when it fails.
    void Execute(const std::string& sql, int options = 0);
    long RecordsAffected() const;     // rows changed by the last Execute

    dao::TableDefs& TableDefs();
    // A new, not yet appended table definition. A link when connect is given.
    dao::TableDef CreateTableDef(const std::string& name = {}, long attributes = 0,
                                 const std::string& sourceTableName = {},
                                 const std::string& connect = {});
    // nameOrSql: a table (local or linked) or a Jet SELECT statement.
    std::shared_ptr<Recordset> OpenRecordset(const std::string& nameOrSql,
                                             RecordsetType type = RecordsetType::Default,
                                             int options = 0);

    // Transactions on this database (Workspace's act on all of its databases).
    // Nesting is allowed; Rollback undoes the innermost level. 3034 when none is open.
    void BeginTrans();
    void CommitTrans();
    void Rollback();

    explicit Database(std::unique_ptr<DatabaseImpl> impl);
    DatabaseImpl* impl() const { return impl_.get(); }

private:
    std::unique_ptr<DatabaseImpl> impl_;
};

// One transaction level of a database held for a scope: begun when made,
// undone when the scope is left without Commit, so that an exception passing
// through leaves no level open (and no write lock held) on the connection.
class Transaction {
public:
    explicit Transaction(Database& db) : db_(db) { db_.BeginTrans(); }
    ~Transaction() {
        if (!open_) return;
        try {
            db_.Rollback();
        } catch (...) {  // a destructor does not throw; the level is gone or the connection closed
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // A commit that fails leaves the level open, to be undone here.
    void Commit() {
        db_.CommitTrans();
        open_ = false;
    }
    void Rollback() {
        open_ = false;
        db_.Rollback();
    }

private:
    Database& db_;
    bool open_ = true;
};

// ------------------------------------------------------------------ Workspace

// The session under which databases are opened; transactions span every
// database open in it.
class Workspace {
public:
    std::shared_ptr<Database> OpenDatabase(const std::string& path, bool exclusive = false,
                                           bool readOnly = false, const std::string& connect = {});
    std::shared_ptr<Database> CreateDatabase(const std::string& path, const std::string& locale,
                                             int options = 0);
    std::shared_ptr<Database> OpenGuest(const std::string& path);
    void BeginTrans();
    void Rollback();
    // The databases opened through this workspace that are still open.
    std::vector<std::shared_ptr<Database>> Databases() const;

private:
    std::vector<std::weak_ptr<Database>> databases_;
};

// ------------------------------------------------------------------ DBEngine

class DBEngine {
public:
    // Creates a new, empty database file. 3204 "Database already exists"
    // when the file exists; 3044 when its folder does not. locale is the
    // string the application passes (dbLangGeneral); every database sorts
    // text with CompareText regardless.
    static std::shared_ptr<Database> CreateDatabase(const std::string& path, const std::string& locale,
                                                    int options = 0);
    // Opens a database file. exclusive: no other connection (in this or
    // another process) may have it open; 3045 when one does, and a shared
    // open of an exclusively held file raises 3356. readOnly: no writes (a
    // write raises 3027). A read-only file opened for writing raises 3051.
    // A missing file raises 3024 (3044 when its folder is missing); a file
    // that is not a database raises 3343. connect: "ODBC;..." raises 3151
    // (ODBC sources are not available yet); otherwise it is kept as Connect.
    static std::shared_ptr<Database> OpenDatabase(const std::string& path, bool exclusive = false,
                                                  bool readOnly = false, const std::string& connect = {});
    // Opens another program's database for writing, shared, to add a table
    // to it: nothing else of the file changes (its user_version, which may
    // be that program's schema version, its indexes, its journal mode), as
    // the program's own files are brought to this layer's format.
    static std::shared_ptr<Database> OpenGuest(const std::string& path);
    // Moves the closed database file at from over the file at to, as one
    // rename, while holding to's lock exclusively: 3045 when any connection
    // (of this or another process) has to open. A journal or log left beside
    // to belongs to the file being replaced: it is moved aside first, put
    // back when the rename fails and removed once from has the name
    // (file::SafeFile::Replace, whose errors it raises). 3049 when a log or
    // journal beside from still holds part of it.
    static void ReplaceDatabase(const std::string& from, const std::string& to);
    // Workspaces(0) is the default workspace; DBEngine's own Open/Create use it.
    static Workspace& Workspaces(int index = 0);
};

}  // namespace dao
