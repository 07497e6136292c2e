#include "UTextSpin.h"

#include "MFormat.h"
#include "KeyCodes.h"
#include "ErrorGuard.h"
#include "MPropertyBag.h"
#include "USpin.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QLineEdit>
#include <QTimer>

#include <cmath>

namespace {

constexpr int kTwips = 15;
// Date serials the platform accepts: years 100 to 9999.
constexpr double kFirstSerial = -657434;
constexpr double kLastSerial = 2958466;

}  // namespace

UTextSpin::UTextSpin(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("UTextSpin"));
    mText = new QLineEdit(this);
    mText->setObjectName(QStringLiteral("txtValue"));
    mText->setGeometry(1, 5, 161, 18);
    mSystem = mText->palette();
    mSpin = new USpin(this);
    mSpin->setObjectName(QStringLiteral("uspValue"));
    mSpin->setGeometry(163, -2, 15, 30);
    // The arrows answer the mouse only: Tab goes from box to box.
    mSpin->setFocusPolicy(Qt::NoFocus);
    mText->installEventFilter(this);
    connect(mText, &QLineEdit::textEdited, this, [this] { mEditing = true; });
    connect(mSpin, &USpin::Change, this, [this](bool down) { Step(down); });
    setFocusProxy(mText);
    // A click on the arrows gives the keyboard to the box, not to a container.
    setFocusPolicy(Qt::StrongFocus);
    resize(185, 29);
    ShowValue();
}

// ---------------------------------------------------------------- plain members

QColor UTextSpin::BackColor() const { return mText->palette().color(QPalette::Active, QPalette::Base); }
void UTextSpin::SetBackColor(const QColor& c) {
    QPalette p = mText->palette();
    p.setColor(QPalette::Base, c);
    mText->setPalette(p);
    emit PropertyChanged("BackColor");
}
QColor UTextSpin::ForeColor() const { return mText->palette().color(QPalette::Active, QPalette::Text); }
void UTextSpin::SetForeColor(const QColor& c) {
    QPalette p = mText->palette();
    p.setColor(QPalette::Text, c);
    mText->setPalette(p);
    emit PropertyChanged("ForeColor");
}
// The box's own switch, not whether a disabled ancestor greys it for now.
bool UTextSpin::Enabled() const { return mText->isEnabledTo(this); }
void UTextSpin::SetEnabled(bool on) {
    mText->setEnabled(on);
    emit PropertyChanged("Enabled");
}
QFont UTextSpin::Font() const { return mText->font(); }
void UTextSpin::SetFont(const QFont& f) {
    mText->setFont(f);
    resizeEvent(nullptr);
    emit PropertyChanged("Font");
}
int32_t UTextSpin::SelStart() const {
    return mText->hasSelectedText() ? mText->selectionStart() : mText->cursorPosition();
}
void UTextSpin::SetSelStart(int32_t start) {
    mText->setCursorPosition(start);
    emit PropertyChanged("SelStart");
}
int32_t UTextSpin::SelLength() const { return mText->selectionLength(); }
void UTextSpin::SetSelLength(int32_t length) {
    mText->setSelection(SelStart(), length);
    emit PropertyChanged("SelLength");
}
QString UTextSpin::SelText() const { return mText->selectedText(); }
void UTextSpin::SetSelText(const QString& text) {
    mText->insert(text);
    emit PropertyChanged("SelText");
}
QString UTextSpin::Text() const { return mText->text(); }

// ---------------------------------------------------------------- stored properties

void UTextSpin::ReadProperties(const QVariantMap& bag, const QFont& ambientFont) {
    using MPropertyBag::Find;
    const QPalette& system = mSystem;
    const QVariant* v = Find(bag, "BackColor");
    if (auto c = MPropertyBag::Color(v ? *v : QVariant(MPropertyBag::kWindowBackground), system)) SetBackColor(*c);
    v = Find(bag, "ForeColor");
    if (auto c = MPropertyBag::Color(v ? *v : QVariant(MPropertyBag::kWindowText), system)) SetForeColor(*c);
    v = Find(bag, "Enabled");
    SetEnabled(v ? v->toBool() : true);
    v = Find(bag, "Font");
    SetFont(v && v->canConvert<QFont>() ? v->value<QFont>() : ambientFont);
    v = Find(bag, "SelLength");
    const int32_t length = v ? v->toInt() : 0;
    v = Find(bag, "SelStart");
    const int32_t start = v ? v->toInt() : 0;
    if ((v = Find(bag, "SelText"))) SetSelText(v->toString());
    const auto number = [&](const char* key, double fallback, double& into) {
        MPropertyBag::ReadNumber(bag, key, fallback, into);
    };
    number("Max", 10, mMax);
    number("Min", 0, mMin);
    number("Value", 1, mValue);
    number("SmallChange", 1, mSmallChange);
    number("LargeChange", 1, mLargeChange);
    v = Find(bag, "DecimalPlaces");
    mDecimalPlaces = int16_t(v ? v->toInt() : -1);
    v = Find(bag, "ShowAsDate");
    mShowAsDate = v ? v->toBool() : false;
    ShowValue();
    // The stored selection lies in the shown value, so it goes on after it.
    SetSelStart(start);
    SetSelLength(length);
    mEditing = false;
}

