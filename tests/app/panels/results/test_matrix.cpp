// The confusion-matrix view over a real project whose Test table the tests
// fill: layout, cell widths, scrolling, what is painted and what a click raises.
#include "UMatrix.h"

#include "AppErrors.h"
#include "PanelTestSupport.h"
#include "model_fixture.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QScrollBar>

#include <cmath>
#include <utility>
#include <vector>

using namespace paneltest;

namespace {

class MatrixTest : public ModelFixture {
protected:
    // A data table of rows with keys 1..count whose output field Out holds
    // the given values in turn.
    void MakeClasses(const std::vector<std::string>& values, int count) {
        std::vector<std::string> sql = {"CREATE TABLE Rows (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, Out Text(120));"};
        for (int id = 1; id <= count; ++id)
            sql.push_back("INSERT INTO Rows VALUES (" + std::to_string(id) + ", '" + values[(id - 1) % values.size()] +
                          "');");
        MakeData(sql);
        MakeProject("Rows", "Out");
    }
    void SetRow(int id, int actual, int predicted) {
        Exec("UPDATE Test SET Actual = " + std::to_string(actual) + ", Predicted = " + std::to_string(predicted) +
             " WHERE MainPrimaryKey = " + std::to_string(id) + ";");
    }
    void Show(int width, int height) {
        view.resize(width, height);
        view.show();
    }
    void Init(int first = 1, int last = 1000) { view.Intitalize(project, def, first, last); }
    // The events a click at a point raises.
    std::vector<std::pair<int, int>> ClickAt(int x, int y) {
        clicks.clear();
        Click(view, QPoint(x, y));
        return clicks;
    }
    std::vector<std::pair<int, int>> One(int a, int p) { return {{a, p}}; }
    QScrollBar* HBar() { return view.findChild<QScrollBar*>("hscMain"); }
    QScrollBar* VBar() { return view.findChild<QScrollBar*>("vscMain"); }
    QColor PixelAt(int x, int y) { return view.grab().toImage().pixelColor(x, y); }

    void SetUp() override {
        QObject::connect(&view, &UMatrix::ItemClick,
                         [this](int16_t actual, int16_t predicted) { clicks.emplace_back(actual, predicted); });
    }

    WithApp app;
    UMatrix view;
    std::vector<std::pair<int, int>> clicks;
};

// Three classes a, b, c over twelve rows; a few rows without a class.
class ThreeClassTest : public MatrixTest {
protected:
    void SetUp() override {
        MatrixTest::SetUp();
        MakeClasses({"a", "b", "c"}, 12);
        // (actual, predicted) by key.
        const int rows[12][2] = {{1, 1}, {1, 1}, {1, 1}, {1, 2}, {2, 2}, {2, -1},
                                 {1, 2}, {-1, 1}, {1, 2}, {2, 2}, {2, 1}, {2, 2}};
        for (int id = 1; id <= 12; ++id) SetRow(id, rows[id - 1][0], rows[id - 1][1]);
    }
};

}  // namespace

TEST_F(ThreeClassTest, ShortNamesInARoomyViewFitWithoutScrollBars) {
    Show(700, 500);
    Init();
    ASSERT_TRUE(view.Initialized());
    EXPECT_EQ(view.ClassNames().mid(1), QStringList({"a", "b", "c"}));
    EXPECT_EQ(view.CellWidth(), 60);
    const UMatrix::Layout l = view.CurrentLayout();
    EXPECT_EQ(l.cols, 3);
    EXPECT_EQ(l.rows, 3);
    EXPECT_FALSE(HBar()->isEnabled());
    EXPECT_FALSE(VBar()->isVisible());
    // Centred: the table with its heading and totals columns.
    EXPECT_EQ(l.x0, int(std::nearbyint((700 - (3 * 60 + 3 * 60)) / 2.0)));
    EXPECT_EQ(l.y0, int(std::nearbyint((500 - (48 + 48)) / 2.0 + 16)));
    EXPECT_EQ(view.TitleText(), "Confusion Matrix For: Out");
    EXPECT_EQ(view.NoteText(), "(2 test rows were skipped)");
    EXPECT_EQ(view.MissingRows(), 2);
    EXPECT_EQ(view.RecordCount(), 10);
    Screenshot(view, "confusion_matrix");
}

