// Projects, a grid stand-in and file helpers for the export and print tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "CClassNames.h"
#include "CRegSettings.h"
#include "CSqlMachine.h"
#include "DisplayFixture.h"
#include "ExportContext.h"
#include "IGridPanel.h"

namespace exporttest {

using namespace treetest;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// What a stock connection reads: each statement's rows, one text per row.
inline std::vector<std::string> Stock(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::vector<std::string> out;
    sqlite3_exec(
        db, sql.c_str(),
        [](void* to, int n, char** values, char**) {
            std::string row;
            for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "<Null>");
            static_cast<std::vector<std::string>*>(to)->push_back(row);
            return 0;
        },
        &out, nullptr);
    sqlite3_close(db);
    return out;
}

inline size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

// The grid panel as the export reads it: bound or not, and its row count.
class FakeGrid : public base::IGridPanel {
public:
    RecordsetPtr rows;
    int32_t count = 0;
    QString DatabaseName() const override { return {}; }
    void SetDatabaseName(const QString&) override {}
    void SetRecordSource(const QString&) override {}
    std::shared_ptr<base::IDataBrowse> DataBrowse() const override { return nullptr; }
    void SetDataBrowse(std::shared_ptr<base::IDataBrowse>) override {}
    DatabasePtr Database() const override { return nullptr; }
    RecordsetPtr RecordSet() const override { return rows; }
    int32_t RecordCount() const override { return count; }
    void Refresh() override {}
    QVariant GetTopRowValue(const QString&) const override { return {}; }
    void HoldColumn() override {}
    void ReleaseColumn() override {}
    void CopyCell() override {}
    void CopyRecord() override {}
    void ShowFind() override {}
    void Disconnect() override {}
    void SetSpecialSelectEnable(bool) override {}
};

// A generated project with its export context. Marks, predictions and the
// test range are set through the project's own connection.
struct WithApp {
    WithApp() { App(); }
};

class ExportProject : private WithApp, public GeneratedProject {
public:
    ExportProject(const std::string& tag, const std::vector<Column>& columns,
                  const std::vector<std::vector<Cell>>& rows, bool textKey = false)
        : GeneratedProject(tag, columns, rows, false, textKey), textKeys(textKey) {
        App();
        settings = std::make_shared<CRegSettings>();
        settings->SetAppName("ExportTest-" + std::to_string(::getpid()) + "-" + tag);
        settings->SaveSetting("Config", "LastProjectPath", dir);
        sql = std::make_shared<CSqlMachine>();
        sql->Initialize(dataDef, Project());
        ctx.project = Project();
        ctx.dataDef = dataDef;
        ctx.sqlMachine = sql;
        ctx.regSettings = settings;
        ctx.trx = &trx;
        ctx.grid = &grid;
    }
    ~ExportProject() { settings->DeleteSetting("Config"); }

    std::shared_ptr<CProject> Project() { return std::shared_ptr<CProject>(&project, [](CProject*) {}); }
    void Run(const std::string& sqlText) {
        DatabasePtr db = project.OpenProject(false);
        db->Execute(sqlText);
    }
    // Marks the rows whose key is listed (numeric keys, or row numbers of text keys).
    void Mark(std::initializer_list<int> keys) {
        for (int k : keys) Run("UPDATE Test SET Mark=-1 WHERE MainPrimaryKey=" + KeyText(k));
    }
    void Predict(int key, int classNumber) {
        Run("UPDATE Test SET Predicted=" + std::to_string(classNumber) + " WHERE MainPrimaryKey=" + KeyText(key));
    }
    void TestRange(const std::string& low, const std::string& high) {
        project.SaveConfig("TestKeyMin", low);
        project.SaveConfig("TestKeyMax", high);
    }
    void Delimiter(const std::string& code) { settings->SaveSetting("Config", "TextDelim", code); }
    std::string ClassName(int16_t index) {
        CClassNames names;
        std::shared_ptr<CDataDef> def = dataDef;
        names.Initialize(&project, def);
        return names.Class(names.OutputClass(), index);
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& m : dialogs.Messages()) out.push_back((m.title + " | " + m.text).toStdString());
        return out;
    }

    bool textKeys;
    std::shared_ptr<CRegSettings> settings;
    std::shared_ptr<CSqlMachine> sql;
    std::shared_ptr<CTRX> trx;
    FakeGrid grid;
    ExportContext ctx;

private:
    std::string KeyText(int k) const { return textKeys ? "'" + TextKeyQuoted(k) + "'" : std::to_string(k); }
    static std::string TextKeyQuoted(int k) {
        std::string s = TextKey(size_t(k)), out;
        for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
        return out;
    }
};

// A text input, a number input and the output: the database exports' table.
inline const std::vector<Column>& NameSizeKindColumns() {
    static const std::vector<Column> cols = {
        {"Name", "TEXT", MatchType::Text},
        {"Size", "REAL", MatchType::Numeric},
        {"Kind", "TEXT", MatchType::Output},
    };
    return cols;
}

}  // namespace exporttest
