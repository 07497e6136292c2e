// The split frame of the main window: a left and a right pane with a caption
// bar each and a slider between them. Panels are ordinary child widgets of
// the main window's frame, registered by name; the frame shows at most one
// per pane and places it under the pane's caption bar.
#pragma once

#include "AppFrameItem.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>

class UAppFrame : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCaptionHeight = 23;
    static constexpr int kSliderWidth = 3;
    static constexpr int kDesignSplit = 224;  // pixels
    static constexpr int kScale = 15;         // container units (twips) per pixel

    explicit UAppFrame(QWidget* parent = nullptr);

    // Registers the child widget named controlName (case-blind) under key.
    // Errors show the frame's box titled "UAppFrame::AddItem".
    void AddItem(const QString& key, const QString& caption, const QString& controlName);
    // The empty key empties both panes.
    void SetActivePanel(const QString& key);
    const AppFrameItem* GetActivePanelLeft() const;
    const AppFrameItem* GetActivePanelRight() const;
    QString GetActiveKeyLeft() const;
    QString GetActiveKeyRight() const;
    void SetCaptionRight(const QString& caption);
    QString CaptionLeft() const { return mCaptionLeft; }
    QString CaptionRight() const { return mCaptionRight; }
    // In container units (pixels * 15), 32-bit.
    int32_t SplitPosition() const;
    void SetSplitPosition(int32_t twips);
    // The split in frame pixels and the slider's current left edge.
    int SplitPixels() const { return mSplit; }
    int SliderLeft() const;
    void SetFocusX();
    void UnSetFocusX();
    bool FocusMark() const { return mFocus; }
    // A slider position bounded as a drag bounds it.
    static int BoundSplit(int left, int frameWidth);
    // The registered items, in registration order.
    const QList<AppFrameItem>& Items() const { return mItems; }
    QWidget* SliderWidget() const { return mSlider; }

signals:
    void ItemSelected(const QString& key);
    void Resize();
    void KeyDown(int16_t& keyCode, int16_t& shift);
    void KeyUp(int16_t& keyCode, int16_t& shift);
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Layout();
    AppFrameItem* Find(const QString& key);
    const AppFrameItem* FindExact(const QString& key) const;
    void Hide(const QString& key);

    QList<AppFrameItem> mItems;
    QString mActiveLeft, mActiveRight;
    QString mCaptionLeft, mCaptionRight;
    int mSplit = kDesignSplit;
    bool mFocus = true;
    bool mDragging = false;
    int mPressX = 0;
    int mLastX = 0;
    bool mInLayout = false;
    QWidget* mSlider = nullptr;
    QWidget* mShadow = nullptr;
};
