// The table-selection step: the user picks a data source and one of its
// tables; the panel shows the table's row count, asks the main window whether
// the table has a key, and refuses a table without a key or without rows.
#pragma once

#include "ITableSelectPanel.h"

#include <cstdint>

class QLabel;
class QListWidget;
class QPushButton;

class UTableSelect : public base::ITableSelectPanel {
    Q_OBJECT
public:
    explicit UTableSelect(QWidget* parent = nullptr);

    QString DatabaseName() const override { return mDatabaseName; }
    QString TableName() const override { return mTableName; }
    void Clear() override;
    bool Changed() const override { return false; }
    int32_t CurrentRowCount() const { return mCurrentRowCount; }

    // The name shown for a source: the DSN of an ODBC connect text, else the
    // file name with one blank on each side.
    static QString DisplayName(const QString& source, const std::string& connect);

protected:
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OpenSource();
    void ChooseTable();
    void ResetChoice();

    QString mDatabaseName;
    QString mTableName;
    int32_t mCurrentRowCount = 0;
    bool mFilling = false;

    QPushButton* mOK;
    QPushButton* mCancel;
    QLabel* mFileName;
    QPushButton* mOpenFile;
    QLabel* mNoKey;
    QListWidget* mTables;
    QLabel* mRowCount;
};
