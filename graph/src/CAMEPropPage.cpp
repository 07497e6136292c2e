#include "CAMEPropPage.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

#include "CNodars32Ctrl.h"

namespace nodars {

namespace {

const char* const kActionNames[6] = {"Mouse", "Connect", "Constrained", "Drag", "Select", "Resize"};
const char* const kActionBoxes[6] = {"Mouse Events", "Connect", "Constrained", "Drag", "Select", "Resize"};

}  // namespace

QString CAMEPropPage::RowText(int entry, int mask) {
    static const char* const buttons[3] = {"Left\t", "Middle\t", "Right\t"};
    QString t = QString::fromLatin1(buttons[std::clamp(entry / 8, 0, 2)]);
    for (int bit : {4, 2, 1}) t += (entry & bit) ? QStringLiteral("*\t") : QStringLiteral("\t");
    QStringList actions;
    for (int i = 0; i < 6; ++i)
        if (mask & (1 << i)) actions << QString::fromLatin1(kActionNames[i]);
    return t + (mask == 0 ? QStringLiteral("None") : actions.join(u','));
}

CAMEPropPage::CAMEPropPage(CNodars32Ctrl& control, QWidget* parent) : QWidget(parent), mCtl(control) {
    setWindowTitle(QStringLiteral("Events"));
    mList = new QListWidget(this);
    mList->setObjectName(QStringLiteral("101"));
    auto* buttonBox = new QGroupBox(QStringLiteral("Button"), this);
    auto* bl = new QVBoxLayout(buttonBox);
    const char* names[3] = {"Left", "Middle", "Right"};
    for (int i = 0; i < 3; ++i) {
        mButtons[i] = new QRadioButton(QString::fromLatin1(names[i]), buttonBox);
        mButtons[i]->setObjectName(QString::number(102 + i));
        bl->addWidget(mButtons[i]);
        connect(mButtons[i], &QRadioButton::toggled, this, [this](bool on) {
            if (on) ChooseFromBoxes();
        });
    }
    auto* modBox = new QGroupBox(QStringLiteral("Modifiers"), this);
    auto* ml = new QVBoxLayout(modBox);
    const char* mods[3] = {"Alt", "Ctrl", "Shift"};
    for (int i = 0; i < 3; ++i) {
        mModifiers[i] = new QCheckBox(QString::fromLatin1(mods[i]), modBox);
        mModifiers[i]->setObjectName(QString::number(105 + i));
        ml->addWidget(mModifiers[i]);
        connect(mModifiers[i], &QCheckBox::toggled, this, [this] { ChooseFromBoxes(); });
    }
    auto* actBox = new QGroupBox(QStringLiteral("Events"), this);
    auto* al = new QVBoxLayout(actBox);
    for (int i = 0; i < 6; ++i) {
        mActions[i] = new QCheckBox(QString::fromLatin1(kActionBoxes[i]), actBox);
        mActions[i]->setObjectName(QString::number(109 + i));
        al->addWidget(mActions[i]);
        connect(mActions[i], &QCheckBox::toggled, this, [this, i] { ActionToggled(i); });
    }
    auto* selected = new QGroupBox(QStringLiteral("Selected Item"), this);
    auto* sl = new QHBoxLayout(selected);
    sl->addWidget(buttonBox);
    sl->addWidget(modBox);
    sl->addWidget(actBox);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mList);
    layout->addWidget(selected);

    connect(mList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!mGuard) Show(row);
    });
    Rebuild();
    Show(0);
}

int CAMEPropPage::Entry(int i) const {
    return mCtl.AutoMouseEntry(i);
}

void CAMEPropPage::Rebuild() {
    mGuard = true;
    mList->clear();
    for (int i = 0; i < 24; ++i) mList->addItem(RowText(i, Entry(i)));
    if (mCurrent >= 0) mList->setCurrentRow(mCurrent);
    mGuard = false;
}

void CAMEPropPage::Show(int entry) {
    mGuard = true;
    const bool valid = entry >= 0 && entry < 24;
    mCurrent = valid ? entry : -1;
    if (valid && mList->currentRow() != entry) mList->setCurrentRow(entry);
    for (int i = 0; i < 3; ++i) {
        mButtons[i]->setAutoExclusive(valid);
        mButtons[i]->setChecked(valid && entry / 8 == i);
    }
    for (int i = 0; i < 3; ++i) mModifiers[i]->setChecked(valid && (entry & (4 >> i)));
    const int mask = valid ? Entry(entry) : 0;
    for (int i = 0; i < 6; ++i) {
        mActions[i]->setEnabled(valid);
        mActions[i]->setChecked(mask & (1 << i));
    }
    mGuard = false;
}

void CAMEPropPage::ChooseFromBoxes() {
    if (mGuard) return;
    int button = 0;
    for (int i = 0; i < 3; ++i)
        if (mButtons[i]->isChecked()) button = i;
    const int entry = button * 8 + (mModifiers[0]->isChecked() ? 4 : 0) + (mModifiers[1]->isChecked() ? 2 : 0) +
                      (mModifiers[2]->isChecked() ? 1 : 0);
    if (entry != mCurrent) Show(entry);
}

void CAMEPropPage::ActionToggled(int bit) {
    if (mGuard || mCurrent < 0) return;
    // Connect and Drag exclude each other.
    if (mActions[bit]->isChecked() && (bit == 1 || bit == 3)) {
        mGuard = true;
        mActions[bit == 1 ? 3 : 1]->setChecked(false);
        mGuard = false;
    }
    int mask = 0;
    for (int i = 0; i < 6; ++i)
        if (mActions[i]->isChecked()) mask |= 1 << i;
    if (mask == Entry(mCurrent)) return;
    mCtl.SetAutoMouseEntry(mCurrent, int16_t(mask));
    Rebuild();
}

}  // namespace nodars
