#include "FPref.h"

#include "AppGlobals.h"
#include "CMRUList.h"
#include "CRegSettings.h"
#include "ErrorGuard.h"
#include "KeyCodes.h"
#include "MUtilities.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

std::string Setting(const char* key, const char* def) {
    auto settings = MUtilities::RegSettings();
    return settings ? settings->GetSetting("Config", key, def) : std::string(def);
}

void Store(const char* key, const std::string& value) {
    if (auto settings = MUtilities::RegSettings()) settings->SaveSetting("Config", key, value);
}

// A stored text that is no number reads as 0; a Boolean is "True", or a non-zero number.
int16_t ToInt(const std::string& text) {
    bool ok = false;
    const double v = QString::fromStdString(text).trimmed().toDouble(&ok);
    return ok && v >= -32768 && v <= 32767 ? int16_t(std::lround(v)) : int16_t(0);
}

bool ToBool(const std::string& text) {
    const QString t = QString::fromStdString(text).trimmed();
    if (t.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) return true;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && v != 0;
}

}  // namespace

FPref::FPref(QWidget* mainWindow) : QDialog(mainWindow) {
    setObjectName(QStringLiteral("FPref"));
    setWindowTitle(QStringLiteral("Program Prefrences"));
    setProperty("helpContextId", kHelpContextId);

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("TabStrip1"));
    auto* page = new QWidget(tabs);
    tabs->addTab(page, QStringLiteral("Properties"));

    mCmbNumRec = new QComboBox(page);
    mCmbNumRec->setObjectName(QStringLiteral("cmbNumRec"));
    auto* label = new QLabel(QStringLiteral("Number Of Recent Files"), page);
    label->setObjectName(QStringLiteral("Label1"));
    mChkAutoload = new QCheckBox(QStringLiteral("Autoload Last Project"), page);
    mChkAutoload->setObjectName(QStringLiteral("chkAutoload"));
    auto* frame = new QGroupBox(QStringLiteral("Export Marked Rows As:"), page);
    frame->setObjectName(QStringLiteral("Frame1"));
    mOptDelim[0] = new QRadioButton(QStringLiteral("Comma Delimited Text"), frame);
    mOptDelim[1] = new QRadioButton(QStringLiteral("Tab Delimited Text"), frame);
    mDelimGroup = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i) {
        mOptDelim[i]->setObjectName(QStringLiteral("optDelim%1").arg(i));
        mDelimGroup->addButton(mOptDelim[i], i);
    }
    mChkToolbar = new QCheckBox(QStringLiteral("Show Tool Bar"), page);
    mChkToolbar->setObjectName(QStringLiteral("chkToolbar"));

    auto* numRow = new QHBoxLayout;
    numRow->addWidget(label);
    numRow->addWidget(mCmbNumRec);
    numRow->addStretch(1);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(mOptDelim[0]);
    frameLayout->addWidget(mOptDelim[1]);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addLayout(numRow);
    pageLayout->addWidget(mChkAutoload);
    pageLayout->addWidget(mChkToolbar);
    pageLayout->addWidget(frame);
    pageLayout->addStretch(1);

    auto* defaults = new QPushButton(QStringLiteral("Defaults"), this);
    defaults->setObjectName(QStringLiteral("cmdDefaults"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);

    connect(mCmbNumRec, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) mNumRecents = int16_t(index);
    });
    connect(mChkAutoload, &QCheckBox::stateChanged, this, [this](int s) { mAutoLoad = s > 0; });
    connect(mChkToolbar, &QCheckBox::stateChanged, this, [this](int s) { mShowToolbar = s > 0; });
    connect(mDelimGroup, &QButtonGroup::idClicked, this, [this](int id) { mTextDelim = int16_t(id); });
    connect(defaults, &QPushButton::clicked, this,
            base::ShowingErrors("FPref::cmdDefaults_Click", [this] { cmdDefaults_Click(); }));
    connect(ok, &QPushButton::clicked, this, base::ShowingErrors("FPref::cmdOK_Click", [this] { cmdOK_Click(); }));
    connect(cancel, &QPushButton::clicked, this,
            base::ShowingErrors("FPref::cmdCancel_Click", [this] { cmdCancel_Click(); }));
    Load(mainWindow);
}

void FPref::FillNumbers(int select) {
    mCmbNumRec->clear();
    for (int i = 0; i <= 16; ++i) mCmbNumRec->addItem(QString::number(i));
    // A value outside the list leaves no selection (and the value as read).
    mCmbNumRec->setCurrentIndex(select >= 0 && select <= 16 ? select : -1);
}

void FPref::Load(QWidget* mainWindow) {
    adjustSize();
    if (mainWindow) move((mainWindow->width() - width()) / 2, (mainWindow->height() - height()) / 2);
    mNumRecents = ToInt(Setting("NumRecents", "4"));
    mAutoLoad = ToBool(Setting("AutoLoad", "False"));
    mShowToolbar = ToBool(Setting("ShowToolbar", "True"));
    mTextDelim = ToInt(Setting("TextDelim", "0"));
    const int16_t numRecents = mNumRecents;
    const bool autoLoad = mAutoLoad, showToolbar = mShowToolbar;
    FillNumbers(numRecents);
    mNumRecents = numRecents;
    mChkAutoload->setChecked(autoLoad);
    mChkToolbar->setChecked(showToolbar);
    mAutoLoad = autoLoad;
    mShowToolbar = showToolbar;
    if (mTextDelim == 0 || mTextDelim == 1) mOptDelim[mTextDelim]->setChecked(true);
}

void FPref::cmdDefaults_Click() {
    mNumRecents = 4;
    mAutoLoad = false;
    mShowToolbar = true;
    mTextDelim = 0;
    FillNumbers(4);
    mChkAutoload->setChecked(false);
    mChkToolbar->setChecked(true);
    mOptDelim[0]->setChecked(true);
}

void FPref::cmdOK_Click() {
    const auto boolText = [](bool b) { return std::string(b ? "True" : "False"); };
    Store("NumRecents", std::to_string(mNumRecents));
    Store("AutoLoad", boolText(mAutoLoad));
    Store("ShowToolbar", boolText(mShowToolbar));
    Store("TextDelim", std::to_string(mTextDelim));
    if (app::HasGlobals())
        if (auto mru = app::Globals().gMRUList) {
            // The list holds 0..16 entries whatever was stored.
            mru->SetMaxItems(int16_t(std::clamp<int>(mNumRecents, 0, 16)));
        }
    accept();
}

void FPref::cmdCancel_Click() { reject(); }

void FPref::keyPressEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    MUtilities::MenuKeyDown(code, shift);
    if (code != 0) QDialog::keyPressEvent(event);
}

void FPref::keyReleaseEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    MUtilities::MenuKeyUp(code, shift);
    if (code != 0) QDialog::keyReleaseEvent(event);
}
