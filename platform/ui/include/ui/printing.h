// Printing helpers. A printer is a real device or a PDF file; tests redirect the
// default printer to a PDF file and inspect the pages.
#pragma once

#include <QImage>
#include <QString>

#include <memory>

class QPainter;
class QPrinter;

namespace ui {

// Redirects DefaultPrinter() to a PDF file ("" restores the real default printer).
void SetPrintToFile(const QString& pdfPath);

// The default printer, or a PDF printer on the redirected file.
std::unique_ptr<QPrinter> DefaultPrinter();

// Whether a PDF file was written to its end: its last cross-reference is where
// its trailer says. A printer reports no failed write; a cut file fails this.
bool PdfComplete(const QString& path);

// Draws the image on the painter's current page, scaled to fit the page rectangle
// with its aspect ratio kept, centred. False for a null image.
bool DrawImageFitted(QPainter& painter, const QRect& page, const QImage& image);

}  // namespace ui
