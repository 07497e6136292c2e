#include "UTableSelect.h"
#include "MCaptionFit.h"

#include "AppErrors.h"
#include "IShell.h"
#include "MFileUtils.h"
#include "MFormat.h"
#include "KeyCodes.h"
#include "ErrorGuard.h"
#include "MdbUtils.h"
#include "ui/dialogs.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {

constexpr int kTwips = 15;
constexpr int kCountUnknown = -1;

QFont SansBold(const QFont& base, qreal points, bool bold) {
    QFont f = base;
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

bool SystemTable(const dao::TableDef& t) {
    const std::string name = t.Name();
    if ((t.Attributes() & dao::dbSystemObject) != 0) return true;
    return name.rfind("MSys", 0) == 0 || name.rfind("sqlite_", 0) == 0;
}

}  // namespace

UTableSelect::UTableSelect(QWidget* parent) : base::ITableSelectPanel(parent) {
    setObjectName(QStringLiteral("UTableSelect"));
    mOK = new QPushButton(tr("&Next >>"), this);
    mOK->setObjectName(QStringLiteral("cmdTableOK"));
    mOK->setToolTip(tr("Continue to Field Selection"));
    mOK->setGeometry(2520 / kTwips, 120 / kTwips, 1125 / kTwips, 319 / kTwips);
    mCancel = new QPushButton(this);
    mCancel->setObjectName(QStringLiteral("cmdTableCancel"));
    mCancel->setEnabled(false);
    mCancel->hide();
    auto* label1 = new QLabel(tr("Database File Name"), this);
    label1->move(120 / kTwips, 615 / kTwips);
    label1->adjustSize();
    mFileName = new QLabel(this);
    mFileName->setObjectName(QStringLiteral("lblDBFileName"));
    mFileName->setAutoFillBackground(true);
    QPalette white = mFileName->palette();
    white.setColor(QPalette::Window, Qt::white);
    mFileName->setPalette(white);
    mFileName->setFrameShape(QFrame::Box);
    mFileName->setFont(SansBold(font(), 9.75, false));
    mFileName->setToolTip(tr("Click to select the data source for this project."));
    mFileName->setGeometry(120 / kTwips, 840 / kTwips, 3255 / kTwips, 300 / kTwips);
    mFileName->installEventFilter(this);
    mOpenFile = new QPushButton(QStringLiteral("..."), this);
    mOpenFile->setObjectName(QStringLiteral("cmdOpenFile"));
    mOpenFile->setToolTip(mFileName->toolTip());
    mOpenFile->setGeometry(3360 / kTwips, 840 / kTwips, 375 / kTwips, 315 / kTwips);
    mNoKey = new QLabel(tr("Table requires a primary key"), this);
    mNoKey->setObjectName(QStringLiteral("lblNoKey"));
    mNoKey->setFont(SansBold(font(), 8.25, true));
    QPalette red = mNoKey->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    mNoKey->setPalette(red);
    mNoKey->setToolTip(tr("A primary key field is required on any table used with Tessary."));
    mNoKey->setGeometry(120 / kTwips, 1215 / kTwips, 2895 / kTwips, 14);
    mNoKey->hide();
    auto* label2 = new QLabel(tr("Table Name"), this);
    label2->move(120 / kTwips, 1465 / kTwips);
    label2->adjustSize();
    mTables = new QListWidget(this);
    mTables->setObjectName(QStringLiteral("lstTables"));
    mTables->setToolTip(tr("Select the table to use for this project."));
    mTables->setGeometry(120 / kTwips, 1680 / kTwips, 3615 / kTwips, 2205 / kTwips);
    mTables->installEventFilter(this);
    mRowCount = new QLabel(this);
    mRowCount->setObjectName(QStringLiteral("lblRowCount"));
    mRowCount->setFont(SansBold(font(), 8.25, true));
    mRowCount->move(120 / kTwips, 3960 / kTwips);
    setTabOrder(mFileName, mOpenFile);
    setTabOrder(mOpenFile, mTables);
    setTabOrder(mTables, mOK);

    connect(mOpenFile, &QPushButton::clicked, this, base::ShowingErrors("UTableSelect::cmdOpenFile_Click", [this] { OpenSource(); }));
    connect(mOK, &QPushButton::clicked, this, base::ShowingErrors("UTableSelect::cmdTableOK_Click", [this] { emit NavNext(); }));
    connect(mCancel, &QPushButton::clicked, this, base::ShowingErrors("UTableSelect::cmdTableCancel_Click", [this] { emit NavBack(); }));
    connect(mTables, &QListWidget::itemSelectionChanged, this, [this] {
        if (mFilling) return;
        // A failing step of the choice ends it there, with the error box.
        base::ShowErrors("UTableSelect::lstTables_Click", [&] { ChooseTable(); });
    });
    Clear();
}

void UTableSelect::ResetChoice() {
    mTableName.clear();
    mCurrentRowCount = 0;
    mRowCount->setText(QString());
    mOK->setEnabled(false);
    mNoKey->hide();
}

void UTableSelect::Clear() {
    mDatabaseName.clear();
    ResetChoice();
    mFilling = true;
    mTables->clear();
    mFilling = false;
    mFileName->setText(QString());
}

