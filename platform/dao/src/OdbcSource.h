// An ODBC data source, read through unixODBC. The layer never queries it
// directly: a table is copied into SQLite (a snapshot taken when a link is
// attached, or when a table of an opened source is first used) and every
// query runs there. Copies are read-only to the user: writing an ODBC source
// is not supported.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

namespace dao::detail {

class OdbcSource {
public:
    // connect is the layer's connect text, "ODBC;DSN=name;UID=..." or any
    // connection string after "ODBC;". Raises 3151 naming the source, with
    // the driver's message, when the connection fails.
    explicit OdbcSource(const std::string& connect);
    ~OdbcSource();
    OdbcSource(const OdbcSource&) = delete;
    OdbcSource& operator=(const OdbcSource&) = delete;

    // The source's tables and views, in the driver's order.
    std::vector<std::string> Tables();

    // Creates table in schema of db with the source table's columns (mapped to
    // the layer's declared types) and primary key; 3078 when there is no
    // such table.
    void CreateTable(sqlite3* db, const std::string& schema, const std::string& table);
    // Copies every row of the source table into the table CreateTable made.
    // 3146 with the driver's message when the source fails mid-read.
    void CopyRows(sqlite3* db, const std::string& schema, const std::string& table);

    // The connect text without "ODBC;" and without a password.
    const std::string& Name() const { return name_; }

private:
    struct Handles;
    std::unique_ptr<Handles> h_;
    std::string name_;
    std::string quote_ = "\"";
};

}  // namespace dao::detail
