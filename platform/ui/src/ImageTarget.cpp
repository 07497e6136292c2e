#include "ui/ImageTarget.h"

namespace ui {

// Like a memory bitmap, the first page is there before anything is drawn.
ImageTarget::ImageTarget(QSize pageSize, int dpi) : mSize(pageSize), mDpi(dpi) {
    AddPage();
    mPainter.end();
}

ImageTarget::~ImageTarget() {
    if (mPainter.isActive()) mPainter.end();
}

void ImageTarget::AddPage() {
    if (mPainter.isActive()) mPainter.end();
    QImage page(mSize, QImage::Format_RGB32);
    page.fill(Qt::white);
    const int dpm = int(mDpi / 0.0254 + 0.5);
    page.setDotsPerMeterX(dpm);
    page.setDotsPerMeterY(dpm);
    mImages.push_back(page);
    mPainter.begin(&mImages.back());
}

QPainter* ImageTarget::Painter() {
    if (!mPainter.isActive()) mPainter.begin(&mImages.back());
    return mPainter.isActive() ? &mPainter : nullptr;
}

const std::vector<QImage>& ImageTarget::Images() {
    if (mPainter.isActive()) mPainter.end();
    return mImages;
}

bool ImageTarget::BeginDocument(const QString&) {
    if (mPainter.isActive()) mPainter.end();
    mImages.clear();
    AddPage();
    return true;
}

bool ImageTarget::NextPage() {
    AddPage();
    return true;
}

void ImageTarget::EndDocument() {
    if (mPainter.isActive()) mPainter.end();
}

}  // namespace ui
