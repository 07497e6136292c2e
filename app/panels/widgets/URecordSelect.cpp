#include "URecordSelect.h"

#include "ErrorGuard.h"
#include "MPropertyBag.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPolygonF>
#include <QRegularExpressionValidator>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kTriLength = 10.4;  // 0.8 x the track width
constexpr double kTriHalf = 6.76;    // 0.65 x its length
constexpr int kTrackWidth = 13;

int Nearest(double x) { return int(std::nearbyint(x)); }

bool Inside(const QRect& r, const QPoint& p) {
    return p.x() >= r.left() && p.x() < r.left() + r.width() && p.y() >= r.top() && p.y() < r.top() + r.height();
}

int32_t Clamp32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

URecordSelect::URecordSelect(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("URecordSelect"));
    mSystem = palette();
    mBackColor = mSystem.color(QPalette::Active, QPalette::Button);
    QFont f = font();
    f.setPointSize(9);
    f.setBold(true);
    setFont(f);
    mEdit = new QLineEdit(this);
    mEdit->setObjectName(QStringLiteral("txtNumber"));
    mEdit->setFont(f);
    mEdit->setText(QStringLiteral("00000"));
    mEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), mEdit));
    mEdit->setFixedHeight(19);
    mEdit->hide();
    mEdit->installEventFilter(this);
    Relayout();
}

double URecordSelect::PositionOf(int64_t v, int32_t min, int32_t max, double top, double length) {
    return double(v - int64_t(min) + 1) / double(int64_t(max) - min + 1) * length + top;
}

int64_t URecordSelect::ValueAt(double y, int32_t min, int32_t max, double top, double length) {
    if (!(length > 0)) return min;
    const double v = (y - top) * double(int64_t(max) - min + 1) / length + double(min) - 1.0;
    // Far beyond the track the value is clamped anyway; keep it inside 64 bits.
    return int64_t(std::nearbyint(std::clamp(v, -4e18, 4e18)));
}

// ---------------------------------------------------------------- properties

void URecordSelect::SetRangeMax(int32_t v) {
    mRangeMax = v;
    if (v != 0 && int64_t(mHigh) - mLow + 1 > v) mHigh = Clamp32(int64_t(mLow) + v - 1);
    Relayout();
    emit PropertyChanged(QStringLiteral("RangeMax"));
}

void URecordSelect::SetMax(int32_t v) {
    v = std::max(v, mMin);
    mHigh = std::min(mHigh, v);
    mLow = std::min(mLow, v);
    mMax = v;
    Relayout();
}

void URecordSelect::SetMin(int32_t v) {
    v = std::min(v, mMax);
    mLow = std::max(mLow, v);
    mHigh = std::max(mHigh, v);
    mMin = v;
    Relayout();
}

void URecordSelect::SetLowValue(int32_t v) {
    v = std::min(std::min(std::max(v, mMin), mMax), mHigh);
    if (mRangeMax != 0 && int64_t(mHigh) - v + 1 > mRangeMax) v = Clamp32(int64_t(mHigh) - mRangeMax + 1);
    mLow = v;
    Relayout();
}

void URecordSelect::SetHighValue(int32_t v) {
    v = std::max(std::max(std::min(v, mMax), mMin), mLow);
    if (mRangeMax != 0 && int64_t(v) - mLow + 1 > mRangeMax) v = Clamp32(int64_t(mLow) + mRangeMax - 1);
    mHigh = v;
    Relayout();
}

void URecordSelect::SetFillColor(const QColor& c) {
    mFillColor = c;
    Relayout();
    emit PropertyChanged(QStringLiteral("FillColor"));
}

void URecordSelect::SetForeColor(const QColor& c) {
    mForeColor = c;
    Relayout();
    emit PropertyChanged(QStringLiteral("ForeColor"));
}

// ---------------------------------------------------------------- stored properties

