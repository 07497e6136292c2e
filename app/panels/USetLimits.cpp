#include "USetLimits.h"
#include "MCaptionFit.h"

#include "ErrorGuard.h"
#include "URecordSelect.h"

#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace {

constexpr int kTwips = 15;
int Px(double twips) { return int(std::nearbyint(twips / kTwips)); }
QRect PxRect(const QRect& r) { return QRect(Px(r.x()), Px(r.y()), Px(r.width()), Px(r.height())); }

QLabel* Label(const QString& text, QWidget* parent, const char* name, const QColor& color, bool centred) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QFont f = label->font();
    f.setPointSize(8);
    f.setBold(true);
    label->setFont(f);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    if (centred) label->setAlignment(Qt::AlignCenter);
    else label->adjustSize();
    return label;
}

}  // namespace

USetLimits::USetLimits(QWidget* parent) : base::ISetLimitsPanel(parent) {
    setObjectName(QStringLiteral("USetLimits"));
    mLabel1 = Label(tr("Training Set"), this, "Label1", Qt::black, false);
    mLabel2 = Label(tr("Testing Set"), this, "Label2", Qt::black, false);
    mTrain = new URecordSelect(this);
    mTrain->setObjectName(QStringLiteral("URSTrain"));
    mTrain->SetFillColor(QColor(255, 0, 0));
    mTest = new URecordSelect(this);
    mTest->setObjectName(QStringLiteral("URSTest"));
    for (URecordSelect* bar : {mTrain, mTest}) {
        bar->SetRangeMax(0);
        bar->SetMin(1);
        bar->setToolTip(tr("Double click on number to enter an exact value"));
    }
    mTrainTotal = Label(QString(), this, "lblTrainTotal", QColor(255, 0, 0), true);
    mTestTotal = Label(QString(), this, "lblTestTotal", QColor(0, 0, 255), true);
    mBack = new QPushButton(tr("<< &Back"), this);
    mBack->setObjectName(QStringLiteral("lnkCancel"));
    mBack->setToolTip(tr("Back to field selection"));
    mNext = new QPushButton(tr("&Next >>"), this);
    mNext->setObjectName(QStringLiteral("lnkNext"));
    mNext->setToolTip(tr("Continue to Rule Extraction"));
    for (QPushButton* b : {mBack, mNext}) b->setGeometry(0, 120 / kTwips, 1125 / kTwips, 319 / kTwips);
    connect(mTrain, &URecordSelect::Change, this, [this] {
        RefreshTotals();
        mChanged = true;
    });
    connect(mTest, &URecordSelect::Change, this, [this] {
        RefreshTotals();
        mChanged = true;
    });
    connect(mNext, &QPushButton::clicked, this, base::ShowingErrors("USetLimits::lnkNext_Click", [this] { emit NavNext(); }));
    connect(mBack, &QPushButton::clicked, this, base::ShowingErrors("USetLimits::lnkCancel_Click", [this] { emit NavBack(); }));
    RefreshTotals();
}

int32_t USetLimits::TrainLow() const { return mTrain->LowValue(); }
int32_t USetLimits::TrainHigh() const { return mTrain->HighValue(); }
int32_t USetLimits::TestLow() const { return mTest->LowValue(); }
int32_t USetLimits::TestHigh() const { return mTest->HighValue(); }
int32_t USetLimits::RecordCount() const { return mTrain->Max(); }

void USetLimits::SetRecordCount(int32_t n) {
    for (URecordSelect* bar : {mTrain, mTest}) {
        bar->SetMax(n);
        bar->SetLowValue(1);
        bar->SetHighValue(n);
    }
}

void USetLimits::SetTrainLow(int32_t v) {
    mTrain->SetLowValue(v);
    RefreshTotals();
}
void USetLimits::SetTrainHigh(int32_t v) {
    mTrain->SetHighValue(v);
    RefreshTotals();
}
void USetLimits::SetTestLow(int32_t v) {
    mTest->SetLowValue(v);
    RefreshTotals();
}
void USetLimits::SetTestHigh(int32_t v) {
    mTest->SetHighValue(v);
    RefreshTotals();
}

