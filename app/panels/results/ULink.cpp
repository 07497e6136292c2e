#include "ULink.h"

#include "ErrorGuard.h"
#include "MPropertyBag.h"
#include "MTwips.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTwips = MUtilities::TwipsPerPixel;

QColor ToQColor(uint32_t ole, const QPalette& palette) {
    if (ole & 0x80000000u) return palette.color(QPalette::Button);  // the only system colour used here
    return QColor(int(ole & 0xFF), int((ole >> 8) & 0xFF), int((ole >> 16) & 0xFF));
}

using MPropertyBag::Find;

QFont BuiltInFont() {
    QFont font;  // "MS Sans Serif" maps to the default sans face
    font.setPointSizeF(9.75);
    font.setBold(true);
    font.setUnderline(true);
    return font;
}

}  // namespace

ULink::ULink(QWidget* parent) : QWidget(parent), mCaption(new QLabel(this)) {
    mCaption->setObjectName("lblCaption");
    mCaption->setFont(BuiltInFont());
    mCaption->setAutoFillBackground(true);
    // The surface answers every mouse action, so one press and release is one Click.
    mCaption->setAttribute(Qt::WA_TransparentForMouseEvents);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    SetBackColor(kDefaultBackColor);
    mBulletRect = QRectF(0, 0, BulletWidth(mCaption->font().pointSizeF()), kBulletBoxHeight);
    ApplyTextColor(kLinkColor);
    PlaceCaption();
}

QFont ULink::Font() const { return mCaption->font(); }

void ULink::SetFont(const QFont& font) {
    QFont f = font;
    f.setUnderline(Enabled());
    mCaption->setFont(f);
    PlaceCaption();
    mBulletRect.setWidth(BulletWidth(f.pointSizeF()));
    if (mBulleted) PlaceBullet();
    update();
    emit PropertyChanged("Font");
}

QString ULink::Caption() const { return mCaption->text(); }

void ULink::SetCaption(const QString& caption) {
    mCaption->setText(caption);
    PlaceCaption();
    if (mAutoSize) DoAutoSize();
    emit PropertyChanged("Caption");
}

void ULink::SetEnabled(bool enabled) {
    setEnabled(enabled);
    SetEnabledLook(enabled);
    emit PropertyChanged("Enabled");
}

void ULink::SetAutoSize(bool autoSize) {
    mAutoSize = autoSize;
    if (mAutoSize) DoAutoSize();
    emit PropertyChanged("AutoSize");
}

void ULink::SetBackColor(uint32_t color) {
    mBackColor = color;
    QPalette p = mCaption->palette();
    p.setColor(QPalette::Window, ToQColor(color, palette()));
    mCaption->setPalette(p);
    emit PropertyChanged("BackColor");
}

void ULink::SetBulleted(bool bulleted) {
    if (bulleted) {
        PlaceBullet();
    } else {
        mBulletVisible = false;
        mCaptionPos.setX(0);
        PlaceCaption();
        update();
    }
    mBulleted = bulleted;
    emit PropertyChanged("Bulleted");
}

void ULink::SetHighlight(bool highlight) {
    if (highlight != mHighlight) {
        mHighlight = highlight;
        SetColors();
    }
    mHighlight = highlight;
    emit PropertyChanged("Highlight");
}

void ULink::ReadProperties(const QVariantMap& bag, const QFont& ambientFont, const QString& displayName) {
    // Each step on its own: a value of the wrong type is skipped.
    if (const QVariant* v = Find(bag, "Font")) {
        if (v->canConvert<QFont>()) SetFont(v->value<QFont>());
    } else {
        SetFont(ambientFont);
    }
    if (const QVariant* v = Find(bag, "Caption")) {
        if (v->canConvert<QString>()) mCaption->setText(v->toString());
    } else {
        mCaption->setText(displayName);
    }
    PlaceCaption();
    bool enabled = true;
    if (const QVariant* v = Find(bag, "Enabled")) enabled = v->canConvert<bool>() ? v->toBool() : Enabled();
    setEnabled(enabled);
    SetEnabledLook(enabled);
    if (const QVariant* v = Find(bag, "AutoSize")) {
        if (v->canConvert<bool>()) mAutoSize = v->toBool();
    } else {
        mAutoSize = false;
    }
    uint32_t back = kDefaultBackColor;
    if (const QVariant* v = Find(bag, "BackColor")) {
        bool ok = false;
        const uint32_t value = v->toUInt(&ok);
        back = ok ? value : mBackColor;
    }
    SetBackColor(back);
    mCaption->setToolTip(toolTip());
    const QVariant* bulleted = Find(bag, "Bulleted");
    if (!bulleted) SetBulleted(false);
    else if (bulleted->canConvert<bool>()) SetBulleted(bulleted->toBool());
    const QVariant* highlight = Find(bag, "Highlight");
    if (!highlight) SetHighlight(false);
    else if (highlight->canConvert<bool>()) SetHighlight(highlight->toBool());
}