void URecordSelect::ReadProperties(const QVariantMap& bag) {
    using MPropertyBag::Find;
    const QPalette& system = mSystem;
    const auto color = [&](const char* key, uint32_t fallback, QColor& into) {
        const QVariant* v = Find(bag, QLatin1String(key));
        if (!v) into = MPropertyBag::Color(fallback, system);
        else if (auto c = MPropertyBag::Color(*v, system)) into = *c;
    };
    color("FillColor", kStoredFill, mFillColor);
    color("BackColor", MPropertyBag::kButtonFace, mBackColor);
    color("ForeColor", kStoredFore, mForeColor);
    const auto number = [&](const char* key, int32_t fallback, int32_t& into) {
        MPropertyBag::ReadNumber(bag, key, fallback, into);
    };
    number("Min", 1, mMin);
    number("Max", 1000, mMax);
    number("Low", 400, mLow);
    number("High", 600, mHigh);
    number("RangeMax", kStoredRangeMax, mRangeMax);
    Relayout();
}

QVariantMap URecordSelect::WriteProperties() const {
    QVariantMap bag;
    const QPalette& system = mSystem;
    if (mFillColor != MPropertyBag::Color(kStoredFill, system)) bag.insert("FillColor", MPropertyBag::ToOle(mFillColor));
    if (mBackColor != MPropertyBag::Color(MPropertyBag::kButtonFace, system))
        bag.insert("BackColor", MPropertyBag::ToOle(mBackColor));
    if (mForeColor != MPropertyBag::Color(kStoredFore, system)) bag.insert("ForeColor", MPropertyBag::ToOle(mForeColor));
    const std::pair<const char*, std::pair<int32_t, int32_t>> values[] = {
        {"Min", {mMin, 1}}, {"Max", {mMax, 1000}}, {"Low", {mLow, 400}}, {"High", {mHigh, 600}},
        {"RangeMax", {mRangeMax, kStoredRangeMax}}};
    for (const auto& [key, v] : values)
        if (v.first != v.second) bag.insert(QLatin1String(key), v.first);
    return bag;
}

// ---------------------------------------------------------------- geometry

void URecordSelect::Relayout() {
    base::RecordErrors("URecordSelect::Relayout", [&] {
        const int textWidth = fontMetrics().horizontalAdvance(QString::number(mMax));
        mEdit->setFixedWidth(std::max(40, textWidth));
        mEdit->hide();
        update();
    });
}

void URecordSelect::resizeEvent(QResizeEvent*) { Relayout(); }

int URecordSelect::TrackLeft() const { return Nearest((width() - kTrackWidth) / 2.0); }

QRect URecordSelect::NumberBox(bool low) const {
    const QFontMetrics fm = fontMetrics();
    const QString text = QString::number(low ? mLow : mHigh);
    const int cx = fm.horizontalAdvance(text), cy = fm.height();
    const double p = PositionOf(low ? mLow : mHigh);
    const int top = Nearest(p - cy / 2.0), bottom = Nearest(cy / 2.0 + p);
    if (low) return QRect(QPoint(TrackLeft() - 13 - cx, top), QPoint(TrackLeft() - 13 - 1, bottom - 1));
    return QRect(QPoint(TrackLeft() + 28, top), QPoint(TrackLeft() + 28 + cx - 1, bottom - 1));
}

QRect URecordSelect::HandleRect(bool low) const {
    QRect r = NumberBox(low);
    if (low) {
        int left = r.left();
        if (TrackLeft() - left < 40) left = TrackLeft() - 40;
        return QRect(QPoint(left, r.top()), QPoint(TrackLeft() - 1, r.bottom()));
    }
    const int left = TrackLeft() + kTrackWidth;
    int right = r.left() + r.width();
    if (right - left < 40) right = left + 40;
    return QRect(QPoint(left, r.top()), QPoint(right - 1, r.bottom()));
}

// ---------------------------------------------------------------- mouse

