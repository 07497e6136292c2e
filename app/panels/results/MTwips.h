// Design places are in twips; widgets are placed in pixels (15 twips each).
#pragma once

#include "MUtilities.h"

#include <QRect>

#include <cmath>

namespace MTwips {

inline int ToPixels(double twips) { return int(std::lround(twips / MUtilities::TwipsPerPixel)); }

inline QRect Place(int left, int top, int width, int height) {
    return QRect(ToPixels(left), ToPixels(top), ToPixels(width), ToPixels(height));
}

}  // namespace MTwips
