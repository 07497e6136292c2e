// A hyperlink label: a one-line underlined caption in link colours with an
// optional round bullet to its left, a pointing-hand pointer, a hover colour
// and a Click event. Positions are kept in twips (15 per pixel) and placed in
// pixels.
#pragma once

#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVariantMap>
#include <QWidget>

#include <cstdint>

class QLabel;

class ULink : public QWidget {
    Q_OBJECT
public:
    // Text colours, 0x00BBGGRR.
    static constexpr uint32_t kLinkColor = 0xFF0000;       // blue
    static constexpr uint32_t kHoverColor = 0x0000FF;      // red
    static constexpr uint32_t kHighlightColor = 0x800080;  // purple
    static constexpr uint32_t kDisabledColor = 0x808080;   // grey
    static constexpr uint32_t kDefaultBackColor = 0x8000000F;
    static constexpr double kBulletBoxHeight = 2415;  // twips, never changed

    explicit ULink(QWidget* parent = nullptr);

    QFont Font() const;
    void SetFont(const QFont& font);
    QString Caption() const;
    void SetCaption(const QString& caption);
    // The link's own switch, as stored in its properties, whatever its host's.
    bool Enabled() const { return isEnabledTo(parentWidget()); }
    void SetEnabled(bool enabled);
    bool AutoSize() const { return mAutoSize; }
    void SetAutoSize(bool autoSize);
    uint32_t BackColor() const { return mBackColor; }
    void SetBackColor(uint32_t color);
    bool Bulleted() const { return mBulleted; }
    void SetBulleted(bool bulleted);
    bool Highlight() const { return mHighlight; }
    void SetHighlight(bool highlight);

    // Stored properties. Load skips a value that is missing in a wrong type and takes the
    // default of a missing key; keys are matched without regard to case.
    // Save leaves out every value equal to its default.
    void ReadProperties(const QVariantMap& bag, const QFont& ambientFont, const QString& displayName);
    QVariantMap WriteProperties(const QFont& ambientFont, const QString& displayName) const;

    // What is on show: the caption's text colour (0x00BBGGRR), and the caption
    // and bullet places in twips.
    uint32_t TextColor() const { return mTextColor; }
    QPointF CaptionPos() const { return mCaptionPos; }
    QRectF BulletRect() const { return mBulletRect; }
    bool BulletVisible() const { return mBulletVisible; }
    // Run-time state: pointer inside, hover look on, left button held.
    bool Inside() const { return mInside; }
    bool Hovering() const { return mHover; }
    bool Pressed() const { return mPressed; }

    // Circle diameter of the bullet for a caption font of this size, in twips.
    static double BulletWidth(double pointSize) { return 10.0 * pointSize; }

signals:
    void Click();
    void DblClick();
    // A stored property changed (its bag key), so that a host saves it.
    void PropertyChanged(const QString& key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void SetEnabledLook(bool enabled);
    void DoAutoSize();
    void SetColors();
    void PlaceBullet();
    void TrackMouse(double xTwips, double yTwips);
    void UpdateHover();
    void ApplyTextColor(uint32_t color);
    void PlaceCaption();
    double CaptionWidth() const;
    double CaptionHeight() const;
    bool InsideSurface(double xTwips, double yTwips) const;
    void HandleRelease(const QPointF& pixel, Qt::MouseButton button);

    QLabel* mCaption;
    QPointF mCaptionPos;  // twips
    QRectF mBulletRect;   // twips
    bool mBulletVisible = false;
    uint32_t mTextColor = kLinkColor;
    uint32_t mBulletColor = kLinkColor;
    uint32_t mBackColor = kDefaultBackColor;
    bool mAutoSize = false;
    bool mBulleted = false;
    bool mHighlight = false;
    bool mInside = false;
    bool mHover = false;
    bool mPressed = false;
};
