#include "UAppFrame.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "KeyCodes.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include <cmath>

UAppFrame::UAppFrame(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("UAFMain"));
    setFocusPolicy(Qt::StrongFocus);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    mSlider = new QWidget(this);
    mSlider->setObjectName(QStringLiteral("picSlider"));
    mSlider->setAutoFillBackground(true);
    QPalette sp = mSlider->palette();
    sp.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    mSlider->setPalette(sp);
    mSlider->setCursor(Qt::SplitHCursor);
    mSlider->setGeometry(mSplit, 0, kSliderWidth, height());
    mSlider->installEventFilter(this);
    mShadow = new QWidget(this);
    mShadow->setObjectName(QStringLiteral("picShadow"));
    mShadow->setAutoFillBackground(true);
    QPalette hp = mShadow->palette();
    hp.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    mShadow->setPalette(hp);
    mShadow->setGeometry(mSplit, 0, 4, height());
    mShadow->hide();
}

AppFrameItem* UAppFrame::Find(const QString& key) {
    for (AppFrameItem& item : mItems)
        if (item.Key.compare(key, Qt::CaseInsensitive) == 0) return &item;
    return nullptr;
}

const AppFrameItem* UAppFrame::FindExact(const QString& key) const {
    for (const AppFrameItem& item : mItems)
        if (item.Key == key) return &item;
    return nullptr;
}

void UAppFrame::AddItem(const QString& key, const QString& caption, const QString& controlName) {
    base::ShowErrors("UAppFrame::AddItem", [&] {
        AppFrameItem item;
        item.Title = caption;
        item.Key = key;
        // The main window's controls, in the order they were made.
        QWidget* container = window();
        for (QWidget* w : container->findChildren<QWidget*>()) {
            if (w->objectName().compare(controlName, Qt::CaseInsensitive) != 0) continue;
            item.Control = w;
            w->setVisible(false);
            const int left = w->mapTo(container, QPoint(0, 0)).x() - mapTo(container, QPoint(0, 0)).x();
            item.Pane = !(left < SliderLeft());
            break;
        }
        if (!item.Control)
            throw app::RuntimeError(1, "The control '" + controlName.toStdString() + "' does not exist.");
        if (Find(key)) app::RaiseError(457);  // the key is already in the collection
        mItems << item;
    });
}

void UAppFrame::Hide(const QString& key) {
    if (const AppFrameItem* item = FindExact(key))
        if (item->Control) item->Control->setVisible(false);
}

void UAppFrame::SetActivePanel(const QString& key) {
    base::ShowErrors("UAppFrame::SetActivePanel", [&] {
        if (!key.isEmpty()) {
            if (key == mActiveRight || key == mActiveLeft) return;
            AppFrameItem* item = Find(key);
            if (!item) app::RaiseError(5);  // not in the collection
            // The item's own key becomes active, whatever the caller's spelling.
            const QString own = item->Key;
            if (own == mActiveRight || own == mActiveLeft) return;
            if (item->Pane) {
                Hide(mActiveRight);
                mActiveRight = own;
                mCaptionRight = item->Title;
            } else {
                Hide(mActiveLeft);
                mActiveLeft = own;
                mCaptionLeft = item->Title;
            }
            Layout();
            emit ItemSelected(own);
            if (item->Control) item->Control->setVisible(true);
        } else {
            mCaptionLeft.clear();
            Hide(mActiveLeft);
            mActiveLeft.clear();
            mCaptionRight.clear();
            Hide(mActiveRight);
            mActiveRight.clear();
            Layout();
        }
    });
}

const AppFrameItem* UAppFrame::GetActivePanelLeft() const {
    return mActiveLeft.isEmpty() ? nullptr : FindExact(mActiveLeft);
}
const AppFrameItem* UAppFrame::GetActivePanelRight() const {
    return mActiveRight.isEmpty() ? nullptr : FindExact(mActiveRight);
}
QString UAppFrame::GetActiveKeyLeft() const { return mActiveLeft; }
QString UAppFrame::GetActiveKeyRight() const { return mActiveRight; }

void UAppFrame::SetCaptionRight(const QString& caption) {
    mCaptionRight = caption;
    repaint();
}

int UAppFrame::SliderLeft() const { return mSlider->x(); }

int32_t UAppFrame::SplitPosition() const { return int32_t(mSplit) * kScale; }

void UAppFrame::SetSplitPosition(int32_t twips) {
    mSplit = int(twips / kScale);
    Layout();
}

int UAppFrame::BoundSplit(int left, int frameWidth) {
    if (left < 0) return 0;
    if (left < 20) return 20;
    if (left > frameWidth - 20 - 9) return frameWidth - 29;
    return left;
}