void URecordSelect::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    base::ShowErrors("URecordSelect::UserControl_MouseDown", [&] {
        const QPointF pos = e->position();
        mPress = QPoint(Nearest(pos.x()), Nearest(pos.y()));
        const double y = pos.y();
        mDrag = DragKind::None;
        const double lowPos = PositionOf(mLow), highPos = PositionOf(mHigh);
        const int trackLeft = Nearest((width() - kTrackWidth) / 2.0 - 2);
        const QRect track(QPoint(trackLeft, Nearest(TrackTop())), QPoint(trackLeft + 15 - 1, Nearest(TrackBottom()) - 1));
        // The grab is taken from the handle's exact position, so the first step
        // of a drag reads back the value the handle shows.
        if (Inside(HandleRect(true), mPress)) {
            mDrag = DragKind::Low;
            mGrab = y - lowPos;
            mLastDrag = mLow;
        } else if (Inside(HandleRect(false), mPress)) {
            mDrag = DragKind::High;
            mGrab = y - highPos;
            mLastDrag = mHigh;
        } else if (Inside(track, mPress) && y >= lowPos - 3 && y <= highPos + 3) {
            mDrag = DragKind::Range;
            mGrab = y - lowPos;
            mLastDrag = mLow;
        }
        if (TrackLength() <= 0) mDrag = DragKind::None;
        mEdit->hide();
    });
}

void URecordSelect::mouseMoveEvent(QMouseEvent* e) {
    if (e->buttons() != Qt::LeftButton || mDrag == DragKind::None) return;
    base::ShowErrors("URecordSelect::UserControl_MouseMove", [&] { DragTo(e->position().y()); });
}

void URecordSelect::DragTo(double y) {
    const double length = TrackLength();
    if (length <= 0) return;
    int64_t v = ValueAt(y - mGrab, mMin, mMax, TrackTop(), length);
    const int64_t span = int64_t(mHigh) - mLow;
    if (mDrag == DragKind::Low) {
        v = std::min<int64_t>(std::min<int64_t>(std::max<int64_t>(v, mMin), mMax), mHigh);
        if (mRangeMax != 0 && mHigh - v + 1 > mRangeMax) v = int64_t(mHigh) - mRangeMax + 1;
    } else if (mDrag == DragKind::High) {
        v = std::max<int64_t>(std::max<int64_t>(std::min<int64_t>(v, mMax), mMin), mLow);
        if (mRangeMax != 0 && v - mLow + 1 > mRangeMax) v = int64_t(mLow) + mRangeMax - 1;
    } else {
        v = std::max<int64_t>(v, mMin);
        if (v + span > mMax) v = int64_t(mMax) - span;
    }
    if (v == mLastDrag) return;
    if (mDrag == DragKind::Low) mLow = int32_t(v);
    else if (mDrag == DragKind::High) mHigh = int32_t(v);
    else {
        mLow = int32_t(v);
        mHigh = int32_t(v + span);
    }
    mLastDrag = v;
    update();
    RaiseChange();
}

void URecordSelect::mouseReleaseEvent(QMouseEvent*) { mDrag = DragKind::None; }

void URecordSelect::mouseDoubleClickEvent(QMouseEvent*) {
    base::ShowErrors("URecordSelect::UserControl_DblClick", [&] {
        mDrag = DragKind::None;
        const QRect low = HandleRect(true), high = HandleRect(false);
        const int h = mEdit->height();
        if (Inside(low, mPress)) {
            mEditLow = true;
            mEdit->move(Nearest(low.left() + low.width() - kTriLength - mEdit->width() - 4),
                        low.top() + (low.height() - h) / 2);
            mEdit->setText(QString::number(mLow));
        } else if (Inside(high, mPress)) {
            mEditLow = false;
            mEdit->move(Nearest(high.left() + kTriLength + 4), high.top() + (high.height() - h) / 2);
            mEdit->setText(QString::number(mHigh));
        } else {
            mEdit->hide();
            return;
        }
        mEdit->selectAll();
        mEdit->show();
        mEdit->setFocus();
    });
}

// ---------------------------------------------------------------- edit box

