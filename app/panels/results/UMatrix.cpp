#include "UMatrix.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "CConfMat.h"
#include "CDataDef.h"
#include "CProject.h"
#include "MUtilities.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

// Halves go to the even neighbour.
int Round(double v) { return int(std::nearbyint(v)); }

const QColor kActualFill(0, 0, 255);
const QColor kActualText(192, 255, 255);
const QColor kPredictFill(0, 128, 0);
const QColor kPredictText(192, 255, 192);
const QColor kDiagonalFill(255, 255, 0);
const QColor kPlainFill(255, 255, 255);
const QColor kBlack(0, 0, 0);

QFont Arial(double points, bool bold = false) {
    QFont font("Arial");
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// A cell at (x, y): cw + 1 wide and 17 high, so neighbours share their border.
QRect Cell(int x, int y, int cw) { return QRect(x, y, cw + 1, 17); }

void DrawCell(QPainter& p, const QRect& r, const QColor& fill, const QString& text, const QColor& color) {
    p.setPen(QPen(kBlack, 1));
    p.setBrush(fill);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(color);
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text);
}

}  // namespace

UMatrix::UMatrix(QWidget* parent)
    : base::IMatrixPanel(parent), mFont(Arial(8)), mHBar(new QScrollBar(Qt::Horizontal, this)),
      mVBar(new QScrollBar(Qt::Vertical, this)) {
    mHBar->setObjectName("hscMain");
    mVBar->setObjectName("vscMain");
    for (QScrollBar* bar : {mHBar, mVBar}) {
        bar->hide();
        bar->setEnabled(false);
        connect(bar, &QScrollBar::valueChanged, this, &UMatrix::BarChanged);
    }
    setMouseTracking(true);
    setAutoFillBackground(true);
    setFont(mFont);
}

UMatrix::~UMatrix() = default;

void UMatrix::Intitalize(std::shared_ptr<CProject> project, std::shared_ptr<CDataDef> dataDefPtr, int32_t firstRow,
                         int32_t lastRow) {
    if (!project || !dataDefPtr) app::RaiseError(91);
    const CDataDef& dataDef = *dataDefPtr;
    mProject = std::move(project);
    // Blank until the new matrix is complete: a failure or a missing output
    // field never leaves the last project's matrix on show.
    mInitialized = false;
    mMatrix.reset();
    mHit = Hit{};
    for (QScrollBar* bar : {mHBar, mVBar}) {
        bar->hide();
        bar->setEnabled(false);
    }
    update();
    // The first output field, as the tree driver takes it.
    mOutputField = -1;
    for (int16_t i = 0; i < dataDef.FieldCount(); ++i) {
        if (dataDef.UserMatchType(i) == MatchType::Output) {
            mOutputField = i;
            mOutputName = QString::fromStdString(dataDef.FieldName(i));
            break;
        }
    }
    if (mOutputField < 0) return;
    LoadClassNames(*mProject);
    mFont = Arial(8);
    setFont(mFont);
    SetCellWidth();
    auto matrix = std::make_unique<CConfMat>();
    matrix->Initialize(*mProject, dataDef, firstRow, lastRow);
    mMatrix = std::move(matrix);
    mInitialized = true;
    ResizeRoutine();
}

void UMatrix::LoadClassNames(CProject& project) {
    DatabasePtr db = project.OpenProject(false);
    if (!db) app::RaiseError(91);
    auto rs = db->OpenRecordset("DValues_" + std::to_string(mOutputField), dao::RecordsetType::Snapshot);
    rs->MoveLast();
    rs->MoveFirst();
    const long n = rs->RecordCount();
    if (n > 32767) app::RaiseError(6);
    QStringList names;
    for (long i = 0; i <= n; ++i) names.append(QString());
    while (!rs->Eof()) {
        const long index = rs->Fields("ValueNum").AsLong();
        if (index < 1 || index > n) app::RaiseError(9);
        names[int(index)] = QString::fromStdString(rs->Fields("DValues").AsString());
        rs->MoveNext();
    }
    rs->Close();
    mClassNames = names;
    mClassCount = int16_t(n);
}

void UMatrix::SetCellWidth() {
    const QFontMetricsF metrics(mFont);
    int widest = 0;
    for (int i = 1; i < mClassNames.size(); ++i) widest = std::max(widest, Round(metrics.horizontalAdvance(mClassNames[i])));
    if (widest <= 60) {
        mCellWidth = 60;
    } else if (widest < 75) {
        mCellWidth = int16_t(widest);
    } else {
        mCellWidth = 75;
        for (int i = 1; i < mClassNames.size(); ++i)
            if (metrics.horizontalAdvance(mClassNames[i]) >= 75)
                mClassNames[i] = MUtilities::FitTextToWidth(mFont, mClassNames[i], 74);
    }
}

