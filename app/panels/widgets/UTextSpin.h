// A one-line number box with a spin button at its right edge. It holds one
// value between Min and Max, shown with a fixed number of decimals (or in the
// free form) or as a date. Typed text is taken over on Enter or when the box
// loses the focus; the spin button steps by SmallChange. Each accepted value
// raises Change. Numbers are shown and read with "." whatever the locale.
#pragma once

#include <QPalette>
#include <QVariantMap>
#include <QWidget>

#include <cstdint>
#include <optional>

class QLineEdit;
class USpin;

class UTextSpin : public QWidget {
    Q_OBJECT
public:
    explicit UTextSpin(QWidget* parent = nullptr);

    double Value() const { return mValue; }
    void SetValue(double v);
    double Min() const { return mMin; }
    void SetMin(double m);
    double Max() const { return mMax; }
    void SetMax(double m);
    double SmallChange() const { return mSmallChange; }
    void SetSmallChange(double v) { mSmallChange = v; emit PropertyChanged("SmallChange"); }
    double LargeChange() const { return mLargeChange; }
    void SetLargeChange(double v) { mLargeChange = v; emit PropertyChanged("LargeChange"); }
    int16_t DecimalPlaces() const { return mDecimalPlaces; }
    void SetDecimalPlaces(int16_t places) { mDecimalPlaces = places; emit PropertyChanged("DecimalPlaces"); }
    bool ShowAsDate() const { return mShowAsDate; }
    void SetShowAsDate(bool on);

    QColor BackColor() const;
    void SetBackColor(const QColor& c);
    QColor ForeColor() const;
    void SetForeColor(const QColor& c);
    bool Enabled() const;
    void SetEnabled(bool on);
    QFont Font() const;
    void SetFont(const QFont& f);
    int32_t SelStart() const;
    void SetSelStart(int32_t start);
    int32_t SelLength() const;
    void SetSelLength(int32_t length);
    QString SelText() const;
    void SetSelText(const QString& text);
    QString Text() const;

    // Stored properties, read and written in this order: "BackColor",
    // "ForeColor", "Enabled", "Font", "SelLength", "SelStart", "SelText", "Max",
    // "Min", "Value", "SmallChange", "LargeChange", "DecimalPlaces",
    // "ShowAsDate". Keys are matched without regard to case; a missing key
    // takes its default (the font: the container's); values read are taken
    // unchecked and the value is shown. Writing leaves out defaults.
    void ReadProperties(const QVariantMap& bag, const QFont& ambientFont);
    QVariantMap WriteProperties(const QFont& ambientFont) const;

    // The validity test of typed text and of numbers given to the setters.
    bool IsValidValue(const QString& text) const;
    bool IsValidValue(double v) const;
    // The text the value is shown with.
    QString ValueText() const;

signals:
    void Click();
    void DblClick();
    // Raised before the box's own handling; the receiver may change or zero
    // the codes (direct connections only).
    void KeyDown(int16_t& KeyCode, int16_t& Shift);
    void KeyPress(int16_t& KeyAscii);
    void KeyUp(int16_t& KeyCode, int16_t& Shift);
    // Button 1 left, 2 right, 4 middle; X and Y in twips within the text box.
    void MouseDown(int16_t& Button, int16_t& Shift, float& X, float& Y);
    void MouseMove(int16_t& Button, int16_t& Shift, float& X, float& Y);
    void MouseUp(int16_t& Button, int16_t& Shift, float& X, float& Y);
    void Change();
    // A stored property changed (its key), so that a host saves it.
    void PropertyChanged(const QString& key);
    // The end of every layout pass.
    void Resized();

protected:
    void resizeEvent(QResizeEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowValue();
    void Commit();
    void Step(bool down);
    void RaiseChange();
    bool KeyDownHandling(QKeyEvent* e);
    bool FilterCharacter(QKeyEvent* e);
    void ForwardMouse(QEvent* event);
    std::optional<double> Read(const QString& text) const;

    QLineEdit* mText = nullptr;
    QPalette mSystem;  // the box's own colours, which the system colour values stand for
    USpin* mSpin = nullptr;
    double mValue = 1, mMin = 0, mMax = 10, mSmallChange = 1, mLargeChange = 1;
    int16_t mDecimalPlaces = -1;
    bool mShowAsDate = false;
    bool mEditing = false;
    bool mInLayout = false;
    bool mInKey = false;
};
