#include "FPrint.h"
#include "MCaptionFit.h"

#include "ErrorGuard.h"

#include "ui/dialogs.h"
#include "ui/printing.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPageLayout>
#include <QPrinter>
#include <QPushButton>
#include <QToolButton>

namespace {

// Twips of the layout to pixels (15 twips a pixel).
QRect Twips(int left, int top, int width, int height) { return QRect(left / 15, top / 15, width / 15, height / 15); }

}  // namespace

FPrint::FPrint(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FPrint"));
    setWindowTitle(QStringLiteral("Print Flow Chart"));
    setModal(true);
    setFixedSize(4125 / 15, 1680 / 15);

    auto* frame = new QGroupBox(QStringLiteral("Tile Control"), this);
    frame->setGeometry(Twips(120, 120, 3855, 975));
    auto* tileCaption = new QLabel(QStringLiteral("Tile:"), frame);
    tileCaption->move(480 / 15, 480 / 15);
    mTile = new QLabel(QStringLiteral("1"), frame);
    mTile->setObjectName(QStringLiteral("lblTile"));
    QFont bold = mTile->font();
    bold.setBold(true);
    mTile->setFont(bold);
    mTile->setGeometry(Twips(870, 465, 660, 240));
    mTile->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The spin button: an up and a down arrow, one above the other.
    auto* up = new QToolButton(frame);
    up->setObjectName(QStringLiteral("uspTileUp"));
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(Twips(1575, 345, 255, 248));
    auto* down = new QToolButton(frame);
    down->setObjectName(QStringLiteral("uspTileDown"));
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(Twips(1575, 593, 255, 247));
    mPagesLabel = new QLabel(QStringLiteral("Approx. Pages Wide"), frame);
    mPagesLabel->move(1920 / 15, 480 / 15);
    connect(up, &QToolButton::clicked, this, [this] { ChangeTile(false); });
    connect(down, &QToolButton::clicked, this, [this] { ChangeTile(true); });

    auto* setup = new QPushButton(QStringLiteral("Printer Setup..."), this);
    setup->setObjectName(QStringLiteral("cmdProperties"));
    setup->setGeometry(Twips(120, 1200, 1215, 375));
    setup->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setGeometry(Twips(1680, 1200, 1095, 375));
    cancel->setAutoDefault(false);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(Twips(2880, 1200, 1095, 375));
    ok->setDefault(true);
    connect(setup, &QPushButton::clicked, this, [this] { PrinterSetup(); });
    connect(cancel, &QPushButton::clicked, this, [this] { Cancel(); });
    connect(ok, &QPushButton::clicked, this, [this] { Ok(); });
    MCaptionFit::FitAll(this);

    if (owner) {
        // Centred over the window that owns it.
        const QRect o = owner->window()->geometry();
        move(o.left() + (o.width() - width()) / 2, o.top() + (o.height() - height()) / 2);
    }
}

FPrint::~FPrint() = default;

void FPrint::ChangeTile(bool down) {
    mTiledPages = int16_t(mTiledPages + (down ? -1 : 1));
    if (mTiledPages < 1) mTiledPages = 1;
    if (mTiledPages > 20) mTiledPages = 20;
    mTile->setText(QString::number(mTiledPages));
}

void FPrint::GetInitialDC() {
    mPrinter = ui::DefaultPrinter();
    mPrinter->setPageOrientation(QPageLayout::Landscape);
}

void FPrint::Ok() {
    base::ShowErrors("FPrint::cmdOK_Click", [&] {
        mCanceled = false;
        if (!mPrinter) GetInitialDC();
        hide();
        done(QDialog::Accepted);
    });
}

void FPrint::Cancel() {
    mCanceled = true;
    hide();
    done(QDialog::Rejected);
}

void FPrint::PrinterSetup() {
    base::ShowErrors("FPrint::cmdProperties_Click", [&] {
        if (!mPrinter) GetInitialDC();
        // Cancelling keeps the settings as they were.
        QPrinter copy(QPrinter::HighResolution);
        copy.setPrinterName(mPrinter->printerName());
        copy.setOutputFileName(mPrinter->outputFileName());
        copy.setPageLayout(mPrinter->pageLayout());
        if (ui::PrintSetup(copy, QStringLiteral("Printer Setup"))) {
            mPrinter->setPrinterName(copy.printerName());
            mPrinter->setOutputFileName(copy.outputFileName());
            mPrinter->setPageLayout(copy.pageLayout());
        }
    });
}

void FPrint::closeEvent(QCloseEvent* event) {
    // The close box is Cancel.
    event->ignore();
    Cancel();
}

void FPrint::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Cancel();
        return;
    }
    QDialog::keyPressEvent(event);
}