int32_t UMatrix::MissingRows() const { return mMatrix ? mMatrix->MissingRows() : 0; }
int32_t UMatrix::RecordCount() const { return mMatrix ? mMatrix->Total() : 0; }

int16_t UMatrix::VisibleCount(double clientSpan, double fixedSpan, double step, int16_t n) {
    int v = Round((clientSpan - fixedSpan) / step);
    v = std::min<int>(v, n);
    return int16_t(std::max(v, 1));
}

QString UMatrix::PercentText(float rate) { return QString::number(double(rate) * 100.0, 'f', 2) + "%"; }

QString UMatrix::PredictionLabel(QFont& font, int length, int* offset) {
    QString text = "PREDICTION";
    for (int px = QFontInfo(font).pixelSize(); px > kSmallestTurnedPixels &&
                                               QFontMetricsF(font).horizontalAdvance(text) >= length;)
        font.setPixelSize(--px);
    const QFontMetricsF metrics(font);
    *offset = Round((length - metrics.horizontalAdvance(text)) / 2.0);
    if (*offset < 0) {
        while (!text.isEmpty() && metrics.horizontalAdvance(text) >= length) text.chop(1);
        *offset = 1;
    }
    return text;
}

UMatrix::Layout UMatrix::CurrentLayout() const {
    Layout l;
    l.n = mClassCount;
    l.cw = mCellWidth;
    l.cols = VisibleCount(width(), 4.25 * l.cw, l.cw, l.n);
    l.rows = VisibleCount(height(), 144, 16, l.n);
    l.x0 = Round((width() - (l.W() + 3 * l.cw)) / 2.0);
    l.x1 = l.x0 + l.cw;
    l.xT = l.x1 + l.W();
    l.xE = l.xT + l.cw;
    l.y0 = Round((height() - (l.H() + 48)) / 2.0 + 16);
    l.y1 = l.y0 + 16;
    l.yT = l.y1 + l.H();
    l.yE = l.yT + 16;
    l.fc = mHBar->isEnabled() ? int16_t(mHBar->value()) : int16_t(1);
    l.fr = mVBar->isEnabled() ? int16_t(mVBar->value()) : int16_t(1);
    return l;
}

UMatrix::Hit UMatrix::HitTest(int x, int y) const {
    if (!mInitialized) return {};
    const Layout l = CurrentLayout();
    // A point on the far border line belongs to the last visible cell, never to
    // the class after it.
    auto column = [&] {
        const int c = int(std::floor(double(x - l.x1) / l.cw)) + l.fc;
        return int16_t(std::clamp(c, int(l.fc), l.fc + l.cols - 1));
    };
    auto row = [&] {
        const int r = int(std::floor(double(y - l.y1) / 16)) + l.fr;
        return int16_t(std::clamp(r, int(l.fr), l.fr + l.rows - 1));
    };
    if (y >= l.yT && y <= l.yT + 33 && x >= l.x1 && x <= l.xT) return {-1, column()};
    if (y >= l.y0 && y <= l.y1 && x >= l.x1 && x <= l.xT) return {-1, column()};
    if (y > l.y1 && y <= l.yT) {
        if (x >= l.x0 && x < l.x1) return {row(), -1};
        if (x >= l.x1 && x <= l.xT) return {row(), column()};
        if (x > l.xT && x <= l.xT + 2 * l.cw + 1) return {row(), -1};
    }
    return {};
}

QString UMatrix::TitleText() const { return "Confusion Matrix For: " + mOutputName; }

QString UMatrix::NoteText() const {
    const int32_t missing = MissingRows();
    if (missing == 0) return "(None of the test rows were skipped)";
    return "(" + QString::number(missing) + " test rows were skipped)";
}

// ---- layout and scroll bars

void UMatrix::ResizeRoutine() {
    if (!mInitialized || mInResize) return;
    mInResize = true;
    setUpdatesEnabled(false);
    base::RecordErrors("UMatrix::ResizeRoutine", [&] {
        const Layout l = CurrentLayout();
        SetUpBar(mHBar, l.cols);
        SetUpBar(mVBar, l.rows);
        PlaceBars(CurrentLayout());
    });
    setUpdatesEnabled(true);
    update();
    mInResize = false;
}

void UMatrix::SetUpBar(QScrollBar* bar, int16_t visible) {
    bar->hide();
    if (visible >= mClassCount) {
        bar->setEnabled(false);
        return;
    }
    // Every new layout starts again at class 1.
    mDrawing = true;
    bar->setRange(1, mClassCount - visible + 1);
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    bar->setValue(1);
    bar->setEnabled(true);
    mDrawing = false;
}

