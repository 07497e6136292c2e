#include "PlaceholderSetLimits.h"

#include "PlaceholderLook.h"

PlaceholderSetLimits::PlaceholderSetLimits(QWidget* parent) : base::ISetLimitsPanel(parent) {
    PlaceholderLook::Decorate(this, QStringLiteral("Row Selection"));
}

int32_t PlaceholderSetLimits::TrainLow() const {
    return trainLow;
}

int32_t PlaceholderSetLimits::TrainHigh() const {
    return trainHigh;
}

int32_t PlaceholderSetLimits::TestLow() const {
    return testLow;
}

int32_t PlaceholderSetLimits::TestHigh() const {
    return testHigh;
}

int32_t PlaceholderSetLimits::RecordCount() const {
    return recordCount;
}

void PlaceholderSetLimits::Initialize(int32_t rc, int32_t tl, int32_t th, int32_t sl, int32_t sh) {
    Record(QStringLiteral("Initialize(%1,%2,%3,%4,%5)").arg(rc).arg(tl).arg(th).arg(sl).arg(sh));
    recordCount = rc;
    trainLow = tl;
    trainHigh = th;
    testLow = sl;
    testHigh = sh;
    changed = false;
}

bool PlaceholderSetLimits::Changed() const {
    return changed;
}