void UAppFrame::SetFocusX() {
    if (mFocus) return;
    mFocus = true;
    update();
}

void UAppFrame::UnSetFocusX() {
    if (!mFocus) return;
    mFocus = false;
    update();
}

void UAppFrame::Layout() {
    if (mInLayout) return;
    mInLayout = true;
    // A frame narrower than the slider's place: nothing is moved.
    if (SliderLeft() > width()) {
        mInLayout = false;
        return;
    }
    const int h = height();
    mSlider->setGeometry(mSplit, 0, kSliderWidth, h);
    if (const AppFrameItem* left = GetActivePanelLeft())
        if (left->Control) left->Control->setGeometry(0, kCaptionHeight, mSplit, std::abs(h - kCaptionHeight));
    if (const AppFrameItem* right = GetActivePanelRight())
        if (right->Control) {
            const int x = mSplit + kSliderWidth;
            right->Control->setGeometry(x, kCaptionHeight, width() - x, h - kCaptionHeight);
        }
    mShadow->setGeometry(mShadow->x(), 0, 4, h);
    mShadow->raise();
    update();
    emit Resize();
    mInLayout = false;
}

void UAppFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

bool UAppFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mSlider) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() != Qt::LeftButton) break;
            mDragging = true;
            mShadow->move(SliderLeft(), 0);
            mPressX = int(me->position().x());
            mShadow->show();
            mShadow->raise();
            return true;
        }
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(event);
            if (!mDragging || !(me->buttons() & Qt::LeftButton)) break;
            const int x = int(me->position().x());
            if (std::abs(x - mLastX) >= 1) {
                mShadow->move(BoundSplit(SliderLeft() + x - mPressX, width()), 0);
                mLastX = x;
            }
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() != Qt::LeftButton || !mDragging) break;
            // The last position of the pointer decides, also without a move event before it.
            const int x = int(me->position().x());
            mShadow->move(BoundSplit(SliderLeft() + x - mPressX, width()), 0);
            mDragging = false;
            mSplit = mShadow->x();
            mSlider->move(mSplit, 0);
            mShadow->hide();
            mPressX = 0;
            Layout();
            return true;
        }
        default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void UAppFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int R = width() - 1, B = height() - 1, SL = SliderLeft(), SW = kSliderWidth;
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawPolyline(QPolygon({QPoint(R, 0), QPoint(SL + SW, 0), QPoint(SL + SW, B)}));
    p.drawLine(SL + SW, 23, R, 23);
    p.drawPolyline(QPolygon({QPoint(SL, 0), QPoint(0, 0), QPoint(0, 20)}));
    p.drawLine(0, 23, 0, B);
    p.drawLine(0, 23, SL - 1, 23);
    p.setPen(Qt::white);
    p.drawPolyline(QPolygon({QPoint(R, 0), QPoint(R, B), QPoint(SL + SW, B)}));
    p.drawPolyline(QPolygon({QPoint(SL - 1, 0), QPoint(SL - 1, B), QPoint(0, B)}));
    p.drawLine(R, 20, SL + SW - 1, 20);
    p.drawLine(SL - 1, 20, 0, 20);

    const QPalette::ColorGroup group = mFocus ? QPalette::Active : QPalette::Inactive;
    const QColor bar = mFocus ? palette().color(QPalette::Active, QPalette::Highlight)
                              : palette().color(QPalette::Inactive, QPalette::Mid);
    const QColor text = mFocus ? QColor(Qt::white) : palette().color(group, QPalette::Light);
    p.setPen(Qt::NoPen);
    p.setBrush(bar);
    p.drawRect(QRect(QPoint(2, 1), QPoint(SL - 1, 21)).adjusted(0, 0, -1, -1));
    p.drawRect(QRect(QPoint(SL + SW + 1, 1), QPoint(R, 21)).adjusted(0, 0, -1, -1));
    p.setPen(text);
    p.drawText(QRect(QPoint(5, 0), QPoint(SL - 1, 21)), Qt::AlignVCenter | Qt::TextSingleLine,
               mActiveLeft.isEmpty() ? QString() : mCaptionLeft);
    p.drawText(QRect(QPoint(SL + SW + 5, 0), QPoint(R - 1, 21)), Qt::AlignVCenter | Qt::TextSingleLine,
               mActiveRight.isEmpty() ? QString() : mCaptionRight);
}

void UAppFrame::keyPressEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    emit KeyDown(code, shift);
    if (code != 0) QWidget::keyPressEvent(event);
}

void UAppFrame::keyReleaseEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    emit KeyUp(code, shift);
    if (code != 0) QWidget::keyReleaseEvent(event);
}

void UAppFrame::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) emit Click();
}
