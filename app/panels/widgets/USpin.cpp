#include "USpin.h"

#include "ErrorGuard.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

USpin::USpin(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("USpin"));
    setFocusPolicy(Qt::StrongFocus);
    resize(14, 31);  // 210 x 465 twips
    mTimer.setTimerType(Qt::PreciseTimer);
    mTimer.setInterval(kFirstDelayMs);
    connect(&mTimer, &QTimer::timeout, this, [this] { Timer1_Timer(); });
}

void USpin::Raise(int times) {
    base::ShowErrors("USpin::Change", [&] {
        for (int i = 0; i < times; ++i) emit Change(mDown);
    });
}

void USpin::Timer1_Timer() {
    Raise();
    mTimer.setInterval(kRepeatMs);
}

void USpin::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    mDown = DownAt(e->position().toPoint());
    // Qt keeps the mouse with this widget until the release (the capture).
    mTimer.setInterval(kFirstDelayMs);
    mTimer.start();
    Raise();
}

void USpin::mouseReleaseEvent(QMouseEvent*) {
    mTimer.stop();
    mTimer.setInterval(kFirstDelayMs);
}

void USpin::mouseDoubleClickEvent(QMouseEvent* e) {
    // The second press of a double click steps once more and may repeat.
    mDown = DownAt(e->position().toPoint());
    Raise();
    mTimer.setInterval(kFirstDelayMs);
    mTimer.start();
}

void USpin::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Up: mDown = false; Raise(); break;
    case Qt::Key_Down: mDown = true; Raise(); break;
    case Qt::Key_PageUp: mDown = false; Raise(5); break;
    case Qt::Key_PageDown: mDown = true; Raise(5); break;
    default: QWidget::keyPressEvent(e); return;
    }
}

void USpin::focusInEvent(QFocusEvent*) {
    mOutline = true;
    update();
}

void USpin::focusOutEvent(QFocusEvent*) {
    mOutline = false;
    update();
}

void USpin::paintEvent(QPaintEvent*) {
    base::RecordErrors("USpin::paintEvent", [&] {
        QPainter p(this);
        p.fillRect(rect(), QColor(192, 192, 192));
        p.setRenderHint(QPainter::Antialiasing);
        const qreal w = width(), h = height() / 2.0;
        auto triangle = [&](qreal top, bool down) {
            const qreal m = 3, cx = w / 2;
            QPainterPath path;
            if (down) {
                path.moveTo(m, top + m);
                path.lineTo(w - m, top + m);
                path.lineTo(cx, top + h - m);
            } else {
                path.moveTo(cx, top + m);
                path.lineTo(w - m, top + h - m);
                path.lineTo(m, top + h - m);
            }
            path.closeSubpath();
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(0, 0, 255));
            p.drawPath(path);
        };
        triangle(0, false);
        triangle(h, true);
        if (mOutline) {
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(Qt::black, 1, Qt::DotLine));
            p.drawRect(rect().adjusted(0, 2, -1, -4));
        }
    });
}