QVariantMap UTextSpin::WriteProperties(const QFont& ambientFont) const {
    QVariantMap bag;
    const QPalette& system = mSystem;
    if (BackColor() != MPropertyBag::Color(MPropertyBag::kWindowBackground, system))
        bag.insert("BackColor", MPropertyBag::ToOle(BackColor()));
    if (ForeColor() != MPropertyBag::Color(MPropertyBag::kWindowText, system))
        bag.insert("ForeColor", MPropertyBag::ToOle(ForeColor()));
    if (!Enabled()) bag.insert("Enabled", false);
    if (Font() != ambientFont) bag.insert("Font", Font());
    if (SelLength() != 0) bag.insert("SelLength", SelLength());
    if (SelStart() != 0) bag.insert("SelStart", SelStart());
    if (!SelText().isEmpty()) bag.insert("SelText", SelText());
    const std::pair<const char*, std::pair<double, double>> numbers[] = {
        {"Max", {mMax, 10}}, {"Min", {mMin, 0}}, {"Value", {mValue, 1}},
        {"SmallChange", {mSmallChange, 1}}, {"LargeChange", {mLargeChange, 1}}};
    for (const auto& [key, n] : numbers)
        if (n.first != n.second) bag.insert(QLatin1String(key), n.first);
    if (mDecimalPlaces != -1) bag.insert("DecimalPlaces", mDecimalPlaces);
    if (mShowAsDate) bag.insert("ShowAsDate", true);
    return bag;
}

// ---------------------------------------------------------------- value

bool UTextSpin::IsValidValue(double v) const {
    if (!std::isfinite(v)) return false;
    return !mShowAsDate || (v > kFirstSerial && v < kLastSerial);
}

bool UTextSpin::IsValidValue(const QString& text) const {
    if (!mShowAsDate) return MFormat::ParseNumber(text).has_value();
    if (MFormat::ParseDate(text)) return true;
    const auto n = MFormat::ParseNumber(text);
    return n && IsValidValue(*n);
}

std::optional<double> UTextSpin::Read(const QString& text) const {
    if (mShowAsDate) {
        if (auto d = MFormat::ParseDate(text)) return d;
        // A bare number in date mode is taken as the serial.
    }
    return MFormat::ParseNumber(text);
}

QString UTextSpin::ValueText() const {
    return mShowAsDate ? MFormat::ShortDate(mValue) : MFormat::Fixed(mValue, mDecimalPlaces);
}

void UTextSpin::ShowValue() {
    mText->setText(ValueText());
    // As a text box does when its text is set: the cursor at the start.
    mText->setCursorPosition(0);
}

void UTextSpin::SetMax(double m) {
    if (!IsValidValue(m)) return;
    mMax = m;
    if (mMin > m) mMin = m;
    if (mValue > m) mValue = m;
    emit PropertyChanged("Max");
}

void UTextSpin::SetMin(double m) {
    if (!IsValidValue(m)) return;
    mMin = m;
    if (mMax < m) mMax = m;
    if (mValue < m) mValue = m;
    emit PropertyChanged("Min");
}

void UTextSpin::SetValue(double v) {
    if (!IsValidValue(v)) return;
    if (v >= mMin && v <= mMax) {
        mValue = v;
        emit PropertyChanged("Value");
    }
    ShowValue();
    RaiseChange();
    mEditing = false;
}

void UTextSpin::SetShowAsDate(bool on) {
    mShowAsDate = on;
    ShowValue();
    emit PropertyChanged("ShowAsDate");
}

void UTextSpin::RaiseChange() {
    base::ShowErrors("UTextSpin::Change", [&] { emit Change(); });
}

void UTextSpin::Step(bool down) {
    if (down) {
        if (mValue == mMin) return;
        mValue -= mSmallChange;
        if (mValue < mMin) mValue = mMin;
    } else {
        if (mValue == mMax) return;
        mValue += mSmallChange;
        if (mValue > mMax) mValue = mMax;
    }
    ShowValue();
    RaiseChange();
    mEditing = false;
}