TEST_F(ThreeClassTest, FillsOfTheCells) {
    Show(700, 500);
    Init();
    const UMatrix::Layout l = view.CurrentLayout();
    auto centre = [&](int x, int y) { return PixelAt(x + l.cw / 2, y + 2); };
    EXPECT_EQ(centre(l.x1, l.y1), QColor(255, 255, 0));                // a, a: diagonal
    EXPECT_EQ(centre(l.x1 + l.cw, l.y1), QColor(255, 255, 255));       // actual b, predicted a
    EXPECT_EQ(centre(l.x1, l.y0), QColor(0, 0, 255));                  // column heading
    EXPECT_EQ(centre(l.x0, l.y1), QColor(0, 128, 0));                  // row heading
    EXPECT_EQ(centre(l.xT, l.yT), QColor(255, 255, 0));                // overall total
    EXPECT_EQ(centre(l.xE, l.yT), QColor(0, 128, 0));
    EXPECT_EQ(centre(l.xT, l.yE), QColor(0, 0, 255));
}

TEST_F(ThreeClassTest, ClicksRaiseTheClassesOfCellsThatHoldRows) {
    Show(700, 500);
    Init();
    const UMatrix::Layout l = view.CurrentLayout();
    const int mid = l.cw / 2;
    // Count cell: actual a, predicted a holds 3 rows.
    EXPECT_EQ(ClickAt(l.x1 + mid, l.y1 + 8), One(1, 1));
    // Actual a predicted b: 3 rows; actual b predicted a: 1.
    EXPECT_EQ(ClickAt(l.x1 + mid, l.y1 + 16 + 8), One(1, 2));
    EXPECT_EQ(ClickAt(l.x1 + l.cw + mid, l.y1 + 8), One(2, 1));
    // An empty count cell raises nothing.
    EXPECT_TRUE(ClickAt(l.x1 + 2 * l.cw + mid, l.y1 + 8).empty());
    // Column heading and both totals rows: the actual class.
    EXPECT_EQ(ClickAt(l.x1 + l.cw + mid, l.y0 + 8), One(2, -1));
    EXPECT_EQ(ClickAt(l.x1 + mid, l.yT + 8), One(1, -1));
    EXPECT_EQ(ClickAt(l.x1 + mid, l.yE + 8), One(1, -1));
    // Row heading and both totals columns: the predicted class.
    EXPECT_EQ(ClickAt(l.x0 + mid, l.y1 + 16 + 8), One(-1, 2));
    EXPECT_EQ(ClickAt(l.xT + mid, l.y1 + 8), One(-1, 1));
    EXPECT_EQ(ClickAt(l.xE + mid, l.y1 + 8), One(-1, 1));
    // Class c has no rows: its heading and totals raise nothing.
    EXPECT_TRUE(ClickAt(l.x1 + 2 * l.cw + mid, l.y0 + 8).empty());
    EXPECT_TRUE(ClickAt(l.x0 + mid, l.y1 + 32 + 8).empty());
    EXPECT_TRUE(ClickAt(l.x1 + 2 * l.cw + mid, l.yE + 8).empty());
    // Corners, title, labels and empty space raise nothing.
    EXPECT_TRUE(ClickAt(l.xT + mid, l.yT + 8).empty());
    EXPECT_TRUE(ClickAt(l.xE + mid, l.yE + 8).empty());
    EXPECT_TRUE(ClickAt(l.x0 - 10, l.y1 + 8).empty());
    EXPECT_TRUE(ClickAt(2, 2).empty());
    // A double click acts twice.
    clicks.clear();
    DoubleClick(view, QPoint(l.x1 + mid, l.y1 + 8));
    EXPECT_EQ(clicks, (std::vector<std::pair<int, int>>{{1, 1}, {1, 1}}));
    // The pointer shows where a click could act.
    Move(view, QPoint(l.x1 + mid, l.y1 + 8));
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);
    Move(view, QPoint(2, 2));
    EXPECT_EQ(view.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ThreeClassTest, TheFarBorderLinesBelongToTheLastCell) {
    Show(700, 500);
    Init();
    const UMatrix::Layout l = view.CurrentLayout();
    // X = xT: the right border of the last column, in every row kind.
    EXPECT_EQ(view.HitTest(l.xT, l.y0 + 8).col, 3);
    EXPECT_EQ(view.HitTest(l.xT, l.y1 + 8).col, 3);
    EXPECT_EQ(view.HitTest(l.xT, l.yT + 8).col, 3);
    // Y = yT: the bottom border of the last row, in the heading and totals columns.
    EXPECT_EQ(view.HitTest(l.x0 + 5, l.yT).row, 3);
    EXPECT_EQ(view.HitTest(l.xT + 5, l.yT).row, 3);
    EXPECT_EQ(view.HitTest(l.xE + 5, l.yT).row, 3);
    // Clicking there looks at class c, which has no rows, and fails nowhere.
    EXPECT_TRUE(ClickAt(l.xT, l.y0 + 8).empty());
    EXPECT_TRUE(ClickAt(l.x0 + 5, l.yT).empty());
    EXPECT_TRUE(dialogs.Messages().empty());
    // Class b as the last cell: the border gives b, never c.
    SetRow(3, 3, 3);
    Init();
    EXPECT_EQ(ClickAt(l.xT, l.y1 + 32 + 8), One(3, 3));
}

