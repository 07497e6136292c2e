#include "PanelTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMouseEvent>
#include <QWidget>

namespace paneltest {

// Never destroyed: the graph control's module may be unloaded before it.
QApplication& App() {
    static int argc = 1;
    static char name[] = "results_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        return a;
    }();
    return *app;
}

void Screenshot(QWidget& widget, const QString& name) {
    if (!qEnvironmentVariableIsSet("TESSARY_SCREENSHOTS")) return;
    const QString bin = qEnvironmentVariable("TESSARY_BINARY_DIR", ".");
    const QString folder = bin + "/screenshots";
    QDir().mkpath(folder);
    widget.grab().save(QDir(folder).filePath(name + ".png"));
}

namespace {

void Send(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(pos), w.mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

}  // namespace

void Press(QWidget& w, QPoint pos, Qt::MouseButton button) { Send(w, QEvent::MouseButtonPress, pos, button, button); }
void Release(QWidget& w, QPoint pos, Qt::MouseButton button) {
    Send(w, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}
void DoubleClick(QWidget& w, QPoint pos) {
    Press(w, pos);
    Release(w, pos);
    Send(w, QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
    Release(w, pos);
}
void Move(QWidget& w, QPoint pos, Qt::MouseButtons held) { Send(w, QEvent::MouseMove, pos, Qt::NoButton, held); }
void Click(QWidget& w, QPoint pos, Qt::MouseButton button) {
    Press(w, pos, button);
    Release(w, pos, button);
}

}  // namespace paneltest
