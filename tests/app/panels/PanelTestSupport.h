// Shared pieces of the panel tests: the headless application with a fixed
// locale, mouse and key events with explicit button state, and screenshots.
#pragma once

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << l.join(QLatin1Char('|')).toStdString(); }

namespace paneltest {

inline QApplication& App() {
    static int argc = 1;
    static char arg0[] = "tessary-panels-test";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        return a;
    }();
    return *app;
}

// A base listed first, so the application exists before any widget member.
struct AppFirst {
    AppFirst() { App(); }
};

inline void Mouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons,
                  Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}
inline void Press(QWidget* w, QPointF p, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Mouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton, mods);
}
inline void Move(QWidget* w, QPointF p) { Mouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
inline void Release(QWidget* w, QPointF p) { Mouse(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }
inline void DoubleClick(QWidget* w, QPointF p) {
    Press(w, p);
    Release(w, p);
    Mouse(w, QEvent::MouseButtonDblClick, p, Qt::LeftButton, Qt::LeftButton);
    Release(w, p);
}

// Saves a picture of the widget to build/screenshots/<name>.png when
// TESSARY_SCREENSHOTS is set.
inline void Screenshot(QWidget& w, const QString& name) {
    if (!std::getenv("TESSARY_SCREENSHOTS")) return;
    const char* bin = std::getenv("TESSARY_BINARY_DIR");
    const QString dir = QString::fromLocal8Bit(bin ? bin : ".") + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    w.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace paneltest
