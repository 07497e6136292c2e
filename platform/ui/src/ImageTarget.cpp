#include "ui/ImageTarget.h"

namespace ui {

ImageTarget::ImageTarget(QSize pageSize, int dpi) : mSize(pageSize), mDpi(dpi) {}

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
    if (!mPainter.isActive()) {
        if (mImages.empty()) {
            AddPage();
        } else {
            mPainter.begin(&mImages.back());
        }
    }
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
