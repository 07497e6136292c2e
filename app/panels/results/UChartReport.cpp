#include "UChartReport.h"
#include "MCaptionFit.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "MTwips.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {

QFont Arial(double points) {
    QFont font("Arial");
    font.setPointSizeF(points);
    return font;
}

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kPurple(192, 0, 192);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect place, double points,
                  const QColor& color = QColor(), bool right = false, const QString& tip = QString()) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setFont(Arial(points));
    if (color.isValid()) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, color);
        label->setPalette(p);
    }
    if (right) label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // A caption is never cut where the face is wider than the design's.
    else MCaptionFit::Fit(label);
    label->setToolTip(tip);
    return label;
}

}  // namespace

UChartReport::UChartReport(QWidget* parent) : QWidget(parent), mOptions(new QButtonGroup(this)) {
    auto* frame = new QGroupBox("Chart Control", this);
    frame->setObjectName("fraTree");
    frame->setGeometry(MTwips::Place(30, 0, 2385, 1620));
    resize(MTwips::Place(0, 0, 2445, 1650).size());

    MakeLabel(frame, "Label2_0", "Color By", MTwips::Place(120, 240, 555, 180), 6.75);
    MakeLabel(frame, "Label2_3", "Total", MTwips::Place(1185, 240, 300, 180), 6.75);
    MakeLabel(frame, "Label2_4", "Local", MTwips::Place(1845, 240, 330, 180), 6.75);

    static const char* kOptionTips[3] = {"Color chart for quantity", "Color chart for confidence",
                                         "Color chart for class"};
    static const int kOptionTops[3] = {450, 705, 960};
    for (int i = 0; i < 3; ++i) {
        mOption[i] = new QRadioButton(frame);
        mOption[i]->setObjectName(QString("optColor%1").arg(i));
        mOption[i]->setGeometry(MTwips::Place(75, kOptionTops[i], 195, 210));
        mOption[i]->setToolTip(kOptionTips[i]);
        mOptions->addButton(mOption[i], i);
    }
    mModeCaption[0] = MakeLabel(frame, "lblQuantity", "Quantity", MTwips::Place(285, 465, 540, 180), 6.75, kBlue, false,
                                "Quantity is the number of training items at the node");
    mModeCaption[1] = MakeLabel(frame, "lblConfidence", "Confidence", MTwips::Place(285, 705, 720, 180), 6.75, kRed, false,
                                "Confidence of predictions");
    mModeCaption[2] = MakeLabel(frame, "lblClasses", "Classes", MTwips::Place(285, 960, 510, 180), 6.75, kPurple, false,
                                "Each class is a unique color");
    for (QLabel* caption : mModeCaption) caption->installEventFilter(this);

    mTotalItems = MakeLabel(frame, "lblTotalItems", "0", MTwips::Place(615, 450, 870, 195), 8.25, kBlue, true,
                            "Total quantity for the tree");
    mLocalItems = MakeLabel(frame, "lblLocalItems", "-", MTwips::Place(1425, 450, 750, 195), 8.25, kBlue, true,
                            "Quantity at a node");
    mTotalConf = MakeLabel(frame, "lblTotalConf", "0", MTwips::Place(975, 690, 510, 195), 8.25, kRed, true,
                           "Total confidence for the tree");
    MakeLabel(frame, "lblPct2", "%", MTwips::Place(1485, 705, 120, 195), 8.25);
    mLocalConf = MakeLabel(frame, "lblLocalConf", "", MTwips::Place(1605, 690, 405, 195), 8.25, kRed, true);
    mLocalPct = MakeLabel(frame, "lblPct3", "-", MTwips::Place(2025, 690, 150, 210), 8.25, QColor(), true,
                          "Confidence at a node");
    mContrastCaption = MakeLabel(frame, "lblContrast", "Color Contrast", MTwips::Place(1065, 1140, 1095, 195), 6.75,
                                 QColor(), true);

    mSlider = new QSlider(Qt::Horizontal, frame);
    mSlider->setObjectName("sldContrast");
    mSlider->setGeometry(MTwips::Place(165, 1275, 2085, 300));
    mSlider->setRange(0, 100);
    mSlider->setSingleStep(1);
    mSlider->setPageStep(5);
    mSlider->setValue(50);
    mSlider->setToolTip("Contrast for the tree");

    // Design state: Classes chosen, so the contrast is not offered.
    mOption[2]->setChecked(true);
    SetContrastEnabled(false);

    connect(mOptions, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) OptionSelected(id);
    });
    connect(mSlider, &QSlider::valueChanged, this, &UChartReport::SliderMoved);
}

void UChartReport::SetLocalValues(int32_t items, int16_t confidence) {
    if (items >= 0) {
        mLocalItems->setText(QString::number(items));
        mLocalConf->setText(QString::number(confidence));
        mLocalPct->setText("%");
    } else {
        mLocalItems->setText("-");
        mLocalConf->setText("");
        mLocalPct->setText("-");
    }
}

void UChartReport::SetTotalValues(int32_t items, int16_t confidence) {
    mTotalItems->setText(QString::number(items));
    mTotalConf->setText(QString::number(confidence));
}

int16_t UChartReport::ColorItems() const {
    if (mOption[0]->isChecked()) return 0;
    if (mOption[1]->isChecked()) return 1;
    return 2;
}

void UChartReport::SetColorItems(int16_t mode) {
    if (mode < 0 || mode > 2) app::RaiseError(380);  // no option for it
    mUpdating = true;
    mOption[mode]->setChecked(true);
    mUpdating = false;
    // The mode alone decides, whether or not the choice is offered.
    SetContrastEnabled(mode != 2);
}

int16_t UChartReport::Contrast() const { return int16_t(100 - mSlider->value()); }

void UChartReport::SetContrast(int16_t contrast) {
    if (contrast < 0 || contrast > 100) app::RaiseError(380);
    mUpdating = true;
    mSlider->setValue(100 - contrast);
    mUpdating = false;
}

// The legend's own switch, whatever its host's.
bool UChartReport::ColorEnabled() const { return mOption[0]->isEnabledTo(this); }

void UChartReport::SetColorEnabled(bool enabled) {
    for (QRadioButton* option : mOption) option->setEnabled(enabled);
    SetContrastEnabled(enabled && !mOption[2]->isChecked());
}

void UChartReport::OptionSelected(int index) {
    SetContrastEnabled(index != 2);
    if (!mUpdating && mOption[index]->isChecked()) emit ColorChange(int16_t(index), Contrast());
}

void UChartReport::SliderMoved(int position) {
    if (mUpdating) return;
    const int16_t mode = ColorItems();
    if (mode == 2) return;
    emit ColorChange(mode, int16_t(100 - position));
}

void UChartReport::SetContrastEnabled(bool enabled) {
    mSlider->setEnabled(enabled);
    QPalette p = mContrastCaption->palette();
    p.setColor(QPalette::WindowText, enabled ? QColor(Qt::black) : palette().color(QPalette::Disabled, QPalette::WindowText));
    mContrastCaption->setPalette(p);
}

bool UChartReport::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        for (int i = 0; i < 3; ++i) {
            if (watched != mModeCaption[i]) continue;
            base::ShowErrors("UChartReport::lblMode_Click", [&] {
                if (ColorEnabled()) mOption[i]->setChecked(true);
            });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
