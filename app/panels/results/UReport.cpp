#include "UReport.h"
#include "MCaptionFit.h"

#include <algorithm>

#include "ErrorGuard.h"
#include "MTwips.h"
#include "UChartReport.h"
#include "ULink.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

namespace {

const char* const kCaptions[UReport::kLinks] = {"Browse All Data", "Browse Test Data", "Confusion Matrix",
                                                "Field Statistics", "Class Details", "Tree Chart",
                                                "Flow Chart", "Live Predictions"};
// Screen order: browse all, browse test, matrix, live predictions, field statistics,
// class details, tree chart, flow chart.
const int kTops[UReport::kLinks] = {120, 497, 874, 1628, 2005, 2382, 2760, 1251};

const char* const kFilterCaptions[UReport::kFilters] = {"No Filter", "Marked Rows", "Unmarked Rows",
                                                        "Correct Predictions", "Incorrect Predictions"};
const int kFilterPlaces[UReport::kFilters][4] = {
    {135, 270, 1080, 255}, {375, 510, 1470, 255}, {375, 750, 1605, 255}, {375, 990, 1740, 255}, {375, 1230, 1815, 255}};

bool ValidLink(int index) { return index >= 0 && index < UReport::kLinks; }

}  // namespace

UReport::UReport(QWidget* parent) : base::IReportPanel(parent) {
    QFont linkFont("Arial");
    linkFont.setPointSizeF(9.75);
    linkFont.setBold(true);
    for (int i = 0; i < kLinks; ++i) {
        auto* link = new ULink(this);
        link->setObjectName(QString("lnkNavMain%1").arg(i));
        // As designed: bulleted, then sized to the caption.
        link->SetFont(linkFont);
        link->SetBulleted(true);
        link->SetAutoSize(true);
        link->SetCaption(kCaptions[i]);
        link->move(MTwips::ToPixels(120), MTwips::ToPixels(kTops[i]));
        link->SetHighlight(i == 2);
        connect(link, &ULink::Click, this, base::ShowingErrors("UReport::lnkNavMain_Click", [this, i] { LinkClicked(i); }));
        mLinks[i] = link;
    }

    mFilterFrame = new QGroupBox(" Browse Filter ", this);
    mFilterFrame->setObjectName("fraMain");
    QFont frameFont("Arial");
    frameFont.setPointSizeF(8.25);
    frameFont.setBold(true);
    mFilterFrame->setFont(frameFont);
    mFilterFrame->setGeometry(MTwips::Place(15, 3120, 2265, 1620));
    mFilterGroup = new QButtonGroup(this);
    for (int i = 0; i < kFilters; ++i) {
        auto* option = new QRadioButton(kFilterCaptions[i], mFilterFrame);
        option->setObjectName(QString("optFilter%1").arg(i));
        const int* p = kFilterPlaces[i];
        option->setGeometry(MTwips::Place(p[0], p[1], p[2], p[3]));
        option->setEnabled(false);
        mFilterGroup->addButton(option, i);
        mFilters[i] = option;
    }
    // Captions wider than their design boxes in the fonts at hand are widened,
    // and the frame with them, rather than cut.
    MCaptionFit::FitAll(mFilterFrame);
    mFilters[0]->setChecked(true);
    mFilterFrame->hide();
    connect(mFilterGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) base::ShowErrors("UReport::optFilter_Click", [&] { FilterSelected(id); });
    });

    mChart = new UChartReport(this);
    mChart->setObjectName("UChart");
    mChart->setGeometry(MTwips::Place(0, 3120, 2535, 1815));
    mChart->hide();
    connect(mChart, &UChartReport::ColorChange, this, &UReport::ColorChange);

    mRedo = new QPushButton("&ReConfigure", this);
    mRedo->setObjectName("lnkRedo");
    mRedo->setGeometry(MTwips::Place(6600, 120, 1245, 319));
    mRedo->hide();
    connect(mRedo, &QPushButton::clicked, this, base::ShowingErrors("UReport::lnkRedo_Click", [this] { emit NavNext(); }));
}

void UReport::HighlightOnly(int index) {
    for (ULink* link : mLinks) link->SetHighlight(false);
    mLinks[index]->SetHighlight(true);
}

void UReport::LinkClicked(int index) {
    HighlightOnly(index);
    // The lower part waits for the shell's SetNavigate.
    emit Navigate(int16_t(index));
}

void UReport::SetNavigate(int16_t index) {
    if (!ValidLink(index)) return;
    HighlightOnly(index);
    mTestView = index == 1;
    switch (index) {
    case 0:
    case 1:
        mChart->hide();
        mFilterFrame->show();
        // Back to "No Filter" without reporting it.
        mFilter = 0;
        mFilters[0]->setChecked(true);
        for (int i = 0; i < kFilters; ++i) mFilters[i]->setEnabled(i < 3 || mTestView);
        break;
    case 5:
    case 6:
        mFilterFrame->hide();
        mChart->show();
        ShowType(index);
        break;
    default:
        mFilterFrame->hide();
        mChart->hide();
        break;
    }
}

void UReport::FilterSelected(int index) {
    if (index == mFilter || !mFilters[index]->isChecked()) return;
    mFilter = int16_t(index);
    emit Filter(int16_t(index));
}

void UReport::EnableLink(int16_t index) {
    if (ValidLink(index)) mLinks[index]->SetEnabled(true);
}

void UReport::DisableLink(int16_t index) {
    if (ValidLink(index)) mLinks[index]->SetEnabled(false);
}

void UReport::ShowType(int32_t type) { mChart->SetColorEnabled(type == 6); }

void UReport::SetTotalValues(int32_t items, int16_t confidence) { mChart->SetTotalValues(items, confidence); }

void UReport::SetLocalValues(int32_t items, float confidence) {
    mChart->SetLocalValues(items, int16_t(std::nearbyint(confidence)));
}

int16_t UReport::ColorItems() const { return mChart->ColorItems(); }
void UReport::SetColorItems(int16_t mode) { mChart->SetColorItems(mode); }
int16_t UReport::Contrast() const { return mChart->Contrast(); }
void UReport::SetContrast(int16_t contrast) { mChart->SetContrast(contrast); }
