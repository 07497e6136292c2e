// The split frame: panes, switching, the slider's bounds and the stored split.
#include "ShellFixture.h"

#include <QTest>

using namespace shelltest;

namespace {

// A frame on a window of its own with four panels, two on each side of the slider.
class SplitFrame : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        holder = std::make_unique<QWidget>();
        QWidget& window = *holder;
        window.resize(800, 500);
        frame = new UAppFrame(&window);
        frame->setGeometry(0, 0, 800, 500);
        for (const char* name : {"pnlA", "pnlB", "pnlC", "pnlD"}) {
            auto* w = new QWidget(frame);
            w->setObjectName(name);
            const bool right = name[3] >= 'C';
            w->setGeometry(right ? 224 : 0, 0, 50, 50);
        }
        window.show();
        frame->AddItem("A", "Alpha", "PNLA");  // the name is found whatever its case
        frame->AddItem("B", "Beta", "pnlB");
        frame->AddItem("C", "Gamma", "pnlC");
        frame->AddItem("D", "Delta", "pnlD");
        connect = QObject::connect(frame, &UAppFrame::ItemSelected, [this](const QString& k) { selected << k; });
    }
    void TearDown() override {
        holder.reset();
        ShellTest::TearDown();
    }
    QWidget* Panel(const char* name) { return holder->findChild<QWidget*>(name); }
    void Drag(int from, int to) {
        QWidget* slider = frame->SliderWidget();
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(1, 100));
        QTest::mouseMove(slider, QPoint(1 + (to - from) / 2, 100));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(1 + to - from, 100));
    }
    std::unique_ptr<QWidget> holder;
    UAppFrame* frame = nullptr;
    QStringList selected;
    QMetaObject::Connection connect;
};

}  // namespace

TEST_F(SplitFrame, PanelsGoToThePaneOfTheirPlaceAndOnePerPaneShows) {
    ASSERT_EQ(frame->Items().size(), 4);
    EXPECT_FALSE(frame->Items()[0].Pane);
    EXPECT_FALSE(frame->Items()[1].Pane);
    EXPECT_TRUE(frame->Items()[2].Pane);  // at the slider's place: right
    for (const char* n : {"pnlA", "pnlB", "pnlC", "pnlD"}) EXPECT_FALSE(Panel(n)->isVisible()) << n;

    frame->SetActivePanel("A");
    frame->SetActivePanel("C");
    EXPECT_EQ(selected, (QStringList{"A", "C"}));
    EXPECT_TRUE(Panel("pnlA")->isVisible());
    EXPECT_TRUE(Panel("pnlC")->isVisible());
    EXPECT_EQ(Panel("pnlA")->geometry(), QRect(0, 23, 224, 500 - 23));
    EXPECT_EQ(Panel("pnlC")->geometry(), QRect(227, 23, 800 - 227, 500 - 23));
    EXPECT_EQ(frame->CaptionLeft(), "Alpha");
    EXPECT_EQ(frame->CaptionRight(), "Gamma");

    // The right pane changes alone; the active key again changes nothing.
    frame->SetActivePanel("D");
    EXPECT_FALSE(Panel("pnlC")->isVisible());
    EXPECT_TRUE(Panel("pnlA")->isVisible());
    frame->SetActivePanel("D");
    EXPECT_EQ(selected, (QStringList{"A", "C", "D"}));
    // A look-up ignores case, but the registered key becomes the active one.
    frame->SetActivePanel("b");
    EXPECT_EQ(frame->GetActiveKeyLeft(), "B");
    EXPECT_EQ(frame->GetActivePanelLeft()->Title, "Beta");

    frame->SetActivePanel("");
    EXPECT_EQ(frame->GetActiveKeyLeft(), "");
    EXPECT_EQ(frame->GetActiveKeyRight(), "");
    EXPECT_EQ(frame->CaptionLeft(), "");
    EXPECT_EQ(frame->CaptionRight(), "");
    EXPECT_FALSE(Panel("pnlB")->isVisible());
    EXPECT_FALSE(Panel("pnlD")->isVisible());
    EXPECT_EQ(selected.size(), 4);
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST_F(SplitFrame, UnknownControlsAndKeysAreReportedAndChangeNothing) {
    frame->SetActivePanel("A");
    frame->AddItem("E", "Epsilon", "pnlNone");
    frame->AddItem("A", "Again", "pnlB");
    frame->SetActivePanel("Nope");
    const auto boxes = dialogs.Messages();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].title, "UAppFrame::AddItem");
    EXPECT_EQ(boxes[0].text, "Error: 1. \nThe control 'pnlNone' does not exist.");
    EXPECT_EQ(boxes[1].title, "UAppFrame::AddItem");
    EXPECT_EQ(boxes[2].title, "UAppFrame::SetActivePanel");
    EXPECT_EQ(frame->Items().size(), 4);
    EXPECT_EQ(frame->GetActiveKeyLeft(), "A");
}