void UTextSpin::Commit() {
    mEditing = false;
    const QString text = mText->text();
    if (!IsValidValue(text)) {
        ShowValue();
        return;
    }
    const auto n = Read(text);
    if (n && *n >= mMin && *n <= mMax) {
        mValue = *n;
        ShowValue();
        RaiseChange();
    } else {
        ShowValue();
    }
}

// ---------------------------------------------------------------- keys and focus

bool UTextSpin::KeyDownHandling(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        ShowValue();
        mEditing = false;
        mText->selectAll();
        return true;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (mEditing) Commit();
        mText->selectAll();
        return true;
    }
    return false;
}

bool UTextSpin::FilterCharacter(QKeyEvent* e) {
    const QString text = e->text();
    if (text.isEmpty() || text[0].unicode() == 0x7f) return false;
    const char16_t c = text[0].unicode();
    if (c == 8 || (c >= u'0' && c <= u'9')) return false;
    if (c == u'.') return mText->text().contains(QLatin1Char('.'));
    return !mShowAsDate;
}

bool UTextSpin::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mText) return QWidget::eventFilter(watched, event);
    bool consumed = false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* e = static_cast<QKeyEvent*>(event);
        // Focus keys are the window's: leaving the box takes the typed value over.
        if (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) return false;
        if (mInKey) return false;
        mInKey = true;
        base::ShowErrors("UTextSpin::txtValue_KeyDown", [&] {
            int16_t code = KeyCodes::VbKeyCode(e), shift = KeyCodes::VbShift(e->modifiers());
            const bool hadCode = code != 0;
            emit KeyDown(code, shift);
            if (hadCode && code == 0) {
                consumed = true;
                return;
            }
            if (KeyDownHandling(e)) {
                consumed = true;
                return;
            }
            const QString text = e->text();
            if (!text.isEmpty() && text[0].unicode() != 0x7f) {
                int16_t ascii = int16_t(text[0].unicode());
                emit KeyPress(ascii);
                if (ascii == 0) {
                    consumed = true;
                    return;
                }
            }
            consumed = FilterCharacter(e);
        });
        mInKey = false;
        return consumed;
    }
    case QEvent::KeyRelease: {
        auto* e = static_cast<QKeyEvent*>(event);
        int16_t code = KeyCodes::VbKeyCode(e), shift = KeyCodes::VbShift(e->modifiers());
        base::ShowErrors("UTextSpin::txtValue_KeyUp", [&] { emit KeyUp(code, shift); });
        return false;
    }
    case QEvent::FocusIn:
        mEditing = false;
        QTimer::singleShot(0, mText, [t = mText] { t->selectAll(); });
        return false;
    case QEvent::FocusOut:
        if (mEditing) base::ShowErrors("UTextSpin::txtValue_LostFocus", [&] { Commit(); });
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
        ForwardMouse(event);
        return false;
    case QEvent::MouseButtonRelease:
        ForwardMouse(event);
        base::ShowErrors("UTextSpin::txtValue_Click", [&] { emit Click(); });
        return false;
    case QEvent::MouseButtonDblClick:
        base::ShowErrors("UTextSpin::txtValue_DblClick", [&] { emit DblClick(); });
        return false;
    default:
        return false;
    }
}

void UTextSpin::ForwardMouse(QEvent* event) {
    auto* e = static_cast<QMouseEvent*>(event);
    const Qt::MouseButtons b = event->type() == QEvent::MouseButtonRelease ? Qt::MouseButtons(e->button()) : e->buttons();
    int16_t button = int16_t(((b & Qt::LeftButton) ? 1 : 0) | ((b & Qt::RightButton) ? 2 : 0) | ((b & Qt::MiddleButton) ? 4 : 0));
    int16_t shift = KeyCodes::VbShift(e->modifiers());
    float x = float(e->position().x() * kTwips), y = float(e->position().y() * kTwips);
    base::ShowErrors("UTextSpin::txtValue_Mouse", [&] {
        if (event->type() == QEvent::MouseButtonPress) emit MouseDown(button, shift, x, y);
        else if (event->type() == QEvent::MouseMove) emit MouseMove(button, shift, x, y);
        else emit MouseUp(button, shift, x, y);
    });
}

void UTextSpin::resizeEvent(QResizeEvent*) {
    if (mInLayout) return;
    mInLayout = true;
    base::RecordErrors("UTextSpin::resizeEvent", [&] {
        const int h = QFontMetrics(mText->font()).height();
        mText->setFixedHeight(4 + h);
        mSpin->move(width() - mSpin->width(), mText->y() + (mText->height() - mSpin->height()) / 2);
        mText->setFixedWidth(std::max(1, mSpin->x() - 2));
    });
    base::RecordErrors("UTextSpin::resizeEvent", [&] { emit Resized(); });
    mInLayout = false;
}