void UMatrix::PlaceBars(const Layout& l) {
    mDrawing = true;
    if (mHBar->isEnabled()) {
        mHBar->setGeometry(l.x1, l.yE + 17, l.W() + 1, mHBar->sizeHint().height());
        mHBar->show();
    }
    if (mVBar->isEnabled()) {
        mVBar->setGeometry(l.xE + l.cw + 1, l.y1, mVBar->sizeHint().width(), l.H() + 1);
        mVBar->show();
    }
    mDrawing = false;
}

void UMatrix::BarChanged() {
    if (!mDrawing) update();
}

void UMatrix::resizeEvent(QResizeEvent*) { ResizeRoutine(); }
void UMatrix::showEvent(QShowEvent*) { ResizeRoutine(); }

// ---- painting

void UMatrix::paintEvent(QPaintEvent*) {
    if (!mInitialized || !mMatrix) return;
    QPainter painter(this);
    const Layout l = CurrentLayout();
    DrawFrame(painter, l);
    DrawCells(painter, l);
    DrawTotals(painter, l);
}

void UMatrix::DrawFrame(QPainter& p, const Layout& l) {
    const char* where = "UMatrix::DrawFrame";  // a step that fails is skipped
    mDrawing = true;
    p.setFont(mFont);
    base::RecordErrors(where, [&] {
        for (int j = 0; j < l.cols; ++j)
            DrawCell(p, Cell(l.x1 + j * l.cw, l.y0, l.cw), kActualFill, mClassNames.value(l.fc + j), kActualText);
    });
    base::RecordErrors(where, [&] {
        for (int i = 0; i < l.rows; ++i)
            DrawCell(p, Cell(l.x0, l.y1 + 16 * i, l.cw), kPredictFill, mClassNames.value(l.fr + i), kPredictText);
    });
    base::RecordErrors(where, [&] {
        p.setFont(Arial(10, true));
        DrawCell(p, QRect(QPoint(l.x1, l.y0 - 20), QPoint(l.x1 + l.W(), l.y0 - 1)), kActualFill, "ACTUAL",
                 kActualText);
    });
    int titleLeft = 0, titleRight = 0;
    base::RecordErrors(where, [&] {
        const QFont font = Arial(12, true);
        p.setFont(font);
        const QFontMetricsF m(font);
        const QString title = TitleText();
        const int tw = Round(m.horizontalAdvance(title) + 1), th = Round(m.height() + 1);
        titleLeft = l.cols > 3 ? l.x1 : Round((width() - tw) / 2.0);
        titleRight = titleLeft + tw;
        const int top = Round((l.y0 - 36 - th) / 2.0);
        p.setPen(kBlack);
        p.drawText(QRect(titleLeft, top, tw, th), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title);
    });
    base::RecordErrors(where, [&] {
        p.setFont(mFont);
        const QFontMetricsF m(mFont);
        const QString note = NoteText();
        const int tw = Round(m.horizontalAdvance(note) + 1), th = Round(m.height() + 1);
        const int left = Round(titleLeft + (titleRight - titleLeft - tw) / 2.0);
        const int top = Round((l.y0 - 8 - th) / 2.0);
        p.setPen(kBlack);
        p.drawText(QRect(left, top, tw, th), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, note);
    });
    base::RecordErrors(where, [&] {
        // Measured in the font it is drawn with. Rows too few for the label:
        // the band reaches up into the free corner beside the column headings.
        QFont turned = Arial(8, true);
        const int whole = int(std::ceil(QFontMetricsF(turned).horizontalAdvance("PREDICTION"))) + 2;
        const int extra = std::clamp(whole - l.H(), 0, 36);
        const QRect band(QPoint(l.x0 - 20, l.y1 - extra), QPoint(l.x0, l.y1 + l.H()));
        p.setPen(QPen(kBlack, 1));
        p.setBrush(kPredictFill);
        p.drawRect(band.adjusted(0, 0, -1, -1));
        int offset = 0;
        const QString text = PredictionLabel(turned, l.H() + extra, &offset);
        p.save();
        p.setFont(turned);
        p.setPen(kPredictText);
        p.translate(band.left() + 2, band.bottom() + 1 - offset);
        p.rotate(-90);
        p.drawText(QPointF(0, QFontMetricsF(turned).ascent()), text);
        p.restore();
    });
    base::RecordErrors(where, [&] {
        p.setFont(Arial(8, true));
        p.setPen(kBlack);
        p.drawText(QRect(QPoint(l.x0 - 20, l.yT), QPoint(l.x1 - 1, l.yT + 16)), Qt::AlignCenter, "Actual Totals");
        p.drawText(QRect(QPoint(l.x0 - 20, l.yE), QPoint(l.x1 - 1, l.yE + 16)), Qt::AlignCenter, "Actual Error%");
    });
    base::RecordErrors(where, [&] {
        p.setFont(Arial(8, true));
        p.setPen(kBlack);
        p.drawText(QRect(QPoint(l.xT, l.y0 - 12), QPoint(l.xT + l.cw, l.y1 - 1)), Qt::AlignHCenter | Qt::AlignTop,
                   "Prediction\nTotals");
        p.drawText(QRect(QPoint(l.xE, l.y0 - 12), QPoint(l.xE + l.cw, l.y1 - 1)), Qt::AlignHCenter | Qt::AlignTop,
                   "Prediction\nError%");
    });
    p.setFont(mFont);
    mDrawing = false;
}

