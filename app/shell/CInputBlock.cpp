#include "CInputBlock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>

namespace {

// What a disabled widget would not get, and the shortcuts of its buttons.
bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

}  // namespace

CInputBlock::CInputBlock(QWidget* window) : QObject(window), mWindow(window) {}

CInputBlock::~CInputBlock() { SetOn(false); }

void CInputBlock::SetOn(bool on) {
    if (on == mOn) return;
    mOn = on;
    if (!qApp) return;
    // Installed as it goes on, so that it comes before the filters the
    // window's own parts have put on the application.
    if (on) qApp->installEventFilter(this);
    else qApp->removeEventFilter(this);
}

void CInputBlock::Drain() {
    if (!mOn || mDraining || !qApp) return;
    mDraining = true;
    // Events the window system sent up to now are all delivered by this.
    QGuiApplication::sync();
    mDraining = false;
}

bool CInputBlock::eventFilter(QObject* watched, QEvent* event) {
    if (!IsInput(event->type()) || !watched->isWidgetType()) return false;
    // window() stops at a window's edge: the progress window, a child of this
    // one, is a window of its own.
    return static_cast<QWidget*>(watched)->window() == mWindow;
}
