// A vertical range bar: the minimum at the top of the track, the maximum at
// the bottom, the chosen range filled, a triangle handle with its number on
// each side. The user drags a handle or the filled range, or double-clicks a
// number to type it; each change by the user raises Change. Writing the
// properties clamps them and raises nothing.
//
// Drags read values through the exact inverse of the map that draws them,
// so pressing a handle and moving sideways changes nothing.
#pragma once

#include <QColor>
#include <QPalette>
#include <QVariantMap>
#include <QWidget>

#include <cstdint>

class QLineEdit;

class URecordSelect : public QWidget {
    Q_OBJECT
public:
    explicit URecordSelect(QWidget* parent = nullptr);

    int32_t Min() const { return mMin; }
    void SetMin(int32_t v);
    int32_t Max() const { return mMax; }
    void SetMax(int32_t v);
    int32_t LowValue() const { return mLow; }
    void SetLowValue(int32_t v);
    int32_t HighValue() const { return mHigh; }
    void SetHighValue(int32_t v);
    int32_t RangeMax() const { return mRangeMax; }
    void SetRangeMax(int32_t v);
    QColor FillColor() const { return mFillColor; }
    void SetFillColor(const QColor& c);
    QColor BackColor() const { return mBackColor; }
    void SetForeColor(const QColor& c);

    // Stored properties under "FillColor", "BackColor", "ForeColor", "Min",
    // "Max", "Low", "High" and "RangeMax"; keys are matched without regard to
    // case. A missing key takes the store's default (RangeMax 100, where a new
    // control has 201); values read are taken unchecked. Writing leaves out
    // every value equal to the store's default.
    void ReadProperties(const QVariantMap& bag);
    QVariantMap WriteProperties() const;
    static constexpr int32_t kStoredRangeMax = 100;
    static constexpr uint32_t kStoredFill = 0xFF0000;  // blue
    static constexpr uint32_t kStoredFore = 0x000000;

    // The map between values and track positions (pixels, y downward) for a
    // track starting at top with length length. ValueAt(PositionOf(v)) == v.
    static double PositionOf(int64_t v, int32_t min, int32_t max, double top, double length);
    static int64_t ValueAt(double y, int32_t min, int32_t max, double top, double length);

    // Geometry of the current size.
    double TrackTop() const { return height() >= 45 ? 20 : 2; }
    double TrackBottom() const { return height() - TrackTop(); }
    double TrackLength() const { return TrackBottom() - TrackTop() - 1; }
    int TrackLeft() const;
    double PositionOf(int32_t v) const { return PositionOf(v, mMin, mMax, TrackTop(), TrackLength()); }
    // Hit rectangles of the handles (left and top inside, right and bottom outside).
    QRect LowHandleRect() const { return HandleRect(true); }
    QRect HighHandleRect() const { return HandleRect(false); }

signals:
    void Change();
    // A stored property changed (its key), so that a host saves it.
    void PropertyChanged(const QString& key);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class DragKind { None, Low, Range, High };
    void Relayout();
    QRect HandleRect(bool low) const;
    QRect NumberBox(bool low) const;
    void DragTo(double y);
    void ApplyEdit();
    void RaiseChange();

    int32_t mMin = 1, mMax = 1000, mLow = 400, mHigh = 600, mRangeMax = 201;
    QColor mFillColor{0, 0, 255};
    QColor mBackColor;
    QColor mForeColor{0, 0, 0};
    QPalette mSystem;  // the colours the system colour values stand for

    DragKind mDrag = DragKind::None;
    double mGrab = 0;
    QPoint mPress;
    bool mEditLow = true;
    int64_t mLastDrag = 0;
    QLineEdit* mEdit = nullptr;
};