void USetLimits::Initialize(int32_t recordCount, int32_t trainLow, int32_t trainHigh, int32_t testLow,
                            int32_t testHigh) {
    SetRecordCount(recordCount);
    SetTrainLow(trainLow);
    SetTrainHigh(trainHigh);
    SetTestLow(testLow);
    SetTestHigh(testHigh);
    mChanged = false;
}

void USetLimits::RefreshTotals() {
    const auto rows = [](URecordSelect* bar) {
        return QString::number(int64_t(bar->HighValue()) - bar->LowValue() + 1) + tr(" Rows");
    };
    mTrainTotal->setText(rows(mTrain));
    mTestTotal->setText(rows(mTest));
}

USetLimits::Layout USetLimits::ComputeLayout(int w, int h, int label1Height, int label2Height, int label1Width,
                                             int label2Width, int backWidth, int nextWidth) {
    Layout l{};
    constexpr int kTop = 720;
    if (w < 3900) {
        int bar = h - kTop - 580 - 240;
        if (bar <= 750) bar = 750;
        const int half = int(std::nearbyint(bar / 2.0));
        l.train = QRect(0, kTop, w, half);
        l.test = QRect(0, kTop + half + 580, w, half);
        l.label1 = QRect(30, l.train.top() - label1Height, label1Width, label1Height);
        l.label2 = QRect(30, l.test.top() - label2Height, label2Width, label2Height);
        l.trainTotal = QRect(0, l.train.top() + half, w, 0);
        l.testTotal = QRect(0, l.test.top() + half, w, 0);
        if (backWidth + nextWidth + 240 < w) {
            l.backLeft = 120;
            l.nextLeft = w - nextWidth - 120;
        } else {
            l.backLeft = 0;
            l.nextLeft = backWidth + 120;
        }
    } else {
        const int half = w / 2, height = h - kTop - 240;
        l.train = QRect(0, kTop, half, height);
        l.test = QRect(half, kTop, half, height);
        l.label1 = QRect((half - label1Width) / 2, kTop - label1Height, label1Width, label1Height);
        l.label2 = QRect(half + (half - label2Width) / 2, kTop - label2Height, label2Width, label2Height);
        l.trainTotal = QRect(0, kTop + height, half, 0);
        l.testTotal = QRect(half, kTop + height, half, 0);
        l.backLeft = 120;
        l.nextLeft = w - nextWidth - 120;
    }
    return l;
}

void USetLimits::resizeEvent(QResizeEvent*) {
    base::RecordErrors("USetLimits::resizeEvent", [&] {
        const Layout l = ComputeLayout(width() * kTwips, height() * kTwips, mLabel1->height() * kTwips,
                                       mLabel2->height() * kTwips, mLabel1->width() * kTwips,
                                       mLabel2->width() * kTwips, mBack->width() * kTwips, mNext->width() * kTwips);
        // A size the platform cannot take (a very small panel) is left out.
        auto place = [](QWidget* w, const QRect& r) {
            if (r.width() >= 0 && r.height() >= 0) w->setGeometry(PxRect(r));
        };
        place(mTrain, l.train);
        place(mTest, l.test);
        place(mLabel1, l.label1);
        place(mLabel2, l.label2);
        mTrainTotal->setGeometry(Px(l.trainTotal.x()), Px(l.trainTotal.y()), Px(l.trainTotal.width()), mTrainTotal->sizeHint().height());
        mTestTotal->setGeometry(Px(l.testTotal.x()), Px(l.testTotal.y()), Px(l.testTotal.width()), mTestTotal->sizeHint().height());
        mBack->move(Px(l.backLeft), mBack->y());
        mNext->move(Px(l.nextLeft), mNext->y());
    });
    MCaptionFit::FitAll(this);
}
