#include "UPrune.h"
#include "MCaptionFit.h"

#include "ErrorGuard.h"
#include "MTwips.h"
#include "UChartReport.h"
#include "USpin.h"
#include "ui/dialogs.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMargin = 120;
constexpr double kButtonWidth = 1125;
constexpr int32_t kMaxItems = 30000;

QFont SansBold() {
    QFont font;  // "MS Sans Serif" maps to the default sans face
    font.setPointSizeF(9.75);
    font.setBold(true);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect place, bool bold,
                  const QColor& color = QColor(), bool right = false, double points = 9.75) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    QFont font = SansBold();
    font.setBold(bold);
    font.setPointSizeF(points);
    label->setFont(font);
    // A caption is never cut where the face is wider than the design's.
    if (!right) MCaptionFit::Fit(label);
    if (color.isValid()) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, color);
        label->setPalette(p);
    }
    if (right) label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& text, const QString& tip, QRect place) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    box->setFont(SansBold());
    box->setToolTip(tip);
    box->setGeometry(place);
    return box;
}

QString RateText(float rate) { return QString::number(double(rate), 'f', 1); }

}  // namespace

UPrune::UPrune(QWidget* parent) : base::IPrunePanel(parent) {
    mBack = new QPushButton("<< &Back", this);
    mBack->setObjectName("lnkCancel");
    mBack->setToolTip("Back to Data Selection");
    mBack->setGeometry(MTwips::Place(120, 120, 1125, 319));
    mNext = new QPushButton("&Finish >>", this);
    mNext->setObjectName("lnkOK");
    mNext->setToolTip("Run the test data and complete the process");
    mNext->setGeometry(MTwips::Place(1440, 120, 1125, 319));

    mConfMain = MakeLabel(this, "lblConfMain", "0%", MTwips::Place(495, 555, 645, 255), true, QColor(255, 0, 0), true);
    MakeLabel(this, "Label12", "Confidence", MTwips::Place(1155, 555, 1020, 240), false);
    mNodesMain = MakeLabel(this, "lblNodesMain", "0", MTwips::Place(510, 810, 600, 240), true, QColor(0, 0, 255), true);
    MakeLabel(this, "Label2", "Nodes", MTwips::Place(1170, 810, 615, 240), false);

    mExtract = new QGroupBox("Extraction Settings", this);
    mExtract->setObjectName("fraExtract");
    QFont frameFont("Arial");
    frameFont.setBold(true);
    mExtract->setFont(frameFont);
    mExtract->setGeometry(MTwips::Place(165, 1140, 2370, 1680));
    MakeLabel(mExtract, "Label1", "Prune Rate", MTwips::Place(150, 360, 930, 255), false, QColor(), false, 8.25);
    mRateBox = MakeBox(mExtract, "txtPruneRate", "75.0", "0 - 100", MTwips::Place(150, 615, 660, 315));
    MakeSpin(mExtract, "spnPruneRate", true)->setGeometry(MTwips::Place(855, 525, 255, 495));
    MakeLabel(mExtract, "Label3", "Min. Items", MTwips::Place(1260, 360, 855, 255), false, QColor(), false, 8.25);
    mItemsBox = MakeBox(mExtract, "txtMinItems", "2", "1 - 30,000", MTwips::Place(1170, 615, 765, 315));
    MakeSpin(mExtract, "spnMinItems", false)->setGeometry(MTwips::Place(1980, 525, 255, 495));
    mRebuild = new QPushButton("Extract Rules Now", mExtract);
    mRebuild->setObjectName("cmdRebuild");
    mRebuild->setToolTip("Extract the rules using the current settings");
    mRebuild->setGeometry(MTwips::Place(195, 1200, 1845, 319));

    mChart = new UChartReport(this);
    mChart->setObjectName("UChart");
    mChart->setGeometry(MTwips::Place(120, 3075, 2655, 1695));

    for (QLineEdit* box : {mRateBox, mItemsBox}) {
        box->installEventFilter(this);
        // Every change of a box's text, by the user or by the panel, counts.
        connect(box, &QLineEdit::textChanged, this, [this] { mChanged = true; });
    }
    connect(mRebuild, &QPushButton::clicked, this, base::ShowingErrors("UPrune::cmdRebuild_Click", [this] { RebuildAction(); }));
    connect(mNext, &QPushButton::clicked, this, base::ShowingErrors("UPrune::lnkOK_Click", [this] { Finish(); }));
    connect(mBack, &QPushButton::clicked, this, base::ShowingErrors("UPrune::lnkCancel_Click", [this] { emit NavBack(); }));
    connect(mChart, &UChartReport::ColorChange, this, &UPrune::ColorChange);
    mChanged = false;
}

// The spin button of a settings box: each Change is one step.
USpin* UPrune::MakeSpin(QWidget* parent, const char* name, bool rate) {
    auto* spin = new USpin(parent);
    spin->setObjectName(name);
    // Out of the tab chain, so Tab goes from box to box; a click still gives
    // it the keyboard for its page keys.
    spin->setFocusPolicy(Qt::ClickFocus);
    connect(spin, &USpin::Change, this, [this, rate](bool down) {
        base::ShowErrors("UPrune::spn_Change", [&] { rate ? StepPruneRate(down) : StepMinItems(down); });
    });
    return spin;
}

void UPrune::SetPruneRate(float rate) {
    const float whole = std::floor(rate);
    mRateWhole = int16_t(whole);
    mRateFraction = rate - whole;
    ShowPruneRate();
    mChanged = false;
}

