// What the data model needs of the shell, the panels and the browse code,
// as small interfaces that those subsystems implement and install. Nothing is
// installed by default: every call then does nothing (or answers "none"), so
// this folder runs without a main window.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>

namespace app {

// The status bar's first panel (MMenu::StatusText). Must not throw.
class IStatusText {
public:
    virtual ~IStatusText() = default;
    virtual void StatusText(const QString& text) = 0;
};

// The menu-and-toolbar bar of the main window: its key handlers report whether
// the key was used as a shortcut.
class IMenuBar {
public:
    virtual ~IMenuBar() = default;
    virtual bool KeyDown(int16_t& keyCode, int16_t& shift) = 0;
    virtual bool KeyUp(int16_t& keyCode, int16_t& shift) = 0;
};

// The main window as the busy cursor and key forwarding see it.
class IMainWindow {
public:
    virtual ~IMainWindow() = default;
    virtual QString Name() const = 0;  // "FMain"
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual IMenuBar* MenuBar() = 0;
};

// The set of loaded windows.
class IForms {
public:
    virtual ~IForms() = default;
    // The main window; with create, made when it does not exist yet.
    virtual IMainWindow* MainWindow(bool create) = 0;
    // True when a loaded window's name equals name exactly.
    virtual bool IsFormLoaded(const QString& name) const = 0;
};

// Mouse-pointer codes of the forms runtime.
constexpr int16_t vbDefault = 0;
constexpr int16_t vbHourglass = 11;

// The screen: the application-wide mouse pointer.
class IScreen {
public:
    virtual ~IScreen() = default;
    virtual void SetMousePointer(int16_t pointer) = 0;
    virtual int16_t MousePointer() const = 0;
};

// Capture of the foreground window and printing it fitted to a page (browse/print code).
class IScreenPrint {
public:
    virtual ~IScreenPrint() = default;
    virtual QImage CaptureActiveWindow() = 0;
    // Prints the picture on one page of the default printer and ends the job.
    virtual bool PrintPictureToFitPage(const QImage& picture) = 0;
};

// Installation (not owned; nullptr uninstalls) into the services of AppGlobals.h.
// Each returns the one it replaces.
IStatusText* SetStatusTextSink(IStatusText* sink);
IForms* SetForms(IForms* forms);
IScreen* SetScreen(IScreen* screen);  // nullptr restores the Qt screen below
IScreenPrint* SetScreenPrint(IScreenPrint* print);

IForms* Forms();
IScreen& Screen();
IScreenPrint* ScreenPrint();

// MMenu::StatusText through the installed sink; nothing when none is installed.
void StatusText(const QString& text);

// The default screen: the hourglass as Qt's application override cursor.
class QtScreen : public IScreen {
public:
    void SetMousePointer(int16_t pointer) override;
    int16_t MousePointer() const override { return mPointer; }

private:
    int16_t mPointer = vbDefault;
};

}  // namespace app
