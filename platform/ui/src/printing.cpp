#include "ui/printing.h"

#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>

namespace ui {

namespace {
QString gPdfPath;
}

void SetPrintToFile(const QString& pdfPath) { gPdfPath = pdfPath; }

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

bool PdfComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 64) return false;
    if (!file.seek(file.size() - std::min<qint64>(file.size(), 1024))) return false;
    const QByteArray tail = file.readAll();
    const qsizetype mark = tail.lastIndexOf("startxref");
    if (mark < 0 || !tail.trimmed().endsWith("%%EOF")) return false;
    const QByteArray after = tail.mid(mark + 9);
    bool ok = false;
    const qint64 at = after.left(after.indexOf("%%EOF")).trimmed().toLongLong(&ok);
    if (!ok || at <= 0 || at >= file.size() - 4 || !file.seek(at)) return false;
    return file.read(4) == "xref";
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