TEST_F(SplitFrame, TheSliderIsHeldInsideTheFrame) {
    frame->SetActivePanel("A");
    Drag(224, -50);  // beyond the left edge
    EXPECT_EQ(frame->SplitPixels(), 0);
    frame->SetSplitPosition(224 * 15);
    Drag(224, 5);
    EXPECT_EQ(frame->SplitPixels(), 20);
    frame->SetSplitPosition(224 * 15);
    Drag(224, 795);
    EXPECT_EQ(frame->SplitPixels(), 800 - 29);
    EXPECT_EQ(Panel("pnlA")->width(), 800 - 29);
    frame->SetSplitPosition(224 * 15);
    Drag(224, 300);
    EXPECT_EQ(frame->SplitPosition(), 300 * 15);
    EXPECT_EQ(Panel("pnlA")->width(), 300);
}

TEST_F(SplitFrame, AFrameNarrowerThanTheSliderMovesNothing) {
    frame->SetActivePanel("C");
    const QRect before = Panel("pnlC")->geometry();
    frame->resize(150, 500);
    EXPECT_EQ(Panel("pnlC")->geometry(), before);
}

TEST_F(ShellTest, TheSplitIsStoredOnCloseAndRestoredHeldToTheFrame) {
    ASSERT_TRUE(Start());
    Main().Frame()->SetSplitPosition(310 * 15);
    Main().close();
    EXPECT_EQ(Reg("Window", "SplitPosition"), "4650");
    ASSERT_TRUE(Start());
    EXPECT_EQ(Main().Frame()->SplitPosition(), 310 * 15);
    app.reset();
    // Wider than the frame, and beyond 16 bits: held to the frame instead of stopping every layout.
    SetReg("Window", "SplitPosition", "600000");
    ASSERT_TRUE(Start());
    EXPECT_EQ(Main().Frame()->SplitPixels(), Main().width() - 29);
    Main().Frame()->SetActivePanel("DataGrid");
    EXPECT_GT(Grid().width(), 0);
    app.reset();
    SetReg("Window", "SplitPosition", "-40");
    ASSERT_TRUE(Start());
    EXPECT_EQ(Main().Frame()->SplitPixels(), 20);
}

TEST_F(ShellTest, AStoredWindowOffTheScreenIsBroughtBack) {
    SetReg("Window", "FMainLeft", "150000");
    SetReg("Window", "FMainTop", "-90000");
    SetReg("Window", "FMainWidth", "0");
    SetReg("Window", "FMainHeight", "3000");
    ASSERT_TRUE(Start());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect g = Main().geometry();
    // The window system may add its frame around the place given.
    EXPECT_TRUE(screen.contains(g.topLeft())) << g.x() << "," << g.y();
    EXPECT_LE(g.width(), screen.width());
    EXPECT_LT(g.left(), 10);
    EXPECT_GT(Main().width(), 0);
    EXPECT_EQ(Main().height(), 200);
}
