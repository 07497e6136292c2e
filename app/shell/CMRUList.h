// The recently opened project files, newest first: kept per user in registry
// section "RecentFileList" (values "1", "2" ...) and shown as numbered
// "mnuRecent" entries of the File menu, just above Exit.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>

class CCommandTable;
class QAction;
class QMenu;

class CMRUList {
public:
    static constexpr int kToolIdBase = 98000;

    // Loads the stored entries.
    CMRUList();
    ~CMRUList();
    CMRUList(const CMRUList&) = delete;
    CMRUList& operator=(const CMRUList&) = delete;

    // 1-based; "" for a position that does not exist.
    QString Item(int index) const;
    int16_t Count() const { return int16_t(mEntries.size()); }
    int16_t MaxItems() const { return mMaxItems; }
    // Trims the list to the capacity (deleting the registry values beyond it) and rebuilds the entries.
    void SetMaxItems(int16_t maxItems);
    bool Visible() const { return mVisible; }
    void SetVisible(bool visible);
    bool Enabled() const { return mEnabled; }
    void SetEnabled(bool enabled);
    void Add(const QString& path);
    // Binds the list to the band of the bar and builds its entries; a null band is ignored.
    void Initialize(CCommandTable* bar, QMenu* band);

private:
    void BuildMRU();
    QList<QAction*> EntryTools() const;

    QStringList mEntries;
    int16_t mMaxItems = 6;
    bool mVisible = true;
    bool mEnabled = true;
    QPointer<CCommandTable> mBar;
    QPointer<QMenu> mBand;
};
