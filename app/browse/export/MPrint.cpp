#include "MPrint.h"

#include "AppErrors.h"
#include "CHourglass.h"
#include "FPrint.h"

#include "com/dispatch.h"
#include "nodars/Nodars32.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QPointer>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPicture>
#include <QPrinter>
#include <QWidget>

#include <cmath>

namespace MPrint {

namespace {

int16_t GetI2(IDispatch* chart, DISPID id) {
    com::Variant v;
    if (FAILED(com::PropertyGet(chart, id, &v))) app::RaiseError(438);
    return v.ToI2();
}

void PutI4(IDispatch* chart, DISPID id, const com::Variant& value) {
    if (FAILED(com::PropertyPut(chart, id, value))) app::RaiseError(438);
}

// Puts the control back as it was: scale, selection, size.
class ChartState {
public:
    ChartState(IDispatch* chart, nodars::IControlHosting* hosting)
        : mChart(chart), mHosting(hosting), mSelected(GetI2(chart, nodars::dispidSelectedIndex)) {
        if (QWidget* w = hosting->Widget()) mGeometry = w->geometry();
        // No scroll bars on paper.
        if (auto* area = qobject_cast<QAbstractScrollArea*>(hosting->Widget())) {
            mArea = area;
            mHorizontal = area->horizontalScrollBarPolicy();
            mVertical = area->verticalScrollBarPolicy();
            area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        }
    }
    ~ChartState() {
        if (mArea) {
            mArea->setHorizontalScrollBarPolicy(mHorizontal);
            mArea->setVerticalScrollBarPolicy(mVertical);
        }
        mHosting->SetBounds(mGeometry.x(), mGeometry.y(), mGeometry.width(), mGeometry.height());
        com::PropertyPut(mChart, nodars::dispidSelectedIndex, com::Variant::I2(mSelected));
    }
    ChartState(const ChartState&) = delete;
    ChartState& operator=(const ChartState&) = delete;

private:
    IDispatch* mChart;
    nodars::IControlHosting* mHosting;
    int16_t mSelected;
    QRect mGeometry;
    QPointer<QAbstractScrollArea> mArea;
    Qt::ScrollBarPolicy mHorizontal = Qt::ScrollBarAsNeeded, mVertical = Qt::ScrollBarAsNeeded;
};

int32_t MulDiv(int32_t a, int32_t b, int32_t c) { return c ? int32_t(int64_t(a) * b / c) : -1; }

}  // namespace

int16_t TiledZoom(int32_t horzRes, int32_t dpiX, int16_t pages, int16_t leaves) {
    if (dpiX == 0 || leaves == 0) app::RaiseError(11);
    const float inches = float(double(horzRes) / double(dpiX) - 1.2);
    const float zoom = inches * float(pages) / (float(leaves) * 1.46875f) * 100.0f;
    if (!std::isfinite(zoom)) app::RaiseError(6);
    const double rounded = std::nearbyint(double(zoom));  // half to even
    // 0 would mean "fit to the control" and a negative scale draws nothing.
    if (rounded < 1 || rounded > 32767) app::RaiseError(6);
    return int16_t(rounded);
}

int PrintChart(IDispatch* chart, QPrinter& printer) {
    com::ComPtr<nodars::IControlHosting> hosting;
    com::ComPtr<nodars::IGraphGeometry> geometry;
    if (FAILED(chart->QueryInterface(nodars::IID_IControlHosting, hosting.PutVoid())) ||
        FAILED(chart->QueryInterface(nodars::IID_IGraphGeometry, geometry.PutVoid())) || !hosting->Widget())
        app::RaiseError(438);
    QWidget* widget = hosting->Widget();
    ChartState state(chart, hosting.Get());
    PutI4(chart, nodars::dispidSelectedIndex, com::Variant::I2(-1));  // no selection marks on paper

    // The control drawn whole: sized to hold the drawing at its scale.
    int32_t bounds[4] = {};
    geometry->GetBounds(nodars::IGraphGeometry::kDrawingBounds, bounds);
    const int16_t scale = GetI2(chart, nodars::dispidDrawScale);
    const int32_t margin = 16;
    const int32_t width = MulDiv(bounds[2] - bounds[0], scale, 100) + 2 * margin;
    const int32_t height = MulDiv(bounds[3] - bounds[1], scale, 100) + 2 * margin;
    hosting->SetBounds(0, 0, std::max(width, 1), std::max(height, 1));
    widget->grab(QRect(0, 0, 1, 1));  // lets the control place its view for this size

    // Where the drawing landed on the control.
    int32_t num = 1, den = 1, hs = 0, vs = 0, view[4] = {};
    geometry->GetView(&num, &den, &hs, &vs);
    geometry->GetBounds(nodars::IGraphGeometry::kViewRect, view);
    const QRect drawing(QPoint(MulDiv(bounds[0] - view[0], num, den) - hs, MulDiv(bounds[1] - view[1], num, den) - vs),
                        QPoint(MulDiv(bounds[2] - view[0], num, den) - hs, MulDiv(bounds[3] - view[1], num, den) - vs));

    printer.setDocName(QStringLiteral("Tessary Flow Chart"));
    QPainter painter;
    if (!painter.begin(&printer)) throw app::RuntimeError(482, "Printer error");
    const QRect paper = printer.pageLayout().paintRectPixels(printer.resolution());
    const int dpiX = printer.logicalDpiX(), dpiY = printer.logicalDpiY();
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(std::max(dpiY / 6, 1));
    const QFontMetrics metrics(font, &printer);
    const int mw = metrics.horizontalAdvance(QLatin1Char('M')), mh = metrics.height();
    const QRect page(dpiX / 2, dpiY / 2 + 2 * mh, paper.width() - dpiX, paper.height() - dpiY - 4 * mh);
    if (page.width() <= mw || page.height() <= 2 * mh) {
        painter.end();
        throw app::RuntimeError(482, "The page is too small to print on.");
    }

    // One screen pixel prints at its own physical size.
    const double k = double(dpiX) / double(std::max(widget->logicalDpiX(), 1));
    const double chartW = drawing.width() * k, chartH = drawing.height() * k;
    const int nx = std::max(1, int(std::ceil(chartW / (page.width() - mw))));
    const int ny = std::max(1, int(std::ceil(chartH / (page.height() - 2 * mh))));
    for (int r = 0; r < ny; ++r) {
        for (int c = 0; c < nx; ++c) {
            if (r || c) printer.newPage();
            const double x = nx == 1 ? (page.width() - chartW) / 2 : -double(c) * (page.width() - mw);
            const double y = ny == 1 ? (page.height() - chartH) / 2 : -double(r) * (page.height() - mh);
            // The part of the drawing this page shows, in the control's pixels.
            const QRectF seen(drawing.left() - x / k, drawing.top() - y / k, page.width() / k, page.height() / k);
            const QRect source = seen.intersected(QRectF(drawing)).toAlignedRect() & drawing;
            if (source.isEmpty()) continue;
            // Recorded as drawing commands, so the page stays vector; the
            // recording is clipped to the part of the control it covers.
            QPicture picture;
            widget->render(&picture, QPoint(), QRegion(source), QWidget::DrawChildren);
            painter.save();
            painter.translate(page.left() + x, page.top() + y);
            painter.scale(k, k);
            painter.translate(-drawing.topLeft());
            // A picture scales itself from its own resolution to the printer's.
            painter.translate(source.topLeft());
            painter.scale(double(picture.logicalDpiX()) / dpiX, double(picture.logicalDpiY()) / dpiY);
            painter.drawPicture(0, 0, picture);
            painter.restore();
        }
    }
    painter.end();
    return nx * ny;
}

void PrintTiled(IDispatch* chart, int16_t leaves, QWidget* owner) {
    int16_t saved = 0;
    bool scaled = false;
    try {
        CHourglass busy;
        busy.SetValue(false);  // the normal pointer while the dialog is open
        FPrint dialog(owner);
        dialog.exec();
        busy.SetValue(true);
        if (dialog.Canceled() || !dialog.Printer()) return;
        QPrinter& printer = *dialog.Printer();
        const int16_t pages = std::max<int16_t>(dialog.TiledPages(), 1);
        const int32_t horzRes = printer.pageLayout().paintRectPixels(printer.resolution()).width();
        const int16_t zoom = TiledZoom(horzRes, printer.logicalDpiX(), pages, leaves);
        if (!chart) app::RaiseError(91);
        saved = GetI2(chart, nodars::dispidDrawScale);
        PutI4(chart, nodars::dispidDrawScale, com::Variant::I2(zoom));
        scaled = true;
        PutI4(chart, nodars::dispidPrintToDC, com::Variant::I4(0));
        PrintChart(chart, printer);
        PutI4(chart, nodars::dispidDrawScale, com::Variant::I2(saved));
    } catch (...) {
        if (scaled) com::PropertyPut(chart, nodars::dispidDrawScale, com::Variant::I2(saved));
        app::ShowCurrentError("MTessary::PrintTiled");
    }
}

}  // namespace MPrint
