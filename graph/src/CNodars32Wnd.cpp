#include "CNodars32Wnd.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "CNodars32Ctrl.h"
#include "ui/keys.h"

namespace nodars {

namespace {

constexpr int32_t kBarLimit = 32767;

com::Variant ByRefI2(int16_t* p) {
    com::Variant v;
    v.vt = VT_BYREF | VT_I2;
    v.piVal = p;
    return v;
}

}  // namespace

CNodars32Wnd::CNodars32Wnd(CNodars32Ctrl* control, QWidget* parent)
    : QAbstractScrollArea(parent), mControl(control) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    horizontalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setSingleStep(1);
    viewport()->setMouseTracking(true);
    // Qt's backing store already double-buffers; the whole viewport is drawn by us.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void CNodars32Wnd::SetBar(Qt::Orientation bar, int32_t max, int32_t pos) {
    QScrollBar* sb = bar == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    int& unit = bar == Qt::Horizontal ? mHUnit : mVUnit;
    (bar == Qt::Horizontal ? mHMax : mVMax) = max;
    unit = max > kBarLimit ? (max + kBarLimit - 1) / kBarLimit : 1;
    sb->setRange(0, (max + unit - 1) / unit);
    // Page steps move by half the client extent.
    int client = bar == Qt::Horizontal ? width() - 2 : height() - 2;
    sb->setPageStep(std::max(1, client / 2 / unit));
    sb->setValue(pos / unit);
}

void CNodars32Wnd::SetScrollState(int32_t hMax, int32_t hPos, int32_t vMax, int32_t vPos) {
    mSetting = true;
    SetBar(Qt::Horizontal, hMax, hPos);
    SetBar(Qt::Vertical, vMax, vPos);
    mSetting = false;
}

int32_t CNodars32Wnd::ScrollPosition(Qt::Orientation bar) const {
    const QScrollBar* sb = bar == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    int64_t pos = int64_t(sb->value()) * ScrollUnit(bar);
    return int32_t(std::min<int64_t>(pos, ScrollMaximum(bar)));
}

int32_t CNodars32Wnd::ScrollMaximum(Qt::Orientation bar) const {
    return bar == Qt::Horizontal ? mHMax : mVMax;
}

// The contents move with the bars; only the uncovered strip is painted anew.
void CNodars32Wnd::scrollContentsBy(int dx, int dy) {
    if (mSetting || !mControl) return;
    const int32_t h = ScrollPosition(Qt::Horizontal), v = ScrollPosition(Qt::Vertical);
    const int32_t oldH = mControl->mHScroll, oldV = mControl->mVScroll;
    mControl->mHScroll = h;
    mControl->mVScroll = v;
    if (h != oldH || v != oldV) viewport()->scroll(oldH - h, oldV - v);
    (void)dx;
    (void)dy;
}

void CNodars32Wnd::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    if (!mControl) {
        painter.fillRect(event->rect(), Qt::white);
        return;
    }
    mControl->OnDraw(painter, viewport()->rect(), event->rect());
}

namespace {

int ButtonCode(Qt::MouseButton b) {
    switch (b) {
    case Qt::LeftButton: return 0;
    case Qt::RightButton: return 2;
    default: return -1;  // the middle button is not handled
    }
}

}  // namespace

void CNodars32Wnd::mousePressEvent(QMouseEvent* event) {
    const int b = ButtonCode(event->button());
    if (mControl && b >= 0) mControl->OnButtonDown(b, ui::ShiftBits(event->modifiers()), event->position().toPoint());
}

void CNodars32Wnd::mouseReleaseEvent(QMouseEvent* event) {
    const int b = ButtonCode(event->button());
    if (mControl && b >= 0) mControl->OnButtonUp(b, event->position().toPoint());
}

void CNodars32Wnd::mouseDoubleClickEvent(QMouseEvent* event) {
    const int b = ButtonCode(event->button());
    if (mControl && b >= 0) mControl->OnDoubleClick(b, ui::ShiftBits(event->modifiers()), event->position().toPoint());
}

void CNodars32Wnd::mouseMoveEvent(QMouseEvent* event) {
    if (mControl) mControl->OnMouseMove(event->position().toPoint(), false);
}

void CNodars32Wnd::StartMouseTimer() { mMouseTimer.start(50, this); }

void CNodars32Wnd::StopMouseTimer() { mMouseTimer.stop(); }

void CNodars32Wnd::timerEvent(QTimerEvent* event) {
    if (event->timerId() == mMouseTimer.timerId()) {
        if (mControl) mControl->OnMouseTimer();
        return;
    }
    QAbstractScrollArea::timerEvent(event);
}

void CNodars32Wnd::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (mControl) mControl->OnSize();
}

void CNodars32Wnd::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    if (mControl && !event->spontaneous()) mControl->OnShowWindow();
}

void CNodars32Wnd::keyPressEvent(QKeyEvent* event) {
    if (!mControl) return;
    int16_t code = ui::VirtualKey(event->key());
    int16_t shift = ui::ShiftBits(event->modifiers());
    mControl->FireEvent(eventKeyDown, {ByRefI2(&code), com::Variant::I2(shift)});
    QString text = event->text();
    if (!text.isEmpty() && text.at(0).unicode() < 256 && mControl) {
        int16_t ascii = int16_t(text.at(0).unicode());
        mControl->FireEvent(eventKeyPress, {ByRefI2(&ascii)});
    }
}

void CNodars32Wnd::keyReleaseEvent(QKeyEvent* event) {
    if (!mControl || event->isAutoRepeat()) return;
    int16_t code = ui::VirtualKey(event->key());
    int16_t shift = ui::ShiftBits(event->modifiers());
    mControl->FireEvent(eventKeyUp, {ByRefI2(&code), com::Variant::I2(shift)});
}

}  // namespace nodars
