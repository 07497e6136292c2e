#include "MPrint.h"

#include "AppErrors.h"
#include "ErrorGuard.h"
#include "CHourglass.h"
#include "CSafeFile.h"
#include "FPrint.h"
#include "MExport.h"

#include "ui/dialogs.h"

#include "com/dispatch.h"
#include "nodars/Nodars32.h"

#include "ui/HandleTable.h"
#include "ui/PrinterTarget.h"
#include "ui/printing.h"

#include <QPageLayout>
#include <QPrinter>

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
    PutI4(chart, nodars::dispidPrintToDC, com::Variant::I4(0));
    ui::PrinterTarget target(printer);
    ui::ScopedTargetHandle handle(&target);
    // The control's own document joins this one: one job, named by the program.
    if (!target.StartDoc(QStringLiteral("Tessary Flow Chart"))) throw app::RuntimeError(482, "Printer error");
    PutI4(chart, nodars::dispidPrintGraph, com::Variant::I4(int32_t(handle.Handle())));
    const int pages = target.Pages();
    target.EndDoc();
    return pages;
}

bool PrintAside(QPrinter& printer, const CSafeFile::Check& check, const std::function<void()>& print) {
    const QString file = printer.outputFileName();
    if (file.isEmpty()) {
        print();
        return true;
    }
    CSafeFile pdf(file.toStdString(), check);
    printer.setOutputFileName(QString::fromStdString(pdf.TempPath()));
    struct Restore {
        QPrinter& printer;
        QString file;
        ~Restore() { printer.setOutputFileName(file); }
    } restore{printer, file};
    print();
    if (!ui::PdfComplete(QString::fromStdString(pdf.TempPath()))) pdf.Unfinished();
    return pdf.Commit();
}

bool PrintTiled(IDispatch* chart, int16_t leaves, QWidget* owner, CProject* project) {
    int16_t saved = 0;
    bool scaled = false;
    try {
        CHourglass busy;
        busy.SetValue(false);  // the normal pointer while the dialog is open
        FPrint dialog(owner);
        dialog.exec();
        busy.SetValue(true);
        if (dialog.Canceled() || !dialog.Printer()) return false;
        QPrinter& printer = *dialog.Printer();
        const QString file = printer.outputFileName();
        const QString title = QStringLiteral("Print Flow Chart");
        // A file is printed aside and checked again before it takes its place.
        if (!file.isEmpty() && !MExport::MayWrite(project, file.toStdString(), title)) return false;
        const int16_t pages = std::max<int16_t>(dialog.TiledPages(), 1);
        const int32_t horzRes = printer.pageLayout().paintRectPixels(printer.resolution()).width();
        const int16_t zoom = TiledZoom(horzRes, printer.logicalDpiX(), pages, leaves);
        if (!chart) app::RaiseError(91);
        saved = GetI2(chart, nodars::dispidDrawScale);
        PutI4(chart, nodars::dispidDrawScale, com::Variant::I2(zoom));
        scaled = true;
        const bool printed =
            PrintAside(printer, MExport::WriteCheck(project, title), [&] { PrintChart(chart, printer); });
        PutI4(chart, nodars::dispidDrawScale, com::Variant::I2(saved));
        return printed;
    } catch (...) {
        // The chart gets its scale back before the box.
        if (scaled) com::PropertyPut(chart, nodars::dispidDrawScale, com::Variant::I2(saved));
        base::ShowCaught("MTessary::PrintTiled");
        return false;
    }
}

}  // namespace MPrint