TEST_F(ThreeClassTest, WithoutAnOutputFieldTheViewStaysBlank) {
    Show(700, 500);
    Init();
    ASSERT_TRUE(view.Initialized());
    // Set up again without an output field: the old matrix goes.
    def->SetUserMatchType(FieldIndex("Out"), -1);
    Init();
    EXPECT_FALSE(view.Initialized());
    EXPECT_EQ(view.RecordCount(), 0);
    EXPECT_EQ(PixelAt(view.CurrentLayout().x1 + 5, view.CurrentLayout().y1 + 2), view.palette().color(QPalette::Window));
    EXPECT_TRUE(ClickAt(350, 250).empty());
    EXPECT_EQ(view.HitTest(350, 250).row, 0);
    // A missing value table reaches the caller and leaves the view blank.
    def->SetUserMatchType(FieldIndex("Out"), MatchType::Output);
    Init();
    Exec("DROP TABLE DValues_" + std::to_string(FieldIndex("Out")) + ";");
    EXPECT_ANY_THROW(Init());
    EXPECT_FALSE(view.Initialized());
    // No project: error 91 to the caller.
    try {
        view.Intitalize(nullptr, def, 1, 12);
        FAIL() << "no error";
    } catch (const app::RuntimeError& e) {
        EXPECT_EQ(e.Number(), 91);
    }
}

TEST_F(MatrixTest, TheFirstOutputFieldCounts) {
    // A damaged definition with two output fields: the first is the one.
    MakeData({"CREATE TABLE Rows (Id LONG CONSTRAINT PrimaryKey PRIMARY KEY, First Text(10), Out Text(10));",
              "INSERT INTO Rows VALUES (1, 'p', 'a');", "INSERT INTO Rows VALUES (2, 'q', 'b');",
              "INSERT INTO Rows VALUES (3, 'r', 'a');"});
    MakeProject("Rows", "Out");
    def->SetUserMatchType(FieldIndex("First"), MatchType::Output);
    Show(700, 500);
    Init();
    EXPECT_EQ(view.TitleText(), "Confusion Matrix For: First");
    EXPECT_EQ(view.ClassNames().mid(1), QStringList({"p", "q", "r"}));
}