QVariantMap ULink::WriteProperties(const QFont& ambientFont, const QString& displayName) const {
    QVariantMap bag;
    QFont font = mCaption->font();
    font.setUnderline(ambientFont.underline());  // the look's underline is not a setting
    if (font != ambientFont) bag.insert("Font", font);
    if (Caption() != displayName) bag.insert("Caption", Caption());
    if (!Enabled()) bag.insert("Enabled", false);
    if (mAutoSize) bag.insert("AutoSize", true);
    if (mBackColor != kDefaultBackColor) bag.insert("BackColor", mBackColor);
    if (mBulleted) bag.insert("Bulleted", true);
    if (mHighlight) bag.insert("Highlight", true);
    return bag;
}

void ULink::SetEnabledLook(bool enabled) {
    QFont f = mCaption->font();
    f.setUnderline(enabled);
    mCaption->setFont(f);
    if (enabled) {
        ApplyTextColor(mHighlight ? kHighlightColor : kLinkColor);
        setCursor(Qt::PointingHandCursor);
    } else {
        ApplyTextColor(kDisabledColor);
        setCursor(Qt::ArrowCursor);
    }
    mBulletColor = mTextColor;
    mBulletRect.setWidth(BulletWidth(f.pointSizeF()));
    update();
}

void ULink::DoAutoSize() {
    resize(MTwips::ToPixels(mCaptionPos.x() + CaptionWidth()), MTwips::ToPixels(CaptionHeight()));
}

void ULink::SetColors() {
    if (!Enabled()) ApplyTextColor(kDisabledColor);
    else ApplyTextColor(mHighlight ? kHighlightColor : kLinkColor);
    mBulletColor = mTextColor;
    update();
}

void ULink::PlaceBullet() {
    const double width = mBulletRect.width();
    mBulletRect.moveTo(0, (CaptionHeight() - kBulletBoxHeight) / 2 + mCaptionPos.y());
    mCaptionPos.setX(width / 2 + width);
    PlaceCaption();
    mBulletVisible = true;
    update();
}

void ULink::TrackMouse(double xTwips, double yTwips) {
    mInside = InsideSurface(xTwips, yTwips);
    UpdateHover();
}

void ULink::UpdateHover() {
    if (!Enabled()) return;
    if (mInside) {
        if (mHover) return;
        mHover = true;
        ApplyTextColor(mHighlight ? kHighlightColor : kHoverColor);
    } else {
        mHover = false;
        ApplyTextColor(mHighlight ? kHighlightColor : kLinkColor);
    }
    mBulletColor = mTextColor;
    update();
}

void ULink::ApplyTextColor(uint32_t color) {
    mTextColor = color;
    QPalette p = mCaption->palette();
    p.setColor(QPalette::WindowText, ToQColor(color, palette()));
    mCaption->setPalette(p);
}

void ULink::PlaceCaption() {
    mCaption->adjustSize();
    mCaption->move(MTwips::ToPixels(mCaptionPos.x()), MTwips::ToPixels(mCaptionPos.y()));
}

double ULink::CaptionWidth() const { return mCaption->sizeHint().width() * kTwips; }
double ULink::CaptionHeight() const { return mCaption->sizeHint().height() * kTwips; }

bool ULink::InsideSurface(double x, double y) const {
    return x >= 0 && x <= width() * kTwips && y >= 0 && y <= height() * kTwips;
}

void ULink::paintEvent(QPaintEvent*) {
    if (!mBulletVisible) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ToQColor(mBulletColor, palette()));
    // The largest circle that fits the bullet's box.
    const double d = std::min(mBulletRect.width(), mBulletRect.height()) / kTwips;
    const QPointF centre = mBulletRect.center() / kTwips;
    painter.drawEllipse(centre, d / 2, d / 2);
}

void ULink::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mPressed = true;
    } else if (event->button() == Qt::RightButton) {
        mPressed = false;
        mInside = false;
    }
}

void ULink::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is no new press: its release raises
    // no Click. Only the surface beside the caption answers it.
    if (event->button() == Qt::LeftButton && !mCaption->geometry().contains(event->position().toPoint())) {
        base::ShowErrors("ULink::UserControl_DblClick", [&] { emit DblClick(); });
    }
}

void ULink::mouseReleaseEvent(QMouseEvent* event) { HandleRelease(event->position(), event->button()); }

void ULink::HandleRelease(const QPointF& pixel, Qt::MouseButton) {
    const double x = pixel.x() * kTwips, y = pixel.y() * kTwips;
    if (mPressed && InsideSurface(x, y)) {
        base::ShowErrors("ULink::UserControl_Click", [&] { emit Click(); });
        if (!isVisible()) {
            // The host hid the link: let go of the hover look.
            mPressed = mHover = mInside = false;
            UpdateHover();
            return;
        }
    }
    mPressed = mHover = false;
    TrackMouse(x, y);
}

void ULink::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    // While the button is held only moves over the caption are tracked.
    if (!mPressed || mCaption->geometry().contains(p.toPoint())) TrackMouse(p.x() * kTwips, p.y() * kTwips);
}

void ULink::leaveEvent(QEvent*) {
    if (!mPressed) TrackMouse(-1, -1);
}
