#include "ui/HandleTable.h"

#include <QPointer>
#include <QWidget>
#include <map>
#include <mutex>

namespace ui {

namespace {

struct Entry {
    DrawTarget* target = nullptr;
    QPointer<QWidget> window;
    bool isWindow = false;
};

std::mutex gMutex;
std::map<uint32_t, Entry> gEntries;
uint32_t gNext = 0x10000;

uint32_t Add(Entry e) {
    std::lock_guard lock(gMutex);
    while (gNext == 0 || gEntries.count(gNext)) ++gNext;
    const uint32_t h = gNext++;
    gEntries[h] = e;
    return h;
}

}  // namespace

uint32_t HandleTable::AddTarget(DrawTarget* target) { return Add({target, nullptr, false}); }

uint32_t HandleTable::AddWindow(QWidget* window) { return Add({nullptr, window, true}); }

void HandleTable::Release(uint32_t handle) {
    std::lock_guard lock(gMutex);
    gEntries.erase(handle);
}

DrawTarget* HandleTable::Target(uint32_t handle) {
    std::lock_guard lock(gMutex);
    auto it = gEntries.find(handle);
    return it == gEntries.end() || it->second.isWindow ? nullptr : it->second.target;
}

QWidget* HandleTable::Window(uint32_t handle) {
    std::lock_guard lock(gMutex);
    auto it = gEntries.find(handle);
    return it == gEntries.end() || !it->second.isWindow ? nullptr : it->second.window.data();
}

}  // namespace ui
