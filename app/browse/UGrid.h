// The data-grid panel "DataGrid": the rows of the current browse view in a grid
// bound to a record set of the browse SQL, laid out by a browse view, with its
// own pop-up tools (sort, find, copy, pick the row for live prediction), the
// row count, the user's place kept across a refresh, and the find dialog.
#pragma once

#include "IGridPanel.h"

#include <QPixmap>

#include <memory>
#include <string>

class CBrowseGrid;
class CDataControl;
class FFind;
class QAction;
class QMenu;

class UGrid : public base::IGridPanel {
    Q_OBJECT
public:
    explicit UGrid(QWidget* parent = nullptr);
    ~UGrid() override;

    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    QString DatabaseName() const override;
    void SetDatabaseName(const QString& name) override;
    QString RecordSource() const;
    void SetRecordSource(const QString& sql) override;
    DatabasePtr Database() const override;
    std::shared_ptr<base::IDataBrowse> DataBrowse() const override { return mDataBrowse; }
    void SetDataBrowse(std::shared_ptr<base::IDataBrowse> view) override;
    CDataControl* Data() const { return mData1; }
    CBrowseGrid* Grid() const { return mGrid; }
    QMenu* ActiveBar(const QString& band) const;

    void ShowFind() override;
    void SortASC() { Sort(false); }
    void SortDESC() { Sort(true); }
    void ShowPopup(const QString& band);
    QString LastPopup() const { return mLastPopup; }
    QPixmap GetCheckMarkPicture() const { return mCheck; }
    RecordsetPtr RecordSet() const override;
    void CopyCell() override;
    void CopyRecord() override;
    void Disconnect() override;
    void Refresh() override;
    QVariant GetTopRowValue(const QString& columnName) const override;
    void HoldColumn() override;
    void ReleaseColumn() override;
    int32_t RecordCount() const override;
    bool SpecialSelectEnable() const;
    void SetSpecialSelectEnable(bool enable) override;
    // Runs a pop-up tool by name, as a click on it does.
    void ABar_Click(const QString& toolName);

    // The grid follows a current row moved on the record set from outside.
    void SyncToRecordset();
    FFind* FindDialog() const { return mFFind; }
    // The find dialog's search (its FindNext event).
    void mFFind_FindNext(const QString& findString, bool matchCase, bool dirDown);
    void mFFind_Activate();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    void Sort(bool descending);
    void Rebind(bool hold);
    // Opens the binding's record set again; errors show the box titled location.
    void Reopen(bool hold, const char* location);
    std::string CountSql() const;
    QString CellCopyText(int row, int col) const;

    CBrowseGrid* mGrid;
    CDataControl* mData1;
    QMenu* mPopGrid;
    QMenu* mPopCopy;
    QAction* mSelectRow;
    QPixmap mCheck;
    std::shared_ptr<base::IDataBrowse> mDataBrowse;
    FFind* mFFind = nullptr;
    int16_t mFindCol = 0;
    int16_t mHoldLeftCol = 0;
    int16_t mHoldCol = 0;
    QString mLastPopup;
    bool mSyncing = false;
};
