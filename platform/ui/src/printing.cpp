#include "ui/printing.h"

#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace ui {

namespace {
QString gPdfPath;
}

void SetPrintToFile(const QString& pdfPath) { gPdfPath = pdfPath; }
QString PrintToFile() { return gPdfPath; }

std::unique_ptr<QPrinter> DefaultPrinter() {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!gPdfPath.isEmpty()) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(gPdfPath);
    } else {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (!info.isNull()) printer->setPrinterName(info.printerName());
    }
    return printer;
}

bool DrawImageFitted(QPainter& painter, const QRect& page, const QImage& image) {
    if (image.isNull() || page.isEmpty()) return false;
    const QSize size = image.size().scaled(page.size(), Qt::KeepAspectRatio);
    const QRect target(page.x() + (page.width() - size.width()) / 2, page.y() + (page.height() - size.height()) / 2,
                       size.width(), size.height());
    painter.drawImage(target, image);
    return true;
}

}  // namespace ui
