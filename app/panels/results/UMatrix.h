// The confusion-matrix view: a painted grid of the test rows by actual class
// (columns) and predicted class (rows), with class headings, totals, error
// rates and scroll bars that page through the classes when they do not fit.
// A click on a part that stands for at least one row raises ItemClick.
// All geometry is in pixels.
#pragma once

#include "IMatrixPanel.h"

#include <QFont>
#include <QStringList>

#include <cstdint>
#include <memory>

class CConfMat;
class CDataDef;
class CProject;
class QScrollBar;

class UMatrix : public base::IMatrixPanel {
    Q_OBJECT
public:
    explicit UMatrix(QWidget* parent = nullptr);
    ~UMatrix() override;

    // Reads the class names of the first output field and counts the test rows
    // firstRow..lastRow (positions in Test, from 1). Without a project, error
    // 91; without an output field the view stays blank. Database errors reach
    // the caller.
    void Intitalize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDef, int32_t firstRow,
                    int32_t lastRow) override;
    int32_t MissingRows() const override;
    int32_t RecordCount() const override;  // the rows the totals count

    // Where everything is for the current size and scroll positions.
    struct Layout {
        int16_t n = 0;       // classes
        int16_t cw = 60;     // cell width
        int16_t cols = 1;    // visible class columns
        int16_t rows = 1;    // visible class rows
        int16_t fc = 1;      // first visible actual class
        int16_t fr = 1;      // first visible predicted class
        int x0 = 0, x1 = 0, xT = 0, xE = 0;
        int y0 = 0, y1 = 0, yT = 0, yE = 0;
        int W() const { return cols * cw; }
        int H() const { return 16 * rows; }
    };
    // The cell under a point: class numbers, -1 for a totals row or column,
    // 0, 0 for none.
    struct Hit {
        int16_t row = 0;
        int16_t col = 0;
    };
    bool Initialized() const { return mInitialized; }
    Layout CurrentLayout() const;
    Hit HitTest(int x, int y) const;
    int16_t CellWidth() const { return mCellWidth; }
    // Display names of classes 1..n (index 0 unused).
    const QStringList& ClassNames() const { return mClassNames; }
    QString NoteText() const;
    QString TitleText() const;

    static int16_t VisibleCount(double clientSpan, double fixedSpan, double step, int16_t n);
    static QString PercentText(float rate);
    // The turned "PREDICTION" label along a band of this length, measured in the
    // font it is drawn with. A label too long takes a smaller font (down to
    // kSmallestTurnedPixels, font comes back changed) and only below that is cut
    // to fit (offset 1); otherwise it is centred (offset).
    static QString PredictionLabel(QFont& font, int length, int* offset);
    static constexpr int kSmallestTurnedPixels = 7;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void LoadClassNames(CProject& project);
    void SetCellWidth();
    void ResizeRoutine();
    void SetUpBar(QScrollBar* bar, int16_t visible);
    void PlaceBars(const Layout& l);
    void DrawFrame(QPainter& painter, const Layout& l);
    void DrawCells(QPainter& painter, const Layout& l);
    void DrawTotals(QPainter& painter, const Layout& l);
    void ClickAction();
    void BarChanged();

    std::shared_ptr<CProject> mProject;
    std::unique_ptr<CConfMat> mMatrix;
    int16_t mOutputField = -1;
    QString mOutputName;
    QStringList mClassNames;
    int16_t mClassCount = 0;
    int16_t mCellWidth = 60;
    QFont mFont;
    bool mInitialized = false;
    bool mDrawing = false;
    bool mInResize = false;
    bool mPressed = false;
    Hit mHit;
    QScrollBar* mHBar;
    QScrollBar* mVBar;
};