void UPrune::SetMinItems(int32_t items) {
    mMinItems = items;
    ShowMinItems();
    mChanged = false;
}

int16_t UPrune::ColorItems() const { return mChart->ColorItems(); }
void UPrune::SetColorItems(int16_t mode) { mChart->SetColorItems(mode); }
int16_t UPrune::Contrast() const { return mChart->Contrast(); }
void UPrune::SetContrast(int16_t contrast) { mChart->SetContrast(contrast); }
void UPrune::EnableNext() { mNext->setEnabled(true); }
void UPrune::DisableNext() { mNext->setEnabled(false); }
void UPrune::ShowType(int16_t type) { mChart->SetColorEnabled(type == 1); }

void UPrune::SetTotalValues(int32_t items, int16_t confidence, int16_t nodes) {
    mNodesMain->setText(QString::number(nodes));
    mConfMain->setText(QString::number(confidence) + "%");
    mChart->SetTotalValues(items, confidence);
}

void UPrune::SetLocalValues(int32_t items, float confidence) {
    mChart->SetLocalValues(items, int16_t(std::nearbyint(confidence)));
}

void UPrune::StepPruneRate(bool down) {
    const float rate = PruneRate();
    if (down ? rate - 1 < 0 : rate + 1 > 100) return;
    mRateWhole = int16_t(mRateWhole + (down ? -1 : 1));
    ShowPruneRate();
}

void UPrune::StepMinItems(bool down) {
    if (down && mMinItems - 1 >= 1) --mMinItems;
    if (!down && mMinItems < kMaxItems) ++mMinItems;
    ShowMinItems();
}

double UPrune::NextButtonLeft(double innerWidth) {
    const double wanted = innerWidth - kButtonWidth - kMargin;
    const double backRight = kMargin + kButtonWidth;
    return backRight + kMargin < wanted ? wanted : backRight + kMargin;
}

void UPrune::ShowPruneRate() { mRateBox->setText(RateText(PruneRate())); }
void UPrune::ShowMinItems() { mItemsBox->setText(QString::number(mMinItems)); }

void UPrune::TakePruneRate() {
    bool ok = false;
    const double value = mRateBox->text().toDouble(&ok);
    if (!ok || !(value >= 0 && value <= 100)) {
        ShowPruneRate();
        return;
    }
    // The single the user typed, split so that whole + fraction gives it back.
    const float rate = float(value);
    const float whole = std::floor(rate);
    mRateWhole = int16_t(whole);
    mRateFraction = rate - whole;
}

void UPrune::TakeMinItems() {
    bool ok = false;
    const double value = mItemsBox->text().toDouble(&ok);
    if (!ok) {
        ShowMinItems();
        return;
    }
    const double rounded = std::nearbyint(value);
    if (rounded >= 1 && rounded <= kMaxItems) {
        mMinItems = int32_t(rounded);
    } else if (rounded == 0) {
        mMinItems = 1;
        mItemsBox->setText("1");
    } else {
        ShowMinItems();
    }
}

void UPrune::RebuildAction() {
    mNext->setEnabled(true);
    emit ReBuild();
    mChanged = false;
}

void UPrune::Finish() {
    if (mChanged) {
        const ui::Answer answer =
            ui::MsgBox("Rules have not been extracted for current settings.  Continuing using previous rules?",
                       ui::Buttons::OKCancel, ui::Icon::Exclamation, "Settings Have Changed");
        if (answer != ui::Answer::OK) return;
        mChanged = false;
    }
    emit NavNext();
}

bool UPrune::FilterKey(QLineEdit* box, QKeyEvent* event) {
    const bool rate = box == mRateBox;
    switch (event->key()) {
    case Qt::Key_Down:
        rate ? StepPruneRate(true) : StepMinItems(true);
        return true;
    case Qt::Key_Up:
        rate ? StepPruneRate(false) : StepMinItems(false);
        return true;
    case Qt::Key_Escape:
        rate ? ShowPruneRate() : ShowMinItems();
        box->selectAll();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        rate ? TakePruneRate() : TakeMinItems();
        RebuildAction();
        box->setFocus();
        return true;
    case Qt::Key_Backspace:
        return false;
    default:
        break;
    }
    const QString text = event->text();
    if (text.size() != 1 || !text[0].isPrint()) return false;  // not a character: the box handles it
    const QChar c = text[0];
    const int length = int(box->text().size());
    if (c >= '0' && c <= '9') return length >= 5 && !box->hasSelectedText();
    if (c == '.') return box->text().contains('.') || length >= 6;
    return true;  // any other character is dropped
}

bool UPrune::eventFilter(QObject* watched, QEvent* event) {
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box != mRateBox && box != mItemsBox) return base::IPrunePanel::eventFilter(watched, event);
    bool consumed = false;
    base::ShowErrors("UPrune::txt_Key", [&] {
        switch (event->type()) {
        case QEvent::KeyPress: consumed = FilterKey(box, static_cast<QKeyEvent*>(event)); break;
        case QEvent::FocusOut: box == mRateBox ? TakePruneRate() : TakeMinItems(); break;
        case QEvent::FocusIn: box->selectAll(); break;
        default: break;
        }
    });
    return consumed || base::IPrunePanel::eventFilter(watched, event);
}

void UPrune::resizeEvent(QResizeEvent*) {
    mBack->move(MTwips::ToPixels(kMargin), mBack->y());
    mNext->move(MTwips::ToPixels(NextButtonLeft(width() * double(MUtilities::TwipsPerPixel))), mNext->y());
    MCaptionFit::FitAll(this);
}
