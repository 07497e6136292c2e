// The legend strip: the figures it shows, and which actions raise ColorChange.
#include "UChartReport.h"

#include "PanelTestSupport.h"

#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace paneltest;

namespace {

class LegendTest : public ::testing::Test {
protected:
    void SetUp() override {
        legend.show();
        QObject::connect(&legend, &UChartReport::ColorChange,
                         [this](int16_t mode, int16_t contrast) { changes.emplace_back(mode, contrast); });
    }
    QString Text(const char* name) const { return legend.findChild<QLabel*>(name)->text(); }
    QRadioButton* Option(int i) const { return legend.findChild<QRadioButton*>(QString("optColor%1").arg(i)); }
    QLabel* Label(const char* name) const { return legend.findChild<QLabel*>(name); }
    QSlider* Slider() const { return legend.findChild<QSlider*>("sldContrast"); }
    QColor ContrastCaption() const { return Label("lblContrast")->palette().color(QPalette::WindowText); }
    void ClickLabel(const char* name) { Click(*Label(name), QPoint(2, 2)); }

    WithApp app;
    UChartReport legend;
    std::vector<std::pair<int16_t, int16_t>> changes;
};

}  // namespace

TEST_F(LegendTest, FiguresOfTheTreeAndOfTheNodeUnderThePointer) {
    // Design state.
    EXPECT_EQ(Text("lblTotalItems"), "0");
    EXPECT_EQ(Text("lblLocalItems"), "-");
    EXPECT_EQ(Text("lblPct3"), "-");
    EXPECT_EQ(legend.ColorItems(), 2);
    EXPECT_EQ(legend.Contrast(), 50);

    legend.SetLocalValues(0, 0);
    EXPECT_EQ(Text("lblLocalItems"), "0");
    EXPECT_EQ(Text("lblLocalConf"), "0");
    EXPECT_EQ(Text("lblPct3"), "%");
    legend.SetLocalValues(1234, 87);
    EXPECT_EQ(Text("lblLocalItems"), "1234");
    EXPECT_EQ(Text("lblLocalConf"), "87");
    // Over no node: the confidence is ignored.
    legend.SetLocalValues(-1, 55);
    EXPECT_EQ(Text("lblLocalItems"), "-");
    EXPECT_EQ(Text("lblLocalConf"), "");
    EXPECT_EQ(Text("lblPct3"), "-");

    // Totals have no special case for negative values.
    legend.SetTotalValues(-5, -1);
    EXPECT_EQ(Text("lblTotalItems"), "-5");
    EXPECT_EQ(Text("lblTotalConf"), "-1");
    EXPECT_EQ(Text("lblPct2"), "%");
    legend.SetTotalValues(3000000, 96);
    EXPECT_EQ(Text("lblTotalItems"), "3000000");
    EXPECT_EQ(Label("lblClasses")->palette().color(QPalette::WindowText), QColor(192, 0, 192));
    Screenshot(legend, "legend_strip");
}

TEST_F(LegendTest, SettingsFromCodeRaiseNothing) {
    legend.SetColorItems(0);
    legend.SetContrast(0);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(legend.ColorItems(), 0);
    EXPECT_EQ(Slider()->value(), 100);
    legend.SetContrast(100);
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_EQ(legend.Contrast(), 100);
    legend.SetColorItems(1);
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(Slider()->isEnabled());
    EXPECT_EQ(ContrastCaption(), QColor(Qt::black));
}

TEST_F(LegendTest, TheUsersChoicesRaiseOneChangeEach) {
    legend.SetContrast(30);
    // By the option and by its caption.
    Option(0)->click();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_pair(int16_t(0), int16_t(30)));
    ClickLabel("lblConfidence");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1], std::make_pair(int16_t(1), int16_t(30)));
    // Clicking the option already chosen raises nothing more.
    Option(1)->click();
    EXPECT_EQ(changes.size(), 2u);

    // The slider reports with the current mode.
    Slider()->setValue(90);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[2], std::make_pair(int16_t(1), int16_t(10)));

    // Classes: the slider is withdrawn and reports nothing.
    ClickLabel("lblClasses");
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[3].first, 2);
    EXPECT_FALSE(Slider()->isEnabled());
    Slider()->setValue(20);
    EXPECT_EQ(changes.size(), 4u);
}

TEST_F(LegendTest, WithdrawingTheColourChoice) {
    legend.SetColorEnabled(false);
    EXPECT_FALSE(legend.ColorEnabled());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Option(i)->isEnabled());
    EXPECT_FALSE(Slider()->isEnabled());
    EXPECT_NE(ContrastCaption(), QColor(Qt::black));
    ClickLabel("lblQuantity");
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(legend.ColorItems(), 2);

    // The mode alone decides the slider, even with the options withdrawn.
    legend.SetColorItems(0);
    EXPECT_TRUE(Slider()->isEnabled());
    EXPECT_EQ(ContrastCaption(), QColor(Qt::black));
    EXPECT_FALSE(Option(0)->isEnabled());

    // Offered again with Classes chosen: options on, slider still off.
    legend.SetColorItems(2);
    legend.SetColorEnabled(true);
    EXPECT_TRUE(Option(0)->isEnabled());
    EXPECT_FALSE(Slider()->isEnabled());
    EXPECT_NE(ContrastCaption(), QColor(Qt::black));
    EXPECT_TRUE(changes.empty());
}

// The colour choice answers for itself, also inside a host that is disabled
// for a while, as the main window's frame is during a command.
TEST(Legend, TheColourChoiceIsItsOwnInADisabledHost) {
    WithApp app;
    QWidget host;
    auto* legend = new UChartReport(&host);
    host.setEnabled(false);
    legend->SetColorEnabled(true);
    EXPECT_TRUE(legend->ColorEnabled());
    legend->SetColorEnabled(false);
    EXPECT_FALSE(legend->ColorEnabled());
}
