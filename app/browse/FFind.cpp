#include "FFind.h"
#include "MCaptionFit.h"
#include "ErrorGuard.h"

#include "AppErrors.h"
#include "IShell.h"
#include "MGridKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QRect Twips(int left, int top, int width, int height) { return QRect(left / 15, top / 15, width / 15, height / 15); }

}  // namespace

FFind::FFind(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FFind"));
    setWindowTitle(QStringLiteral("Find"));
    setModal(false);
    setFixedSize(5205 / 15, 1335 / 15);
    auto* label = new QLabel(QStringLiteral("Find:"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setGeometry(Twips(60, 165, 615, 255));
    cmbFind = new QComboBox(this);
    cmbFind->setObjectName(QStringLiteral("cmbFind"));
    cmbFind->setEditable(true);
    cmbFind->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: a prefix of a longer history entry stays as typed.
    cmbFind->setCompleter(nullptr);
    cmbFind->setGeometry(Twips(480, 120, 3015, 315));
    chkMatchCase = new QCheckBox(QStringLiteral("Match Case"), this);
    chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
    chkMatchCase->setGeometry(Twips(480, 840, 1215, 255));
    auto* frame = new QGroupBox(QStringLiteral("Direction"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setGeometry(Twips(2160, 480, 1335, 795));
    optDirection[0] = new QRadioButton(QStringLiteral("Up"), frame);
    optDirection[0]->setGeometry(Twips(240, 210, 855, 255));
    optDirection[1] = new QRadioButton(QStringLiteral("Down"), frame);
    optDirection[1]->setGeometry(Twips(240, 480, 855, 255));
    optDirection[1]->setChecked(true);
    cmdFindNext = new QPushButton(QStringLiteral("Find &Next"), this);
    cmdFindNext->setObjectName(QStringLiteral("cmdFindNext"));
    cmdFindNext->setGeometry(Twips(3720, 120, 1335, 375));
    cmdFindNext->setDefault(true);
    cmdFindNext->setEnabled(false);
    cmdCancel = new QPushButton(QStringLiteral("Close"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(Twips(3720, 600, 1335, 375));
    setTabOrder(cmbFind, cmdFindNext);
    setTabOrder(cmdFindNext, cmdCancel);
    setTabOrder(cmdCancel, optDirection[0]);
    setTabOrder(optDirection[0], optDirection[1]);
    setTabOrder(optDirection[1], chkMatchCase);
    MCaptionFit::FitAll(this);

    connect(cmbFind, &QComboBox::editTextChanged, this, [this] { cmbFind_Change(); });
    connect(cmbFind, &QComboBox::activated, this, [this] { cmbFind_Change(); });
    for (QRadioButton* opt : optDirection)
        connect(opt, &QRadioButton::clicked, this, [this] { mDirDown = optDirection[1]->isChecked(); });
    connect(cmdFindNext, &QPushButton::clicked, this, [this] { cmdFindNext_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::hide);
}

void FFind::showEvent(QShowEvent* e) {
    if (!mPlaced) {
        // Centred over the main window (or the owner when there is none).
        mPlaced = true;
        QWidget* main = base::Shell() ? base::Shell()->MainWidget() : nullptr;
        if (!main && parentWidget()) main = parentWidget()->window();
        if (main) {
            const QRect g = main->frameGeometry();
            move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
        }
    }
    QDialog::showEvent(e);
}

bool FFind::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void FFind::cmbFind_Change() {
    base::ShowErrors("FFind::cmbFind_Change", [&] {
        const QString text = cmbFind->currentText();
        cmdFindNext->setEnabled(!text.isEmpty());
        bool wild = false;
        for (QChar c : text)
            if (QStringLiteral("*?[]!#").contains(c)) wild = true;
        chkMatchCase->setEnabled(!wild);
    });
}

void FFind::Form_Activate() {
    if (!base::ShowErrors("FFind::Form_Activate", [&] {
        const QSignalBlocker block(cmbFind);
        cmbFind->clear();
        for (const QString& h : mFindHist) {
            if (h.isEmpty()) break;
            cmbFind->addItem(h);
        }
        if (cmbFind->count() > 0) {
            cmbFind->setCurrentIndex(0);
            cmbFind->setEditText(cmbFind->itemText(0));
            // Selected whole, so that what is typed next replaces it.
            cmbFind->lineEdit()->selectAll();
        }
    })) {
        return;
    }
    cmbFind_Change();
    mDirDown = optDirection[1]->isChecked();
    if (isVisible() && !isMinimized()) cmbFind->setFocus();
    emit Activate();
}

void FFind::AddToFindHist(const QString& text) {
    base::ShowErrors("FFind::AddToFindHist", [&] {
        if (text.isEmpty()) return;
        int p = 9;
        for (int i = 0; i < 10; ++i)
            if (mFindHist[size_t(i)].compare(text, Qt::CaseInsensitive) == 0) {
                p = i;
                break;
            }
        for (int i = p; i > 0; --i) mFindHist[size_t(i)] = mFindHist[size_t(i - 1)];
        mFindHist[0] = text;
    });
}

void FFind::cmdFindNext_Click() {
    // Find Next ignores failures.
    base::RecordErrors("FFind::cmdFindNext_Click", [&] {
        const QString typed = cmbFind->currentText();
        AddToFindHist(typed);
        Form_Activate();
        const bool matchCase = chkMatchCase->isChecked();
        emit FindNextRequested(cmbFind->currentText(), matchCase, mDirDown);
    });
}

void FFind::FindNext() {
    if (cmdFindNext->isEnabled()) cmdFindNext_Click();
}

void FFind::keyPressEvent(QKeyEvent* e) {
    const int16_t code = MGridKeys::ForwardDown(*e);
    if (code == 114) {
        if (cmdFindNext->isEnabled()) cmdFindNext_Click();
        return;
    }
    if (code == 0 && MGridKeys::KeyCode(*e) != 0) return;  // the menu bar used it
    QDialog::keyPressEvent(e);
}

void FFind::keyReleaseEvent(QKeyEvent* e) {
    MGridKeys::ForwardUp(*e);
    QDialog::keyReleaseEvent(e);
}
