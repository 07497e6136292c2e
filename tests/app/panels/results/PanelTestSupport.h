// Shared by the result panels' tests: one headless application per program and
// screenshots on request.
#pragma once

#include <QPoint>
#include <QString>

#include <Qt>

class QApplication;
class QWidget;

namespace paneltest {

QApplication& App();
// First member of a fixture whose other members are widgets.
struct WithApp {
    WithApp() { App(); }
};
// With TESSARY_SCREENSHOTS set, saves the widget as build/screenshots/<name>.png.
void Screenshot(QWidget& widget, const QString& name);

// Mouse actions delivered straight to a widget, with the button state a real
// mouse would report.
void Press(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void Release(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void DoubleClick(QWidget& w, QPoint pos);
void Move(QWidget& w, QPoint pos, Qt::MouseButtons held = Qt::NoButton);
// Press and release at one point.
void Click(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);

}  // namespace paneltest
