#include "CMRUList.h"

#include "CCommandTable.h"
#include "ErrorGuard.h"
#include "MUtilities.h"

#include <QAction>
#include <QMenu>

namespace {
const QString kName = QStringLiteral("mnuRecent");
const char* kSection = "RecentFileList";
}  // namespace

CMRUList::CMRUList() {
    for (int i = 1;; ++i) {
        const std::string v = MUtilities::GetRegSetting(kSection, std::to_string(i), "");
        if (v.empty()) break;
        mEntries << QString::fromStdString(v);
    }
    mMaxItems = mEntries.size() > 6 ? int16_t(mEntries.size()) : int16_t(6);
}

CMRUList::~CMRUList() {
    // The band's tools go with the menu; nothing is written.
    mBand.clear();
    mEntries.clear();
}

QString CMRUList::Item(int index) const {
    return index >= 1 && index <= mEntries.size() ? mEntries[index - 1] : QString();
}

QList<QAction*> CMRUList::EntryTools() const {
    QList<QAction*> tools;
    if (!mBand) return tools;
    for (QAction* a : mBand->actions())
        if (a->objectName().contains(kName)) tools << a;
    return tools;
}

void CMRUList::SetVisible(bool visible) {
    mVisible = visible;
    for (QAction* a : EntryTools()) a->setVisible(visible);
}

void CMRUList::SetEnabled(bool enabled) {
    mEnabled = enabled;
    for (QAction* a : EntryTools()) a->setEnabled(enabled);
}

void CMRUList::SetMaxItems(int16_t maxItems) {
    // A negative capacity would make every later Add fail: it counts as none.
    if (maxItems < 0) maxItems = 0;
    if (maxItems < mEntries.size()) {
        for (int i = int(mEntries.size()); i >= maxItems + 1; --i) {
            mEntries.removeAt(i - 1);
            MUtilities::DeleteRegSetting(kSection, std::to_string(i));
        }
    }
    mMaxItems = maxItems;
    BuildMRU();
}

void CMRUList::Add(const QString& path) {
    base::ShowErrors("CMRUList::Add", [&] {
        if (path.isEmpty()) return;
        // Exactly: paths that differ in case name two files here.
        const qsizetype found = mEntries.indexOf(path);
        if (found >= 0) {
            mEntries.insert(0, path);
            mEntries.removeAt(found + 1);
        } else if (mEntries.size() >= mMaxItems) {
            mEntries.insert(0, path);
            while (mEntries.size() > mMaxItems) mEntries.removeLast();
        } else {
            mEntries.insert(0, path);
        }
        for (qsizetype i = 0; i < mEntries.size(); ++i)
            MUtilities::SaveRegSetting(kSection, std::to_string(i + 1), mEntries[i].toStdString());
        BuildMRU();
    });
}

void CMRUList::Initialize(CCommandTable* bar, QMenu* band) {
    if (!band) return;
    mBar = bar;
    mBand = band;
    BuildMRU();
}

void CMRUList::BuildMRU() {
    base::ShowErrors("CMRUList::BuildMRU", [&] {
        if (!mBand) return;
        // An entry may be the one whose click is running: it goes when control returns to the loop.
        const QList<QAction*> old = EntryTools();
        for (QAction* a : old) {
            if (mBar) mBar->SetStartsGroup(mBand, a, false);
            mBand->removeAction(a);
            a->deleteLater();
        }
        QAction* exitTool = nullptr;
        const QList<QAction*> actions = mBand->actions();
        for (qsizetype i = actions.size() - 1; i >= 0; --i) {
            QAction* a = actions[i];
            if (a->isSeparator()) continue;
            if (a->objectName().contains(QStringLiteral("xit")) || a->text().contains(QStringLiteral("xit"))) {
                exitTool = a;
                break;
            }
        }
        if (exitTool && mBar) mBar->SetStartsGroup(mBand, exitTool, true);
        // Before the exit tool's separator, so that the entries form their own group.
        QAction* before = nullptr;
        if (exitTool) {
            const QList<QAction*> now = mBand->actions();
            const qsizetype at = now.indexOf(exitTool);
            before = at > 0 && now[at - 1]->isSeparator() ? now[at - 1] : exitTool;
        }
        for (int i = 1; i <= mEntries.size(); ++i) {
            QString path = mEntries[i - 1];
            path.replace(QLatin1Char('&'), QStringLiteral("&&"));  // a path's "&" is no access key
            auto* tool = new QAction(QStringLiteral("&") + QString::number(i) + QLatin1Char(' ') + path, mBand);
            tool->setObjectName(kName);
            tool->setStatusTip(QStringLiteral("Open this file"));
            tool->setProperty("toolId", kToolIdBase + i);
            tool->setProperty("number", i);
            tool->setVisible(mVisible);
            tool->setEnabled(mEnabled);
            if (before) mBand->insertAction(before, tool);
            else mBand->addAction(tool);
            if (i == 1 && mBar) mBar->SetStartsGroup(mBand, tool, true);
            if (mBar) mBar->ConnectTool(tool);
        }
    });
}