TEST_F(ThreeClassTest, ARowRangeAndNoSkippedRows) {
    Show(700, 500);
    Init(1, 5);
    EXPECT_EQ(view.NoteText(), "(None of the test rows were skipped)");
    EXPECT_EQ(view.RecordCount(), 5);
}

TEST_F(MatrixTest, TenClassesPageThroughTheScrollBars) {
    std::vector<std::string> values;
    for (int i = 1; i <= 10; ++i) values.push_back(std::string("k") + char('a' + i - 1));
    MakeClasses(values, 30);
    for (int id = 1; id <= 30; ++id) SetRow(id, (id - 1) % 10 + 1, (id - 1) % 10 + 1);
    // Room for four columns ((495 - 4.25 * 60) / 60 = 4) and six rows ((240 - 144) / 16 = 6).
    Show(495, 240);
    Init();
    UMatrix::Layout l = view.CurrentLayout();
    EXPECT_EQ(l.cols, 4);
    EXPECT_EQ(l.rows, 6);
    ASSERT_TRUE(HBar()->isEnabled());
    EXPECT_EQ(HBar()->minimum(), 1);
    EXPECT_EQ(HBar()->maximum(), 7);
    EXPECT_EQ(HBar()->pageStep(), 4);
    EXPECT_EQ(VBar()->maximum(), 5);
    EXPECT_EQ(VBar()->pageStep(), 6);
    EXPECT_TRUE(HBar()->isVisible());

    HBar()->setValue(7);
    l = view.CurrentLayout();
    EXPECT_EQ(l.fc, 7);
    // The first visible column is class 7; its border still names the last visible class.
    EXPECT_EQ(view.HitTest(l.x1 + 5, l.y0 + 8).col, 7);
    EXPECT_EQ(view.HitTest(l.xT, l.y0 + 8).col, 10);
    // Row 7 is not on show with the vertical bar at 1: no yellow cell in the top row.
    for (int j = 0; j < l.cols; ++j)
        EXPECT_EQ(PixelAt(l.x1 + j * l.cw + l.cw / 2, l.y1 + 2), QColor(255, 255, 255)) << j;
    VBar()->setValue(5);  // rows 5..10: class 7 is the third row
    EXPECT_EQ(PixelAt(l.x1 + l.cw / 2, l.y1 + 32 + 2), QColor(255, 255, 0));
    EXPECT_EQ(PixelAt(l.x1 + l.cw + l.cw / 2, l.y1 + 32 + 2), QColor(255, 255, 255));
    EXPECT_EQ(ClickAt(l.x1 + 5, l.y1 + 32 + 8), One(7, 7));
    Screenshot(view, "confusion_matrix_scrolled");

    // A resize starts again at class 1.
    view.resize(500, 240);
    EXPECT_EQ(HBar()->value(), 1);
    EXPECT_EQ(view.CurrentLayout().fc, 1);
}

TEST_F(MatrixTest, ATinyViewStillLaysOutOneClass) {
    MakeClasses({"x", "y"}, 4);
    Show(40, 40);
    Init();
    const UMatrix::Layout l = view.CurrentLayout();
    EXPECT_EQ(l.cols, 1);
    EXPECT_EQ(l.rows, 1);
    EXPECT_EQ(HBar()->maximum(), 2);
}

TEST_F(MatrixTest, CellWidthFollowsTheWidestName) {
    QFont font("Arial");
    font.setPointSizeF(8);
    const QFontMetricsF metrics(font);
    // A name a little wider than 60 pixels.
    QString middle = "W";
    while (std::nearbyint(metrics.horizontalAdvance(middle)) <= 60) middle += "i";
    const int middleWidth = int(std::nearbyint(metrics.horizontalAdvance(middle)));
    ASSERT_LT(middleWidth, 75);

    MakeClasses({"a", middle.toStdString()}, 4);
    Show(700, 500);
    Init();
    EXPECT_EQ(view.CellWidth(), middleWidth);
    EXPECT_TRUE(view.ClassNames().contains(middle));
}