void UMatrix::DrawCells(QPainter& p, const Layout& l) {
    mDrawing = true;
    p.setFont(mFont);
    for (int i = 0; i < l.rows; ++i) {
        for (int j = 0; j < l.cols; ++j) {
            base::RecordErrors("UMatrix::DrawCells", [&] {
                const int16_t actual = int16_t(l.fc + j), predicted = int16_t(l.fr + i);
                DrawCell(p, Cell(l.x1 + j * l.cw, l.y1 + 16 * i, l.cw), actual == predicted ? kDiagonalFill : kPlainFill,
                         QString::number(mMatrix->Matrix(actual, predicted)), kBlack);
            });
        }
    }
    mDrawing = false;
}

void UMatrix::DrawTotals(QPainter& p, const Layout& l) {
    const char* where = "UMatrix::DrawTotals";  // a step that fails is skipped
    mDrawing = true;
    p.setFont(mFont);
    for (int j = 0; j < l.cols; ++j) {
        const int16_t a = int16_t(l.fc + j);
        const int x = l.x1 + j * l.cw;
        base::RecordErrors(where, [&] { DrawCell(p, Cell(x, l.yT, l.cw), kActualFill, QString::number(mMatrix->ActualTotals(a)), kActualText); });
        base::RecordErrors(where, [&] { DrawCell(p, Cell(x, l.yE, l.cw), kActualFill, PercentText(mMatrix->ActualError(a)), kActualText); });
    }
    for (int i = 0; i < l.rows; ++i) {
        const int16_t r = int16_t(l.fr + i);
        const int y = l.y1 + 16 * i;
        base::RecordErrors(where, [&] { DrawCell(p, Cell(l.xT, y, l.cw), kPredictFill, QString::number(mMatrix->PredictTotals(r)), kPredictText); });
        base::RecordErrors(where, [&] { DrawCell(p, Cell(l.xE, y, l.cw), kPredictFill, PercentText(mMatrix->PredictError(r)), kPredictText); });
    }
    base::RecordErrors(where, [&] { DrawCell(p, Cell(l.xT, l.yT, l.cw), kDiagonalFill, QString::number(mMatrix->Total()), kBlack); });
    base::RecordErrors(where, [&] { DrawCell(p, Cell(l.xE, l.yT, l.cw), kPredictFill, PercentText(mMatrix->TotalError()), kPredictText); });
    base::RecordErrors(where, [&] { DrawCell(p, Cell(l.xT, l.yE, l.cw), kActualFill, PercentText(mMatrix->TotalError()), kActualText); });
    mDrawing = false;
}

// ---- mouse

void UMatrix::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    mHit = HitTest(pos.x(), pos.y());
    mPressed = event->button() == Qt::LeftButton;
}

void UMatrix::mouseReleaseEvent(QMouseEvent* event) {
    if (!mPressed || event->button() != Qt::LeftButton) return;
    mPressed = false;
    ClickAction();
}

void UMatrix::mouseDoubleClickEvent(QMouseEvent* event) {
    // The double click acts once more, on top of its first click.
    if (event->button() != Qt::LeftButton) return;
    const QPoint pos = event->position().toPoint();
    mHit = HitTest(pos.x(), pos.y());
    ClickAction();
}

void UMatrix::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const Hit hit = HitTest(pos.x(), pos.y());
    setCursor(hit.row != 0 || hit.col != 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void UMatrix::ClickAction() {
    base::ShowErrors("UMatrix::UserControl_Click", [&] {
        const Hit h = mHit;
        if (!mMatrix || (h.row == 0 && h.col == 0)) return;
        if (h.row >= 1 && h.col >= 1) {
            if (mMatrix->Matrix(h.col, h.row) >= 1) emit ItemClick(h.col, h.row);
        } else if (h.row == -1) {
            if (mMatrix->ActualTotals(h.col) != 0) emit ItemClick(h.col, -1);
        } else if (h.col == -1) {
            if (mMatrix->PredictTotals(h.row) != 0) emit ItemClick(-1, h.row);
        }
    });
}
