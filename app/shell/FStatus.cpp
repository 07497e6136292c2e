#include "FStatus.h"

#include "CDataDef.h"
#include "CTRX.h"
#include "ErrorGuard.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

FStatus::FStatus(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FStatus"));
    setWindowTitle(QStringLiteral("Status"));
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    mMeter = new QProgressBar(this);
    mMeter->setObjectName(QStringLiteral("meterMain"));
    mMeter->setRange(0, 100);
    mMeter->setValue(0);
    mMeter->setTextVisible(false);
    mPercent = new QLabel(QStringLiteral("0%"), this);
    mPercent->setObjectName(QStringLiteral("lblPercent"));
    mPercent->setMinimumWidth(40);
    mCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    mCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* row = new QHBoxLayout;
    row->addWidget(mMeter, 1);
    row->addWidget(mPercent);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(mCancel, 0, Qt::AlignHCenter);
    resize(320, 100);
    connect(mCancel, &QPushButton::clicked, this,
            base::ShowingErrors("FStatus::cmdCancel_Click", [this] { CancelClick(); }));
}

FStatus::~FStatus() { DropReferences(); }

int16_t FStatus::Progress() const { return int16_t(mMeter->value()); }

void FStatus::Show(int16_t value) {
    if (value == mLastShown) return;
    mLastShown = value;
    mMeter->setValue(value);
    mPercent->setText(QString::number(value) + QLatin1Char('%'));
    ++mRepaints;
    repaint();
}

void FStatus::SetProgress(int16_t value) {
    base::RecordErrors("FStatus::SetProgress", [&] {
        Show(value < 0 ? int16_t(0) : value > 100 ? int16_t(100) : value);
    });
}

void FStatus::Initialize(const QString& caption, std::shared_ptr<CDataDef> dataDef, std::shared_ptr<CTRX> trx,
                         QWidget* parent) {
    base::RecordErrors("FStatus::Initialize", [&] {
        hide();
        setWindowTitle(caption);
        if (parent) {
            const QRect p = parent->geometry();
            move(p.left() + (p.width() - width()) / 2, p.top() + (p.height() - height()) / 2);
        }
        mMeter->setValue(0);
        mPercent->setText(QStringLiteral("0%"));
        // A run that starts at the previous run's last value still shows it.
        mLastShown = 0;
        mCanceled = false;
        DropReferences();
        QPointer<FStatus> self(this);
        if (dataDef) {
            mDDO = dataDef;
            CDataDef* watched = dataDef.get();
            // The callback stays in place for the whole run: it checks whether the
            // window still watches this object instead of being replaced mid-call.
            watched->OnProgress = [self, watched](int16_t percent) {
                if (self && self->mDDO.get() == watched) self->OnDataDefProgress(percent);
            };
        } else if (trx) {
            mTRX = trx;
            CTRX* watched = trx.get();
            watched->OnProgress = [self, watched](int16_t percent) {
                if (self && self->mTRX.get() == watched) self->OnTRXProgress(percent);
            };
        }
    });
}

void FStatus::DropReferences() {
    mDDO.reset();
    mTRX.reset();
}

void FStatus::CancelClick() {
    mCanceled = true;
    if (mDDO) mDDO->SetCancel(true);
    if (mTRX) mTRX->Cancel();
    DropReferences();
}

void FStatus::closeEvent(QCloseEvent* event) {
    // The close box acts as Cancel; the close is never refused.
    if (event->spontaneous() || Watching()) CancelClick();
    DropReferences();
    QDialog::closeEvent(event);
}

void FStatus::reject() {
    // Escape, like the close box.
    CancelClick();
    QDialog::reject();
}

void FStatus::OnDataDefProgress(int16_t percent) {
    SetProgress(percent == -1 ? int16_t(100) : percent);
    QCoreApplication::processEvents();
}

void FStatus::OnTRXProgress(int16_t percent) {
    base::RecordErrors("FStatus::OnTRXProgress", [&] {
        Show(percent < 1 ? int16_t(1) : percent > 100 ? int16_t(100) : percent);
    });
    QCoreApplication::processEvents();
}
