// A real project over a real data table, made in a temporary folder, for the
// tests of the class names, the confusion matrix and the browse SQL.
#pragma once

#include "CDataDef.h"
#include "CProject.h"
#include "MdbUtils.h"
#include "ui/testing.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class ModelFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ui::ScopedRecorder dialogs;
    std::string dataPath, projectPath;
    std::shared_ptr<CProject> project;
    std::shared_ptr<CDataDef> def;

    // Makes the data file by running the statements in a new database.
    void MakeData(const std::vector<std::string>& statements) {
        dataPath = dir.filePath("data.mdb").toStdString();
        auto db = dao::DBEngine::CreateDatabase(dataPath, dao::dbLangGeneral);
        for (const auto& sql : statements) db->Execute(sql);
        db->Close();
    }

    // Builds the project as the statistics step does, and marks the output field.
    void MakeProject(const std::string& table, const std::string& outputField) {
        projectPath = dir.filePath("model.txp").toStdString();
        project = std::make_shared<CProject>();
        project->Create(projectPath);
        project->AttachDataSource(dataPath, table);
        DatabasePtr db = project->OpenProject(false);
        ASSERT_TRUE(db);
        def = std::make_shared<CDataDef>();
        def->Initialize(db, "LinkDataSource");
        def->CollectStats(db);
        MdbUtils::CreateTestTable(*project, *def);
        for (int16_t i = 0; i < def->FieldCount(); ++i)
            if (def->FieldName(i) == outputField) def->SetUserMatchType(i, MatchType::Output);
        def->Save(db);
        ASSERT_TRUE(dialogs.Messages().empty()) << dialogs.Messages()[0].text.toStdString();
    }

    int16_t FieldIndex(const std::string& name) const {
        for (int16_t i = 0; i < def->FieldCount(); ++i)
            if (def->FieldName(i) == name) return i;
        return -1;
    }

    void Exec(const std::string& sql) { project->OpenProject(false)->Execute(sql); }
};
