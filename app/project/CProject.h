// The project file: its path, its database connection and its settings table
// Config. A project exists before its file does: settings saved before Create
// wait in a pending list and are written when the file is made.
#pragma once

#include "MdbUtils.h"

#include "com/oleauto.h"

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace app {
struct ErrInfo;
}

namespace tessary {
// This program's version, written into every project it creates. Stored
// projects compute major * 100 + minor + revision / 100 and must reach 100.
constexpr int VersionMajor = 2;
constexpr int VersionMinor = 1;
constexpr int VersionRevision = 16;
}  // namespace tessary

class CProject {
public:
    CProject() = default;
    ~CProject();
    CProject(const CProject&) = delete;
    CProject& operator=(const CProject&) = delete;

    const std::string& FileName() const { return mFileName; }
    void SetFileName(const std::string& fileName) { mFileName = fileName; }
    bool IsOpen() const { return mIsOpen; }

    // Validates an existing file (exclusive open, its tables, ProjectType,
    // version), all through one connection, so that a file that cannot be
    // used says so once; FileName becomes "" when it is not a valid, openable project.
    void Initialize(const std::string& fileName = {});
    // False, after a message naming the table, when the program must not write
    // to the project: a link named like a table of the project's own, or a
    // table of its own that lacks a column or computes values on writes.
    // Reads the file only; beforeMessage runs before any box is shown.
    static bool CheckTables(const std::string& fileName, const std::function<void()>& beforeMessage = nullptr);
    // The one box for a database error (the Jet range, 2420 to 3660) that
    // kept the project file from being used: damaged, in use, read-only, the
    // disk full. False, showing nothing, for another number.
    static bool ReportError(const std::string& fileName, long number);
    // A project file opened to read its settings: read-only, and never
    // written. A file of ours whose settings' text index another build wrote
    // out of order, where they would not be found, is read through a copy
    // with its indexes rebuilt.
    static DatabasePtr OpenToRead(const std::string& fileName, bool exclusive);
    // A new connection each time; nullptr when FileName is empty or the open fails.
    DatabasePtr OpenProject(bool exclusive = false);
    void CloseProject();
    void Destroy();  // drops the connection without closing it
    void ReBuild() {}

    // Makes the file (an existing one of that name is replaced) and writes the
    // pending settings. Refuses to replace the file that the project's own data
    // source lives in. False after the box when the file or a setting could
    // not be written: a file of that name is then as it was.
    bool Create(const std::string& fileName = {});

    std::string GetConfig(const std::string& property, const std::string& defaultValue = {});
    // Any scalar, stored as its text. False after the box when it could not be.
    bool SaveConfig(const std::string& property, const com::Variant& value);
    bool SaveConfig(const std::string& property, const std::string& value) {
        return SaveConfig(property, com::Variant::Str(value));
    }
    bool SaveConfig(const std::string& property, const char* value) { return SaveConfig(property, std::string(value)); }
    template <typename T>
        requires std::is_arithmetic_v<T>
    bool SaveConfig(const std::string& property, T value) {
        if constexpr (std::is_same_v<T, bool>) return SaveConfig(property, com::Variant::Bool(value));
        else if constexpr (std::is_same_v<T, float>) return SaveConfig(property, com::Variant::R4(value));
        else if constexpr (std::is_floating_point_v<T>) return SaveConfig(property, com::Variant::R8(double(value)));
        else if constexpr (sizeof(T) <= 2 && std::is_signed_v<T>)
            return SaveConfig(property, com::Variant::I2(SHORT(value)));
        else return SaveConfig(property, com::Variant::I4(LONG(value)));
    }

    // The same for a file that exists, raising instead of showing a box.
    void StoreConfig(const std::string& property, const com::Variant& value);

    // (Re)creates the linked table LinkDataSource over tableName of the
    // source. False after the box when it could not be.
    bool AttachDataSource(const std::string& dataSourceName, const std::string& tableName);

    // Whether the file, as db found it when it opened it, was written by an
    // earlier version, which compared text another way (letters beyond ASCII
    // without regard to case, the signs [ \ ] ^ _ ` after the letters), and
    // holds values or text keys that the two ways tell apart: its value tables,
    // tree and results may then differ from what this version computes.
    static bool ComparedOtherwiseBefore(const DatabasePtr& db);

    // The connection OpenProject handed out last (nullptr when none).
    const DatabasePtr& CurrentDatabase() const { return mDatabase; }
    // Settings waiting for the file, in order of saving.
    int16_t PendingCount() const { return int16_t(mPendingNames.size()); }

private:
    void InitProject();
    // The project's own box for a database number it knows, else the standard
    // error box titled "CProject::" + procedure; false, for the caller to return.
    bool Report(const std::string& procedure, const app::ErrInfo& err);
    static void WriteConfig(const DatabasePtr& db, const std::string& property, const com::Variant& value);
    static std::string ReadConfig(const DatabasePtr& db, const std::string& property, const std::string& defaultValue);
    bool IsOwnDataSource(const std::string& path);

    std::string mFileName;
    DatabasePtr mDatabase;
    bool mIsOpen = false;
    bool mExclusive = false;
    std::vector<std::string> mPendingNames;
    std::vector<com::Variant> mPendingValues;
};
