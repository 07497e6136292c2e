// Test doubles of the shell services, header only.
#pragma once

#include "AppServices.h"

#include <QStringList>

#include <set>
#include <utility>
#include <vector>

namespace app {

class FakeStatusBar : public IStatusText {
public:
    QStringList texts;
    void StatusText(const QString& text) override { texts << text; }
};

// A menu bar that uses the keys in its shortcut list.
class FakeMenuBar : public IMenuBar {
public:
    std::set<std::pair<int16_t, int16_t>> shortcuts;  // (keyCode, shift)
    std::vector<std::pair<int16_t, int16_t>> downs, ups;
    bool KeyDown(int16_t& keyCode, int16_t& shift) override {
        downs.emplace_back(keyCode, shift);
        return shortcuts.count({keyCode, shift}) > 0;
    }
    bool KeyUp(int16_t& keyCode, int16_t& shift) override {
        ups.emplace_back(keyCode, shift);
        return shortcuts.count({keyCode, shift}) > 0;
    }
};

class FakeMainWindow : public IMainWindow {
public:
    bool enabled = true;
    int enableCalls = 0;
    FakeMenuBar bar;
    QString Name() const override { return QStringLiteral("FMain"); }
    bool Enabled() const override { return enabled; }
    void SetEnabled(bool e) override {
        enabled = e;
        ++enableCalls;
    }
    IMenuBar* MenuBar() override { return &bar; }
};

// Forms with a main window that is "loaded" once created.
class FakeForms : public IForms {
public:
    FakeMainWindow main;
    bool mainLoaded = false;
    int creations = 0;
    IMainWindow* MainWindow(bool create) override {
        if (!mainLoaded && create) {
            mainLoaded = true;
            ++creations;
        }
        return mainLoaded ? &main : nullptr;
    }
    bool IsFormLoaded(const QString& name) const override { return mainLoaded && name == QStringLiteral("FMain"); }
};

class FakeScreen : public IScreen {
public:
    std::vector<int16_t> history;
    void SetMousePointer(int16_t p) override { history.push_back(p); }
    int16_t MousePointer() const override { return history.empty() ? vbDefault : history.back(); }
};

// Installs the doubles for the life of the object.
class ScopedFakeShell {
public:
    FakeStatusBar status;
    FakeForms forms;
    FakeScreen screen;
    ScopedFakeShell()
        : mStatus(SetStatusTextSink(&status)), mForms(SetForms(&forms)), mScreen(SetScreen(&screen)) {}
    ~ScopedFakeShell() {
        SetStatusTextSink(mStatus);
        SetForms(mForms);
        SetScreen(mScreen);
    }
    ScopedFakeShell(const ScopedFakeShell&) = delete;
    ScopedFakeShell& operator=(const ScopedFakeShell&) = delete;

private:
    IStatusText* mStatus;
    IForms* mForms;
    IScreen* mScreen;
};

}  // namespace app