QString UTableSelect::DisplayName(const QString& source, const std::string& connect) {
    if (source.contains(QLatin1String("ODBC;"))) {
        const QString dsn = MFormat::DsnName(connect);
        return dsn.isEmpty() ? MFormat::DsnName(source.toStdString()) : dsn;
    }
    return QLatin1Char(' ') + QString::fromStdString(MFileUtils::GetFileName(source.toStdString())) + QLatin1Char(' ');
}

void UTableSelect::OpenSource() {
    base::IShell* shell = base::Shell();
    const QString source = shell ? shell->SelectDataSource() : QString();
    if (source.isEmpty()) return;
    mDatabaseName = source;
    ResetChoice();
    mFilling = true;
    mTables->clear();
    mFilling = false;
    DatabasePtr db = MdbUtils::OpenDataSource(source.toStdString(), true);
    if (!db) {
        mFileName->setText(QString());
        mDatabaseName.clear();
        return;
    }
    try {
        mFileName->setText(DisplayName(source, db->Connect()));
        dao::TableDefs& tables = db->TableDefs();
        mFilling = true;
        for (int i = 0; i < tables.Count(); ++i) {
            dao::TableDef t = tables[i];
            if (SystemTable(t)) continue;
            auto* item = new QListWidgetItem(QString::fromStdString(t.Name()), mTables);
            item->setData(Qt::UserRole, int(t.RecordCount()));
        }
        mFilling = false;
        db->Close();
    } catch (const dao::DaoError& e) {
        mFilling = false;
        if (e.Number() != 3343) throw;
        ui::MsgBox(QStringLiteral("Unrecognized database format '%1'.").arg(source), ui::Buttons::OK, ui::Icon::Critical,
                   QStringLiteral("Datasource Open"));
        mFileName->setText(QString());
        mDatabaseName.clear();
        return;
    }
    if (mTables->count() == 1) {
        mTables->setCurrentRow(0);  // chooses it at once
    } else {
        bool valid = true;
        emit TableSelect(mDatabaseName, QString(), valid);
    }
}

void UTableSelect::ChooseTable() {
    const QList<QListWidgetItem*> selected = mTables->selectedItems();
    if (selected.isEmpty()) return;
    QListWidgetItem* item = selected.first();
    bool valid = true;
    mTableName = item->text();
    emit TableSelect(mDatabaseName, mTableName, valid);
    if (valid) {
        mNoKey->hide();
        mOK->setEnabled(true);
    } else {
        mTableName.clear();
        mOK->setEnabled(false);
        mNoKey->setText(tr("Table requires a primary key"));
        mNoKey->setToolTip(tr("A primary key field is required on any table used with Tessary"));
        mNoKey->show();
    }
    // A count that fails leaves no earlier table's count behind.
    mCurrentRowCount = 0;
    if (item->data(Qt::UserRole).toInt() == kCountUnknown) {
        DatabasePtr db = MdbUtils::OpenDataSource(mDatabaseName.toStdString(), true);
        if (!db) throw app::RuntimeError(91, app::RuntimeErrorText(91));
        RecordsetPtr rs = db->OpenRecordset("SELECT COUNT(*) FROM " + MdbUtils::BracketName(item->text().toStdString()),
                                            dao::RecordsetType::ForwardOnly);
        item->setData(Qt::UserRole, int(rs->Fields(0).AsLong()));
        rs->Close();
        db->Close();
    }
    const int32_t count = item->data(Qt::UserRole).toInt();
    mRowCount->setText(MFormat::Grouped(count) + tr(" rows"));
    mRowCount->adjustSize();
    mRowCount->move(mTables->x() + mTables->width() - mRowCount->width(), mRowCount->y());
    mCurrentRowCount = count;
    if (count == 0) {
        mOK->setEnabled(false);
        mNoKey->setText(tr("No Data"));
        mNoKey->show();
    }
}

bool UTableSelect::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mFileName && event->type() == QEvent::MouseButtonRelease) {
        base::ShowErrors("UTableSelect::cmdOpenFile_Click", [&] { OpenSource(); });
        return true;
    }
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* e = static_cast<QKeyEvent*>(event);
        int16_t code = KeyCodes::VbKeyCode(e), shift = KeyCodes::VbShift(e->modifiers());
        const bool had = code != 0;
        base::ShowErrors("UTableSelect::UserControl_KeyDown", [&] {
            if (event->type() == QEvent::KeyPress) emit KeyDown(code, shift);
            else emit KeyUp(code, shift);
        });
        if (had && code == 0) return true;
    }
    return base::ITableSelectPanel::eventFilter(watched, event);
}

void UTableSelect::resizeEvent(QResizeEvent*) {
    const char* where = "UTableSelect::resizeEvent";  // a step that fails is skipped
    const int left = mTables->x();
    base::RecordErrors(where, [&] { mTables->resize(std::max(0, width() - 2 * left - 1), mTables->height()); });
    base::RecordErrors(where, [&] { mOK->move(left + mTables->width() - mOK->width(), mOK->y()); });
    base::RecordErrors(where, [&] { mCancel->move(mOK->x(), mOK->y()); });
    base::RecordErrors(where, [&] { mOpenFile->move(left + mTables->width() - mOpenFile->width(), mOpenFile->y()); });
    base::RecordErrors(where, [&] { mFileName->resize(std::max(0, mTables->width() - mOpenFile->width()), mFileName->height()); });
    base::RecordErrors(where, [&] { mRowCount->move(left + mTables->width() - mRowCount->width() - 60 / kTwips, mRowCount->y()); });
    MCaptionFit::FitAll(this);
    update();
}
