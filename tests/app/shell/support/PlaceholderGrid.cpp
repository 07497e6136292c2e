#include "PlaceholderGrid.h"

#include "PlaceholderLook.h"

#include <QHideEvent>
#include <QLabel>
#include <QShowEvent>

PlaceholderGrid::PlaceholderGrid(QWidget* parent) : base::IGridPanel(parent) {
    mNote = PlaceholderLook::Decorate(this, QStringLiteral("Browse Data"));
}

void PlaceholderGrid::SetDatabaseName(const QString& name) {
    calls << QStringLiteral("SetDatabaseName(%1)").arg(name);
    if (name != mDatabaseName) mDatabase.reset();
    mDatabaseName = name;
}

void PlaceholderGrid::SetRecordSource(const QString& sql) {
    calls << QStringLiteral("SetRecordSource(%1)").arg(sql);
    recordSource = sql;
    mNote->setText(QStringLiteral("A stand-in of the shell's tests. Its rows: ") + sql);
}

void PlaceholderGrid::SetDataBrowse(std::shared_ptr<base::IDataBrowse> view) {
    calls << QStringLiteral("SetDataBrowse(%1)").arg(view ? QStringLiteral("view") : QStringLiteral("none"));
    if (mBrowse && mBrowse != view) mBrowse->Destroy();
    mBrowse = std::move(view);
    if (mBrowse) mBrowse->Bind(this);
}

DatabasePtr PlaceholderGrid::Database() const {
    if (!mDatabase && !mDatabaseName.isEmpty()) mDatabase = MdbUtils::OpenDataSource(mDatabaseName.toStdString(), true);
    return mDatabase;
}

void PlaceholderGrid::Refresh() {
    calls << QStringLiteral("Refresh()");
    if (mBrowse) mBrowse->Refresh();
}

QVariant PlaceholderGrid::GetTopRowValue(const QString&) const { return QString(); }
void PlaceholderGrid::HoldColumn() { calls << QStringLiteral("HoldColumn()"); }
void PlaceholderGrid::ReleaseColumn() { calls << QStringLiteral("ReleaseColumn()"); }
void PlaceholderGrid::CopyCell() { calls << QStringLiteral("CopyCell()"); }
void PlaceholderGrid::CopyRecord() { calls << QStringLiteral("CopyRecord()"); }
void PlaceholderGrid::ShowFind() { calls << QStringLiteral("ShowFind()"); }

void PlaceholderGrid::Disconnect() {
    calls << QStringLiteral("Disconnect()");
    if (mDatabase) mDatabase->Close();
    mDatabase.reset();
    mDatabaseName.clear();
    recordSource.clear();
    if (mBrowse) mBrowse->Destroy();
    mBrowse.reset();
}

void PlaceholderGrid::SetSpecialSelectEnable(bool enable) {
    calls << QStringLiteral("SetSpecialSelectEnable(%1)").arg(enable ? QStringLiteral("true") : QStringLiteral("false"));
    specialSelect = enable;
}

// Only the panel's own visibility changes count, not the window's minimising.
void PlaceholderGrid::showEvent(QShowEvent* event) {
    base::IGridPanel::showEvent(event);
    if (!event->spontaneous()) emit Show();
}

void PlaceholderGrid::hideEvent(QHideEvent* event) {
    base::IGridPanel::hideEvent(event);
    if (!event->spontaneous()) emit Hide();
}
