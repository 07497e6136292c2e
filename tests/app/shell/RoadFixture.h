// The program with the real table, field and row-range panels and statistics
// views, driven through their controls as a person would; and what a test
// reads of a project file on disk.
#pragma once

#include "ShellFixture.h"

#include "CProject.h"
#include "FStatus.h"

#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <sqlite3.h>

namespace shelltest {

// Config of a project file as it is on disk ("<none>" when missing).
inline std::string ConfigOf(const std::string& file, const std::string& property) {
    CProject p;
    p.SetFileName(file);
    return p.GetConfig(property, "<none>");
}

inline void Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

// The first value of a query on a file; -1 when it cannot be read.
inline long Count(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    long n = -1;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

inline bool HasTable(const std::string& file, const std::string& table) {
    return Count(file, "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name='" + table + "'") == 1;
}

class RoadTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        UsePanels();
        ::setenv("TESSARY_CACHE", dir.File("cache").c_str(), 1);
        ASSERT_TRUE(Start());
        Main().resize(1000, 700);
        Main().show();
    }
    void TearDown() override {
        ShellTest::TearDown();
        ::unsetenv("TESSARY_CACHE");
    }
    // The real preparation panels, stand-ins for the rest.
    virtual void UsePanels() {
        factory = [](QWidget* parent) {
            PanelSet p;
            PanelSet::MakePreparationPanels(p, parent);
            StandInPanels::Fill(p, parent);
            return p;
        };
    }

    QWidget* Panel(const char* name) { return Main().findChild<QWidget*>(QString::fromUtf8(name)); }
    template <class T>
    T* Control(const char* panel, const char* name) {
        return Panel(panel)->findChild<T*>(QString::fromUtf8(name));
    }
    QString Left() { return Main().Frame()->GetActiveKeyLeft(); }
    QString Right() { return Main().Frame()->GetActiveKeyRight(); }

    // File > New with the given project path.
    void NewProject(const std::string& path) {
        dialogs.files.push_back(QString::fromStdString(path));
        MTessary::MenuCommand(QStringLiteral("mnuFileNew"));
    }
    // The table panel's "..." with the given answer of the data-source dialog.
    void ChooseSource(const std::string& path) {
        dialogs.files.push_back(QString::fromStdString(path));
        Control<QPushButton>("pnlTableSel", "cmdOpenFile")->click();
    }
    bool ChooseTable(const QString& name) {
        auto* list = Control<QListWidget>("pnlTableSel", "lstTables");
        const auto found = list->findItems(name, Qt::MatchExactly);
        if (found.isEmpty()) return false;
        list->setCurrentItem(found.front());
        return true;
    }
    QPushButton* TableOK() { return Control<QPushButton>("pnlTableSel", "cmdTableOK"); }
    // Clicks Cancel of the progress window at the first event of the next run.
    void CancelAtFirstEvent() {
        auto* timer = new QTimer(&Main());
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, timer, [timer] {
            FStatus* status = app_status();
            if (!status || !status->isVisible() || !status->Watching()) return;
            status->CancelButton()->click();
            timer->stop();
            timer->deleteLater();
        });
        timer->start();
    }
    static FStatus* app_status() {
        CTessaryApp* a = CTessaryApp::Instance();
        return a ? a->status.data() : nullptr;
    }

    std::string CopyData(const std::string& from, const std::string& name) {
        const std::string to = dir.File(name);
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
        return to;
    }
    static void Mouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
};

}  // namespace shelltest
