// One entry of the graphics table: a picture kept as the bytes it was loaded from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GraphGeometry.h"

namespace nodars {

class CPictureCache;

// Holds a picture's decoded images. A copy of the picture starts without them:
// its bytes are its own, and it decodes them at its own first paint.
class CPictureCacheSlot {
public:
    CPictureCacheSlot() = default;
    CPictureCacheSlot(const CPictureCacheSlot&) {}
    CPictureCacheSlot& operator=(const CPictureCacheSlot&) {
        cache.reset();
        return *this;
    }
    CPictureCacheSlot(CPictureCacheSlot&&) noexcept = default;
    CPictureCacheSlot& operator=(CPictureCacheSlot&&) noexcept = default;

    std::shared_ptr<CPictureCache> cache;
};

class CGraphic {
public:
    static constexpr const char16_t* kPlaceholderName = u"<No Graphic>";

    static CGraphic Placeholder() {
        CGraphic g;
        g.Name = kPlaceholderName;
        g.DesignTime = 1;
        return g;
    }
    bool IsPlaceholder() const { return Type == 0 && DesignTime == 1 && Name == kPlaceholderName; }

    int16_t Type = 0;        // 0 no picture, 1 device-independent bitmap, 2 metafile
    int16_t DesignTime = 0;  // 1: kept by Clear
    std::u16string Name;
    GRect Bounds;
    std::vector<uint8_t> Data;  // the picture bytes; Size is their count
    // What drawing decoded from Data, made at the first paint and kept for the
    // next ones; dropped wherever Type or Data change.
    mutable CPictureCacheSlot Decoded;
};

}  // namespace nodars
