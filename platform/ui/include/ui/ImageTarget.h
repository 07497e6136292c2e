// Pages of images at a chosen resolution: a device that tests can read back.
// Drawing without a document goes onto the first page, as onto a memory bitmap.
#pragma once

#include <QImage>
#include <QPainter>
#include <vector>

#include "ui/DrawTarget.h"

namespace ui {

class ImageTarget : public DrawTarget {
public:
    ImageTarget(QSize pageSize, int dpi);
    ~ImageTarget() override;

    int DpiX() const override { return mDpi; }
    int DpiY() const override { return mDpi; }
    QSize PageSize() const override { return mSize; }
    QPainter* Painter() override;

    // The pages drawn so far (the painter is ended first).
    const std::vector<QImage>& Images();

protected:
    bool BeginDocument(const QString& name) override;
    bool NextPage() override;
    void EndDocument() override;

private:
    void AddPage();
    QSize mSize;
    int mDpi;
    std::vector<QImage> mImages;
    QPainter mPainter;
};

}  // namespace ui
