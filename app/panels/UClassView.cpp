#include "UClassView.h"
#include "MCaptionFit.h"

#include "AppErrors.h"
#include "CDataDef.h"
#include "CProject.h"
#include "IShell.h"
#include "MFormat.h"
#include "MListView.h"
#include "ErrorGuard.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <cmath>

namespace {

constexpr int kTwips = 15;

std::shared_ptr<CDataDef> LoadDefinitions(CProject& project) {
    auto dd = std::make_shared<CDataDef>();
    DatabasePtr db = project.OpenProject(false);
    if (!db) throw app::RuntimeError(91, app::RuntimeErrorText(91));
    dd->Load(db);
    return dd;
}

QLabel* BoldLabel(const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    label->move(x, y);
    return label;
}

}  // namespace

UClassView::UClassView(QWidget* parent) : base::IClassViewPanel(parent) {
    setObjectName(QStringLiteral("UClassView"));
    BoldLabel(tr("Field Name"), this, 8, 10);
    mCombo = new QComboBox(this);
    mCombo->setObjectName(QStringLiteral("cmbClass"));
    mCombo->setToolTip(tr("Select the field to show class stats for"));
    mCombo->setGeometry(96, 6, 240, 22);
    BoldLabel(tr("Class List"), this, 8, 26);
    mCount = BoldLabel(QString(), this, 90, 26);
    mCount->setObjectName(QStringLiteral("lblCount"));
    QFont italic = mCount->font();
    italic.setItalic(true);
    mCount->setFont(italic);
    mCount->setMinimumWidth(120);
    mFieldStats = new QPushButton(tr("Field Statistics"), this);
    mFieldStats->setObjectName(QStringLiteral("cmdFieldStats"));
    mFieldStats->setToolTip(tr("Show field stats"));
    mFieldStats->resize(110, 24);
    mList = new QTreeWidget(this);
    mList->setObjectName(QStringLiteral("lvwClass"));
    mList->setRootIsDecorated(false);
    mList->setToolTip(tr("Click the headers to sort"));
    mList->setHeaderLabels({tr("Class Name"), tr("Count"), tr("% of Total")});
    mList->setColumnWidth(0, 3528 / kTwips);
    mList->setColumnWidth(1, 1413 / kTwips);
    mList->setColumnWidth(2, 1413 / kTwips);
    mList->header()->setSectionsClickable(true);
    mList->move(120 / kTwips, 600 / kTwips);
    connect(mCombo, &QComboBox::currentIndexChanged, this,
            base::ShowingErrors("UClassView::cmbClass_Click", [this] { cmbClass_Click(); }));
    connect(mFieldStats, &QPushButton::clicked, this, [] {
        base::ShowErrors("UClassView::cmdFieldStats_Click", [] {
            if (base::IShell* s = base::Shell()) s->ShowFieldStats();
        });
    });
    connect(mList->header(), &QHeaderView::sectionClicked, this, [this](int c) {
        // Both number columns sort by the row count.
        base::ShowErrors("UClassView::lvwClass_ColumnClick", [&] { mSort.HeaderClick(*mList, c, c == 0 ? -1 : 1); });
    });
}

void UClassView::Initialize(std::shared_ptr<CProject> project) {
    if (!project) return;
    mProject = project;
    std::shared_ptr<CDataDef> dd = LoadDefinitions(*project);
    mBusy = true;
    mCombo->clear();
    mBusy = false;
    mList->clear();
    mField.clear();
    for (int16_t i = 0; i < dd->FieldCount(); ++i)
        if (dd->MaxClass(i) > 0) {
            mBusy = true;  // adding the first entry selects it
            mCombo->addItem(QString::fromStdString(dd->FieldName(i)));
            mBusy = false;
        }
    MListView::SetFullRowSelect(*mList, true);
}

void UClassView::SetField(const QString& fieldName) {
    if (mBusy) return;
    mBusy = true;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{mBusy};
    if (!mProject) return;
    std::shared_ptr<CDataDef> dd = LoadDefinitions(*mProject);
    QString name = fieldName;
    if (name.isEmpty()) {
        if (mCombo->count() == 0) return;
        mCombo->setCurrentIndex(0);
        name = mCombo->itemText(0);
    }
    int16_t field = -1;
    for (int16_t i = 0; i < dd->FieldCount() && field < 0; ++i)
        if (QString::fromStdString(dd->FieldName(i)) == name) field = i;
    if (field < 0 || dd->MaxClass(field) == 0) return;

    mList->clear();
    const auto total = MFormat::ParseNumber(QString::fromStdString(mProject->GetConfig("RecordCount", "1")));
    // A count no whole number holds (a damaged Config) shows no shares.
    const long long rows = total && *total >= 0 && *total < 9e18 ? (long long)std::llround(*total) : 0;
    auto share = [&](long long count) {
        return MFormat::Pattern(rows == 0 ? 0.0 : double(count) / double(rows), QStringLiteral("0.00%"));
    };
    DatabasePtr db = mProject->OpenProject(false);
    if (!db) throw app::RuntimeError(91, app::RuntimeErrorText(91));
    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM " + MdbUtils::BracketName("DValues_" + std::to_string(field)) + ";",
                                        dao::RecordsetType::ForwardOnly);
    if (rs->Eof()) return;
    long long sum = 0;
    int k = 1;
    auto addRow = [&](const QString& text, long long count) {
        auto* item = new QTreeWidgetItem(mList, {text, QString::number(count), share(count)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    };
    for (; !rs->Eof(); rs->MoveNext(), ++k) {
        const long long count = rs->Fields("Count").AsLong();
        addRow(QString::fromStdString(rs->Fields("DValues").AsString()), count);
        sum += count;
    }
    addRow(QStringLiteral(" <MISSING VALUES>"), rows - sum);
    rs->Close();
    mCount->setText(QString::number(k - 1) + tr(" Classes"));
    for (int i = 0; i < mCombo->count(); ++i)
        if (mCombo->itemText(i) == name) mCombo->setCurrentIndex(i);
    mField = name;
}

void UClassView::cmbClass_Click() {
    if (mBusy) return;
    const QString text = mCombo->currentText();
    if (text != mField) {
        mField = text;
        SetField(text);
    }
}

void UClassView::Refresh() { update(); }

void UClassView::resizeEvent(QResizeEvent*) {
    const char* where = "UClassView::resizeEvent";  // a step that fails is skipped
    base::RecordErrors(where, [&] {
        const int left = mList->x(), top = mList->y();
        mList->resize(std::max(0, width() - 2 * left), std::max(0, height() - top - left));
    });
    base::RecordErrors(where, [&] { mList->setColumnWidth(0, std::max(0, mCombo->width() - 335 / kTwips)); });
    base::RecordErrors(where, [&] { mFieldStats->move(std::max(3045 / kTwips, width() - mFieldStats->width() - 60 / kTwips), 5); });
    MCaptionFit::FitAll(this);
}
