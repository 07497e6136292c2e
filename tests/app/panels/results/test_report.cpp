// The report panel: links and their highlight, what SetNavigate shows under
// them, the browse filter, disabled links and the legend.
#include "UReport.h"

#include "PanelTestSupport.h"
#include "UChartReport.h"
#include "ULink.h"

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <vector>

using namespace paneltest;

namespace {

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel.resize(200, 400);
        panel.show();
        QObject::connect(&panel, &base::IReportPanel::Navigate, [this](int16_t i) { navigated.push_back(i); });
        QObject::connect(&panel, &base::IReportPanel::Filter, [this](int16_t i) { filters.push_back(i); });
    }
    void ClickLink(int i) {
        ULink& link = *panel.Link(i);
        Click(link, QPoint(link.width() / 2, link.height() / 2));
    }
    // Index of the one highlighted link; -1 when none or several.
    int Highlighted() const {
        int found = -1;
        for (int i = 0; i < UReport::kLinks; ++i) {
            if (!panel.Link(i)->Highlight()) continue;
            if (found >= 0) return -1;
            found = i;
        }
        return found;
    }
    QRadioButton* Option(int i) { return panel.findChild<QRadioButton*>(QString("optFilter%1").arg(i)); }
    bool FilterShown() { return panel.findChild<QGroupBox*>("fraMain")->isVisible(); }
    bool LegendShown() { return panel.findChild<UChartReport*>("UChart")->isVisible(); }
    std::vector<bool> Enabled() {
        std::vector<bool> e;
        for (int i = 0; i < UReport::kFilters; ++i) e.push_back(Option(i)->isEnabled());
        return e;
    }

    WithApp app;
    UReport panel;
    std::vector<int> navigated, filters;
};

}  // namespace

TEST_F(ReportTest, TheLinksAsDesigned) {
    const char* captions[] = {"Browse All Data", "Browse Test Data", "Confusion Matrix", "Field Statistics",
                              "Class Details", "Tree Chart", "Flow Chart", "Live Predictions"};
    for (int i = 0; i < UReport::kLinks; ++i) {
        EXPECT_EQ(panel.Link(i)->Caption(), captions[i]);
        EXPECT_TRUE(panel.Link(i)->Bulleted());
        EXPECT_TRUE(panel.Link(i)->Enabled());
    }
    EXPECT_EQ(Highlighted(), 2);
    // Screen order puts Live Predictions fourth.
    EXPECT_LT(panel.Link(2)->y(), panel.Link(7)->y());
    EXPECT_LT(panel.Link(7)->y(), panel.Link(3)->y());
    EXPECT_FALSE(FilterShown());
    EXPECT_FALSE(LegendShown());
    EXPECT_FALSE(panel.Changed());
}

TEST_F(ReportTest, AClickHighlightsTheLinkAndRaisesNavigateOnce) {
    ClickLink(1);
    EXPECT_EQ(navigated, std::vector<int>{1});
    EXPECT_EQ(Highlighted(), 1);
    // The lower part waits for the shell.
    EXPECT_FALSE(FilterShown());
    panel.SetNavigate(1);
    EXPECT_TRUE(FilterShown());
    EXPECT_FALSE(LegendShown());
    EXPECT_EQ(Enabled(), std::vector<bool>(5, true));
    EXPECT_TRUE(Option(0)->isChecked());
    EXPECT_TRUE(filters.empty());

    // A disabled link cannot be clicked, but SetNavigate still highlights it.
    panel.DisableLink(4);
    ClickLink(4);
    EXPECT_EQ(navigated, std::vector<int>{1});
    EXPECT_EQ(panel.Link(4)->TextColor(), ULink::kDisabledColor);
    panel.SetNavigate(4);
    EXPECT_EQ(Highlighted(), 4);
    panel.EnableLink(4);
    ClickLink(4);
    EXPECT_EQ(navigated, (std::vector<int>{1, 4}));
    EXPECT_FALSE(panel.Changed());
}

TEST_F(ReportTest, TheFilterReportsOnlyNewChoices) {
    panel.SetNavigate(1);
    Option(1)->click();
    Option(1)->click();
    EXPECT_EQ(filters, std::vector<int>{1});
    Option(4)->click();
    Option(0)->click();
    EXPECT_EQ(filters, (std::vector<int>{1, 4, 0}));

    // All rows: back to "No Filter", prediction options off, nothing reported.
    Option(3)->click();
    filters.clear();
    panel.SetNavigate(0);
    EXPECT_TRUE(Option(0)->isChecked());
    EXPECT_EQ(Enabled(), (std::vector<bool>{true, true, true, false, false}));
    EXPECT_TRUE(filters.empty());
    Option(2)->click();
    EXPECT_EQ(filters, std::vector<int>{2});
}

TEST_F(ReportTest, WhatEachViewShowsUnderTheLinks) {
    auto* quantity = panel.findChild<QRadioButton*>("optColor0");
    panel.SetNavigate(5);
    EXPECT_TRUE(LegendShown());
    EXPECT_FALSE(FilterShown());
    EXPECT_FALSE(quantity->isEnabled());
    panel.SetNavigate(6);
    EXPECT_TRUE(LegendShown());
    EXPECT_TRUE(quantity->isEnabled());
    EXPECT_EQ(Highlighted(), 6);
    Screenshot(panel, "report_panel_flow_chart");
    for (int i : {7, 2, 3, 4}) {
        panel.SetNavigate(int16_t(i));
        EXPECT_FALSE(LegendShown()) << i;
        EXPECT_FALSE(FilterShown()) << i;
        EXPECT_EQ(Highlighted(), i);
    }
    // No link for other numbers: nothing changes.
    panel.SetNavigate(8);
    panel.SetNavigate(-1);
    panel.DisableLink(9);
    panel.EnableLink(-3);
    EXPECT_EQ(Highlighted(), 4);
}

TEST_F(ReportTest, TheLegendPassesItsChoiceOn) {
    std::vector<std::pair<int, int>> changes;
    QObject::connect(&panel, &base::IReportPanel::ColorChange,
                     [&](int16_t m, int16_t c) { changes.emplace_back(m, c); });
    panel.SetNavigate(6);
    panel.SetColorItems(1);
    panel.SetContrast(70);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(panel.ColorItems(), 1);
    EXPECT_EQ(panel.Contrast(), 70);
    panel.findChild<QRadioButton*>("optColor2")->click();
    EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{2, 70}}));
    panel.SetTotalValues(150, 95);
    panel.SetLocalValues(12, 50.0f);
    EXPECT_EQ(panel.findChild<QLabel*>("lblTotalItems")->text(), "150");
    EXPECT_EQ(panel.findChild<QLabel*>("lblLocalItems")->text(), "12");
}
