#include "ui/PrinterTarget.h"

#include <QPrinter>

namespace ui {

PrinterTarget::~PrinterTarget() {
    if (mPainter.isActive()) mPainter.end();
}

int PrinterTarget::DpiX() const { return mPrinter.logicalDpiX(); }
int PrinterTarget::DpiY() const { return mPrinter.logicalDpiY(); }

QSize PrinterTarget::PageSize() const {
    return mPrinter.pageLayout().paintRectPixels(mPrinter.resolution()).size();
}

bool PrinterTarget::BeginDocument(const QString& name) {
    if (mPrinter.docName().isEmpty()) mPrinter.setDocName(name);
    return mPainter.begin(&mPrinter);
}

bool PrinterTarget::NextPage() { return mPrinter.newPage(); }

void PrinterTarget::EndDocument() { mPainter.end(); }

}  // namespace ui
