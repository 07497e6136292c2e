#include "UFieldView.h"
#include "MCaptionFit.h"

#include "CDataDef.h"
#include "CProject.h"
#include "MFormat.h"
#include "MListView.h"
#include "ErrorGuard.h"
#include "MdbUtils.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

#include <cmath>

namespace {

constexpr int kTwips = 15;

enum Column { Name, Type, Missing, Min, Max, Avg, StdDev, Classes, ColumnCount };

bool NumberColumns(int16_t type) {
    switch (type) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 16: case 19: case 20: case 21:
    case MdbUtils::AutoNumberLong:
        return true;
    default:
        return false;
    }
}

// The list does not draw while it is refilled; afterwards whole rows select.
struct Refill {
    explicit Refill(QTreeWidget& l) : list(l) { MListView::SetRedraw(&list, false); }
    ~Refill() {
        MListView::SetFullRowSelect(list, true);
        MListView::SetRedraw(&list, true);
    }
    QTreeWidget& list;
};

bool BlobColumns(int16_t type) { return type == 9 || type == 11 || type == 12 || type == 15 || type == 17; }

}  // namespace

UFieldView::UFieldView(QWidget* parent) : base::IFieldViewPanel(parent) {
    setObjectName(QStringLiteral("UFieldView"));
    auto* title = new QLabel(tr("Data Source:"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setGeometry(2, 1, title->sizeHint().width(), 14);
    mDataSource = new QLabel(this);
    mDataSource->setObjectName(QStringLiteral("lblDataSource"));
    mDataSource->setGeometry(std::max(1260 / kTwips, title->x() + title->width() + 4), 1, 200, 14);
    mList = new QTreeWidget(this);
    mList->setObjectName(QStringLiteral("lvwFields"));
    mList->setRootIsDecorated(false);
    mList->setToolTip(tr("Double click on row for class details (where available)"));
    mList->setColumnCount(ColumnCount);
    mList->setHeaderLabels({tr("Field Name"), tr("Field Type"), tr("# Missing"), tr("Min"), tr("Max"), tr("Avg"),
                            tr("Std. Dev."), tr("# Classes")});
    const int widths[] = {2822, 1411, 1236, 1235, 1235, 1235, 1235, 1235};
    for (int c = 0; c < ColumnCount; ++c) mList->setColumnWidth(c, widths[c] / kTwips);
    mList->header()->setSectionsClickable(true);
    mList->move(-30 / kTwips, 225 / kTwips);
    title->raise();
    mDataSource->raise();
    connect(mList->header(), &QHeaderView::sectionClicked, this, [this](int c) {
        base::ShowErrors("UFieldView::lvwFields_ColumnClick", [&] { mSort.HeaderClick(*mList, c, c <= Type ? -1 : c); });
    });
    connect(mList, &QTreeWidget::itemDoubleClicked, this, [this] {
        base::ShowErrors("UFieldView::lvwFields_DblClick", [&] {
            const auto selected = mList->selectedItems();
            if (!selected.isEmpty()) emit ItemSelect(selected.first()->text(Name));
        });
    });
}

QString UFieldView::RangeFormat(double range) {
    if (range >= 100) return QStringLiteral("0");
    if (range >= 10) return QStringLiteral("0.0");
    if (range >= 1) return QStringLiteral("0.00");
    if (range >= 0.1) return QStringLiteral("0.000");
    if (range >= 0.01) return QStringLiteral("0.0000");
    if (range > 0) return QStringLiteral("0.00000");
    return QStringLiteral("0");
}

namespace {

// The data source as the label names it: an ODBC source by its DSN (the
// database is asked only when the connect text names none), a file by its path.
QString SourceCaption(const std::string& source) {
    if (source.find("ODBC;") == std::string::npos) return QString::fromStdString(source);
    if (source.find("DSN=") != std::string::npos) return MFormat::DsnName(source);
    if (DatabasePtr db = MdbUtils::OpenDataSource(source, true)) return MFormat::DsnName(db->Connect());
    return MFormat::DsnName(source);
}

}  // namespace

void UFieldView::Initialize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef) {
    if (!project || !dataDef) {
        // No project: the view as designed, naming nothing.
        mDataSource->clear();
        mList->clear();
        return;
    }
    mDataSource->setText(SourceCaption(project->GetConfig("DataSourceName")));

    const Refill refill(*mList);
    mList->clear();
    const CDataDef& dd = *dataDef;
    QList<QTreeWidgetItem*> rows;
    for (int16_t i = 0; i < dd.FieldCount(); ++i) {
        auto* item = new QTreeWidgetItem;
        const int16_t type = dd.FieldType(i);
        item->setText(Name, QString::fromStdString(dd.FieldName(i)));
        item->setText(Type, QString::fromStdString(MdbUtils::FieldTypeName(type)));
        item->setText(Missing, QString::number(dd.MissingValues(i)));
        item->setText(Classes, dd.MaxClass(i) != 0 ? QString::number(dd.MaxClass(i)) : QStringLiteral(">255"));
        if (NumberColumns(type)) {
            const QString format = RangeFormat(std::fabs(dd.FieldMax(i) - dd.FieldMin(i)));
            item->setText(Min, MFormat::Pattern(dd.FieldMin(i), format));
            item->setText(Max, MFormat::Pattern(dd.FieldMax(i), format));
            item->setText(Avg, MFormat::Pattern(dd.FieldAvg(i), format));
            item->setText(StdDev, MFormat::Pattern(dd.FieldStdDev(i), format));
        } else if (MdbUtils::IsDateType(type)) {
            item->setText(Min, MFormat::ShortDate(std::nearbyint(dd.FieldMin(i))));
            item->setText(Max, MFormat::ShortDate(std::nearbyint(dd.FieldMax(i))));
            item->setText(Avg, MFormat::ShortDate(std::nearbyint(dd.FieldAvg(i))));
            item->setText(StdDev, MFormat::Pattern(dd.FieldStdDev(i), QStringLiteral("0.0")));
        } else if (BlobColumns(type)) {
            item->setText(Classes, QString());
        }
        for (int c : {Missing, Min, Max, Avg, StdDev}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(Type, Qt::AlignCenter);
        item->setTextAlignment(Classes, Qt::AlignCenter);
        rows << item;
    }
    mList->addTopLevelItems(rows);
}

void UFieldView::AltInitialize(const QString& databaseName, const QString& tableName) {
    const Refill refill(*mList);
    mList->clear();
    // The label names the source listed, never one shown before.
    mDataSource->setText(databaseName.contains(QLatin1String("ODBC;")) ? MFormat::DsnName(databaseName.toStdString())
                                                                        : databaseName);
    DatabasePtr db = MdbUtils::OpenDataSource(databaseName.toStdString(), true);
    if (!db) return;  // the failure has been shown
    dao::TableDef table = db->TableDefs()[tableName.toStdString()];
    QList<QTreeWidgetItem*> rows;
    for (dao::Field f : table.Fields()) {
        auto* item = new QTreeWidgetItem;
        item->setText(Name, QString::fromStdString(f.Name()));
        item->setText(Type, QString::fromStdString(MdbUtils::FieldTypeName(f.Type())));
        item->setTextAlignment(Type, Qt::AlignCenter);
        rows << item;
    }
    mList->addTopLevelItems(rows);
}

void UFieldView::SelectField(const QString& fieldName) {
    for (int i = 0; i < mList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = mList->topLevelItem(i);
        // Field names are equal as the database takes them.
        if (dao::CompareText(item->text(Name).toStdU16String(), fieldName.toStdU16String()) == 0) {
            // Selected, not scrolled to.
            mList->clearSelection();
            item->setSelected(true);
            return;
        }
    }
}

void UFieldView::resizeEvent(QResizeEvent*) {
    base::RecordErrors("UFieldView::resizeEvent", [&] {
        const int left = mList->x(), top = mList->y();
        mList->resize(std::max(0, width() - 2 * left), std::max(0, height() - top - left));
    });
    base::RecordErrors("UFieldView::resizeEvent", [&] {
        mDataSource->resize(std::max(0, mList->width() - (mDataSource->x() - mList->x())), mDataSource->height());
    });
    MCaptionFit::FitAll(this);
}
