// A printer (real or PDF) as a draw target. The printer is not owned.
#pragma once

#include <QPainter>

#include "ui/DrawTarget.h"

class QPrinter;

namespace ui {

class PrinterTarget : public DrawTarget {
public:
    explicit PrinterTarget(QPrinter& printer) : mPrinter(printer) {}
    ~PrinterTarget() override;

    int DpiX() const override;
    int DpiY() const override;
    QSize PageSize() const override;
    QPainter* Painter() override { return mPainter.isActive() ? &mPainter : nullptr; }

protected:
    bool BeginDocument(const QString& name) override;
    bool NextPage() override;
    void EndDocument() override;

private:
    QPrinter& mPrinter;
    QPainter mPainter;
};

}  // namespace ui