TEST_F(MatrixTest, AWideNameIsCutToTheWidestCell) {
    const std::string wide = "wwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww";
    MakeClasses({"a", wide}, 4);
    Show(700, 500);
    Init();
    EXPECT_EQ(view.CellWidth(), 75);
    QString shown;
    for (const QString& name : view.ClassNames())
        if (name.startsWith("ww")) shown = name;
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_LT(shown.size(), int(wide.size()));
    EXPECT_TRUE(QString::fromStdString(wide).startsWith(shown));
    QFont f("Arial");
    f.setPointSizeF(8);
    EXPECT_LT(QFontMetricsF(f).horizontalAdvance(shown), 75);
}

TEST_F(MatrixTest, AnEmptyTestTableIsAnEmptyMatrix) {
    MakeClasses({"a", "b"}, 4);
    Exec("DELETE FROM Test;");
    Show(700, 500);
    Init();
    ASSERT_TRUE(view.Initialized());
    EXPECT_EQ(view.RecordCount(), 0);
    EXPECT_EQ(view.NoteText(), "(None of the test rows were skipped)");
    const UMatrix::Layout l = view.CurrentLayout();
    EXPECT_TRUE(ClickAt(l.x1 + 5, l.y1 + 8).empty());
    EXPECT_TRUE(ClickAt(l.x1 + 5, l.y0 + 8).empty());
    EXPECT_TRUE(dialogs.Messages().empty());
}

TEST(MatrixFormat, PercentAndVisibleCounts) {
    EXPECT_EQ(UMatrix::PercentText(0.125f), "12.50%");
    EXPECT_EQ(UMatrix::PercentText(0.0f), "0.00%");
    EXPECT_EQ(UMatrix::PercentText(1.0f), "100.00%");
    // Rounded, then kept within 1..n.
    EXPECT_EQ(UMatrix::VisibleCount(495, 4.25 * 60, 60, 10), 4);
    EXPECT_EQ(UMatrix::VisibleCount(10, 4.25 * 60, 60, 10), 1);
    EXPECT_EQ(UMatrix::VisibleCount(5000, 144, 16, 10), 10);
}

TEST(MatrixFormat, ThePredictionLabelTakesASmallerFontBeforeItIsCut) {
    paneltest::App();
    QFont font("Arial");
    font.setPointSizeF(8);
    font.setBold(true);
    const QFont design = font;
    const double full = QFontMetricsF(font).horizontalAdvance("PREDICTION");
    int offset = -5;
    EXPECT_EQ(UMatrix::PredictionLabel(font, 160, &offset), "PREDICTION");
    EXPECT_EQ(font, design);
    EXPECT_EQ(offset, int(std::nearbyint((160 - full) / 2)));
    // A little short: whole, in a smaller face that fits.
    const int shorter = int(full * 0.85);
    EXPECT_EQ(UMatrix::PredictionLabel(font, shorter, &offset), "PREDICTION");
    EXPECT_LT(QFontInfo(font).pixelSize(), QFontInfo(design).pixelSize());
    EXPECT_LT(QFontMetricsF(font).horizontalAdvance("PREDICTION"), shorter);
    EXPECT_GE(offset, 0);
    // Far too short: the smallest face, cut to its longest beginning narrower
    // than the band, one pixel in.
    font = design;
    const QString cut = UMatrix::PredictionLabel(font, 20, &offset);
    EXPECT_EQ(QFontInfo(font).pixelSize(), UMatrix::kSmallestTurnedPixels);
    EXPECT_EQ(offset, 1);
    EXPECT_TRUE(QString("PREDICTION").startsWith(cut));
    EXPECT_LT(QFontMetricsF(font).horizontalAdvance(cut), 20);
    EXPECT_GE(QFontMetricsF(font).horizontalAdvance(QString("PREDICTION").left(cut.size() + 1)), 20);
}
