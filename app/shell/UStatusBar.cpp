#include "UStatusBar.h"

#include "KeyCodes.h"

#include <QDate>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>

namespace {

struct PanelDef {
    const char* key;
    Qt::Alignment align;
    bool spring;
    int minTwips;  // 0: default
    bool visible;
    bool enabled;
};

constexpr PanelDef kDefs[] = {
    {"Main", Qt::AlignLeft, true, 0, true, true},     {"User", Qt::AlignHCenter, false, 1000, false, false},
    {"Edit", Qt::AlignHCenter, false, 1000, false, false}, {"Project", Qt::AlignHCenter, false, 1000, false, true},
    {"Nodes", Qt::AlignHCenter, false, 700, false, true}, {"Date", Qt::AlignHCenter, false, 0, true, true},
    {"Space", Qt::AlignRight, false, 240, true, true},
};

constexpr int kTwipsPerPixel = 15;

}  // namespace

UStatusBar::UStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("USBMain"));
    setSizeGripEnabled(true);
    for (int i = 0; i < kPanels; ++i) {
        const PanelDef& d = kDefs[i];
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromUtf8(d.key));
        label->setAlignment(d.align | Qt::AlignVCenter);
        if (d.minTwips > 0) label->setMinimumWidth(d.minTwips / kTwipsPerPixel);
        label->setEnabled(d.enabled);
        if (i != kPanels - 1) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        mPanels[i] = label;
        if (d.spring) addWidget(label, 1);
        else addPermanentWidget(label);
        label->setVisible(d.visible);
    }
    mPanels[2]->setText(QStringLiteral("Edit"));
    // Fixed at start, in the same words on every machine.
    mPanels[5]->setText(QLatin1Char(' ') + QLocale::c().toString(QDate::currentDate(), QStringLiteral("MMM d, yyyy")) +
                        QLatin1Char(' '));
    mProgress = new QProgressBar(this);
    mProgress->setObjectName(QStringLiteral("ProgressBar1"));
    mProgress->setVisible(false);
}

void UStatusBar::MsgRecordCount(int32_t count) {
    QLabel* panel = mPanels[3];
    if (count == -1) {
        panel->setVisible(false);
    } else {
        panel->setText(QStringLiteral(" ") + QString::number(count) + QStringLiteral(" Rows "));
        panel->setVisible(true);
    }
    update();
}

void UStatusBar::SetMainText(const QString& text) {
    // The program's text wins over the tip of a control the pointer rests on.
    clearMessage();
    mPanels[0]->setText(QLatin1Char(' ') + text + QLatin1Char(' '));
    mPanels[0]->repaint();
}

QLabel* UStatusBar::Panel(int index) const { return index >= 1 && index <= kPanels ? mPanels[index - 1] : nullptr; }

QLabel* UStatusBar::Panel(const QString& key) const {
    for (QLabel* p : mPanels)
        if (p->objectName().compare(key, Qt::CaseInsensitive) == 0) return p;
    return nullptr;
}

void UStatusBar::keyPressEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    emit KeyDown(code, shift);
    if (code == 0) event->accept();
    else QStatusBar::keyPressEvent(event);
}

void UStatusBar::keyReleaseEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    emit KeyUp(code, shift);
    if (code == 0) event->accept();
    else QStatusBar::keyReleaseEvent(event);
}