bool URecordSelect::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mEdit) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            mEdit->hide();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            base::ShowErrors("URecordSelect::txtNumber_KeyPress", [&] { ApplyEdit(); });
            return true;
        }
    } else if (event->type() == QEvent::FocusOut && !mEdit->isHidden()) {
        // Shown by its own switch: a panel hidden with the box open still
        // takes the number over.
        base::ShowErrors("URecordSelect::txtNumber_LostFocus", [&] { ApplyEdit(); });
    }
    return QWidget::eventFilter(watched, event);
}

void URecordSelect::ApplyEdit() {
    const QString text = mEdit->text();
    mEdit->hide();
    if (text.isEmpty()) return;
    bool ok = false;
    const qlonglong big = text.toLongLong(&ok);
    // A number beyond 32 bits counts as 0.
    int64_t n = (!ok || big > std::numeric_limits<int32_t>::max()) ? 0 : big;
    if (mEditLow) {
        if (n < mMin) n = mMin;
        else if (n > mHigh) n = mHigh;
        if (mRangeMax != 0 && mHigh - n + 1 > mRangeMax) n = int64_t(mHigh) - mRangeMax + 1;
        mLow = int32_t(n);
    } else {
        if (n > mMax) n = mMax;
        else if (n < mLow) n = mLow;
        if (mRangeMax != 0 && n - mLow + 1 > mRangeMax) n = int64_t(mLow) + mRangeMax - 1;
        mHigh = int32_t(n);
    }
    Relayout();
    RaiseChange();
}

void URecordSelect::RaiseChange() {
    base::ShowErrors("URecordSelect::Change", [&] { emit Change(); });
}

// ---------------------------------------------------------------- painting

void URecordSelect::paintEvent(QPaintEvent*) {
    base::RecordErrors("URecordSelect::paintEvent", [&] {
        QPainter p(this);
        p.fillRect(rect(), mBackColor);
        const double length = TrackLength();
        if (length <= 0) return;
        qDrawShadePanel(&p, QRect(QPoint(TrackLeft() - 2, Nearest(TrackTop() - 2)), QPoint(TrackLeft() + 15 - 1, Nearest(TrackBottom() + 2) - 1)),
                        palette(), true, 2);
        const double lowPos = PositionOf(mLow), highPos = PositionOf(mHigh);
        const int e = mLow == mHigh ? 1 : 0;
        const int fillTop = Nearest(lowPos), fillBottom = std::max(Nearest(highPos + e), fillTop + 1);
        p.fillRect(QRect(TrackLeft(), fillTop, kTrackWidth, fillBottom - fillTop), mFillColor);

        const QFontMetrics fm = fontMetrics();
        if (height() >= 45) {
            p.setPen(mFillColor);
            for (bool isMin : {true, false}) {
                const QString t = QString::number(isMin ? mMin : mMax);
                const int cx = fm.horizontalAdvance(t), cy = fm.height();
                const int left = Nearest((width() - cx) / 2.0);
                const int y0 = isMin ? Nearest(TrackTop() - cy - kTriHalf) : Nearest(TrackBottom() + kTriHalf);
                p.drawText(QRect(left, y0, cx, cy), Qt::AlignCenter | Qt::TextSingleLine, t);
            }
        }
        p.setRenderHint(QPainter::Antialiasing);
        for (bool low : {false, true}) {
            const QRect box = NumberBox(low);
            p.setPen(mForeColor);
            p.drawText(box, (low ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                       QString::number(low ? mLow : mHigh));
            const int pos = Nearest(PositionOf(low ? mLow : mHigh));
            const double tipX = low ? TrackLeft() - 3 : TrackLeft() + 15;
            const double baseX = low ? Nearest(tipX - kTriLength) : Nearest(tipX + kTriLength);
            QPolygonF tri;
            tri << QPointF(tipX, pos) << QPointF(baseX, Nearest(pos - kTriHalf)) << QPointF(baseX, Nearest(kTriHalf + pos));
            p.setPen(Qt::black);
            p.setBrush(Qt::black);
            p.drawPolygon(tri);
        }
    });
}
