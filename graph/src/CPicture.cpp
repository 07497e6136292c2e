#include "CPicture.h"

#include <QFile>
#include <QPainter>
#include <algorithm>

#include "ByteIO.h"
#include "CMetafilePlayer.h"

namespace nodars {

namespace {

std::vector<uint8_t> ReadAll(const QString& path, bool* ok) {
    QFile f(path);
    *ok = f.open(QIODevice::ReadOnly);
    if (!*ok) return {};
    const QByteArray raw = f.readAll();
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

void Clear(CGraphic& g) {
    g.Type = 0;
    g.Data.clear();
    g.Decoded.cache.reset();
}

// Qt's reader refuses images above 128 MB, counted at 4 bytes a pixel whatever
// their depth: none that large is expanded first.
constexpr uint64_t kLargestImage = uint64_t(1) << 27;

// Appends run-length codes of `bits`-bit pixels to out as plain 8-bit rows of
// `stride` bytes, in the order the codes give them (the first row at the bottom
// unless the height says otherwise). As standard readers do, pixels follow one
// another through the whole image: a run or an absolute stretch longer than the
// row goes on into the next one, while an end of line or a delta moves from the
// row that the end-of-line and delta codes alone have reached. Pixels that no
// code reaches are 0; codes past the end of the image are dropped.
void ExpandRuns(const uint8_t* p, size_t n, int bits, uint64_t width, uint64_t rows, uint64_t stride,
                std::vector<uint8_t>& out) {
    const size_t base = out.size();
    out.resize(base + size_t(stride * rows), 0);
    const uint64_t total = width * rows;
    uint64_t at = 0, row = 0;  // at: pixels from the start of the image
    auto put = [&](uint8_t value) {
        if (at < total) out[base + size_t(at / width * stride + at % width)] = value;
        ++at;
    };
    auto pixel = [bits](uint8_t b, uint64_t k) { return bits == 8 ? b : uint8_t(k % 2 == 0 ? b >> 4 : b & 15); };
    for (size_t i = 0; i + 1 < n && at < total;) {
        const uint8_t count = p[i], code = p[i + 1];
        i += 2;
        if (count > 0) {  // a run: count pixels from one byte
            for (uint64_t k = 0; k < count; ++k) put(pixel(code, k));
        } else if (code == 0) {  // end of line
            at = ++row * width;
        } else if (code == 1) {  // end of bitmap
            break;
        } else if (code == 2) {  // delta: right and up
            if (i + 1 >= n) break;
            at += p[i] + uint64_t(p[i + 1]) * width;
            row += p[i + 1];
            i += 2;
        } else {  // absolute: code pixels as they are, padded to a whole word
            const size_t bytes = bits == 8 ? code : (code + 1) / 2;
            for (size_t k = 0; k < code && i + k * size_t(bits) / 8 < n; ++k)
                put(pixel(p[i + k * size_t(bits) / 8], k));
            i += (bytes + 1) & ~size_t(1);
        }
    }
}

// A bitmap with the 12-byte core header (16-bit width and height, always bottom
// up; 1, 4, 8 or 24 bits; a full table of 3-byte entries; no compression) as the
// same bitmap with the 40-byte header and 4-byte entries. False when the header
// is not one or its colour table is cut short.
bool WidenCoreHeader(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    ByteReader r(data, size);
    r.Skip(4);
    const uint16_t width = r.U16(), height = r.U16();
    r.Skip(2);
    const uint16_t bitCount = r.U16();
    if (!r.ok || (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)) return false;
    const size_t colours = bitCount <= 8 ? size_t(1) << bitCount : 0;
    const size_t bitsAt = 12 + 3 * colours;
    if (bitsAt > size) return false;
    ByteWriter w;
    w.out.reserve(40 + 4 * colours + (size - bitsAt));
    w.I32(40);
    w.I32(width);
    w.I32(height);
    w.I16(1);
    w.I16(bitCount);
    for (int32_t v : {0, 0, 0, 0, int32_t(colours), 0}) w.I32(v);  // no compression, sizes, resolution, colours
    for (size_t i = 0; i < colours; ++i) {
        w.Bytes(data + 12 + 3 * i, 3);
        w.out.push_back(0);
    }
    w.Bytes(data + bitsAt, size - bitsAt);
    out = std::move(w.out);
    return true;
}

}  // namespace

void CPictureCache::Reset(int16_t type, const std::vector<uint8_t>& data) {
    *this = CPictureCache();
    mType = type;
    mData = data.data();
    mSize = data.size();
}

bool CPicture::ReadBitmapFile(const QString& path, CGraphic& g) {
    Clear(g);
    bool opened = false;
    const std::vector<uint8_t> file = ReadAll(path, &opened);
    ByteReader r(file);
    r.Skip(10);
    const uint32_t bitsOffset = r.U32();
    const uint32_t headerSize = r.U32();
    const int32_t width = r.I32();
    const int32_t height = r.I32();
    r.Skip(2);
    const uint16_t bitCount = r.U16();
    const uint32_t compression = r.U32();
    const uint32_t imageSizeField = r.U32();
    r.Skip(8);
    uint32_t used = r.U32();
    if (!r.ok || headerSize < 40 || headerSize > 124 || width <= 0 || height == 0 || bitCount == 0 || bitCount > 32)
        return false;
    // A colour table only where pixels index one; bit fields carry three masks.
    uint64_t colours = used;
    if (used == 0 && bitCount <= 8) colours = uint64_t(1) << bitCount;
    if (used == 0 && compression == 3 && headerSize == 40) colours = 3;
    if (colours > 256 && bitCount <= 8) return false;
    const uint64_t rows = uint64_t(height < 0 ? -int64_t(height) : height);
    uint64_t imageSize = imageSizeField;
    if (imageSize == 0) imageSize = ((uint64_t(bitCount) * uint64_t(width) + 31) / 8 & ~uint64_t(3)) * rows;
    const uint64_t tableEnd = 14 + uint64_t(headerSize) + 4 * colours;
    const uint64_t bitsAt = bitsOffset != 0 ? bitsOffset : tableEnd;
    if (tableEnd > file.size() || bitsAt + imageSize > file.size()) return false;

    std::vector<uint8_t> block(file.begin() + 14, file.begin() + ptrdiff_t(tableEnd));
    if (used == 0 && bitCount <= 8) {  // the header now counts its table
        const uint32_t n = uint32_t(colours);
        for (int i = 0; i < 4; ++i) block[32 + size_t(i)] = uint8_t(n >> (8 * i));
    }
    block.insert(block.end(), file.begin() + ptrdiff_t(bitsAt), file.begin() + ptrdiff_t(bitsAt + imageSize));
    g.Type = 1;
    g.Bounds = {0, 0, width, int32_t(rows)};
    g.Data = std::move(block);
    return true;
}

bool CPicture::ReadMetafile(const QString& path, CGraphic& g, QString* error) {
    Clear(g);
    bool opened = false;
    const std::vector<uint8_t> file = ReadAll(path, &opened);
    ByteReader r(file);
    const uint32_t key = r.U32();
    if (!r.Need(18) || key != 0x9AC6CDD7u) {
        *error = QStringLiteral("Unable to read placeable header");
        return false;
    }
    r.pos = 6;
    GRect bounds;
    bounds.left = r.I16();
    bounds.top = r.I16();
    bounds.right = r.I16();
    bounds.bottom = r.I16();
    r.pos = 22;
    if (!r.Need(18)) {
        *error = QStringLiteral("Unable to read metafile header");
        return false;
    }
    r.pos = 22 + 6;
    const uint64_t bytes = uint64_t(r.U32()) * 2;
    if (bytes < 18 || 22 + bytes > file.size()) {
        *error = QStringLiteral("Unable to read metafile bits");
        return false;
    }
    g.Type = 2;
    g.Bounds = bounds;
    g.Data.assign(file.begin() + 22, file.begin() + 22 + ptrdiff_t(bytes));
    return true;
}

QImage CPicture::BitmapImage(const uint8_t* data, size_t size) {
    std::vector<uint8_t> widened;
    if (size >= 4 && data[0] == 12 && data[1] == 0 && data[2] == 0 && data[3] == 0) {
        if (!WidenCoreHeader(data, size, widened)) return QImage();
        data = widened.data();
        size = widened.size();
    }
    ByteReader r(data, size);
    const uint32_t headerSize = r.U32();
    const int32_t width = r.I32(), height = r.I32();
    r.Skip(2);
    const uint16_t bitCount = r.U16();
    const uint32_t compression = r.U32();
    r.pos = 32;
    const uint32_t used = r.U32();
    // Coded runs: 8-bit codes for 8-bit pixels, 4-bit codes for 4-bit pixels.
    const bool runs = (compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4);
    if (!r.ok || headerSize < 40 || headerSize > size || width <= 0 || height == 0 || bitCount == 0 || bitCount > 32 ||
        (compression != 0 && compression != 3 && !runs))
        return QImage();
    uint64_t colours = used;
    if (used == 0 && bitCount <= 8) colours = uint64_t(1) << bitCount;
    if (used == 0 && compression == 3 && headerSize == 40) colours = 3;
    const uint64_t bitsAt = uint64_t(headerSize) + 4 * colours;
    if (bitsAt > size) return QImage();
    const uint64_t rows = uint64_t(height < 0 ? -int64_t(height) : height);
    const uint16_t outBits = runs ? 8 : bitCount;
    const uint64_t stride = (uint64_t(outBits) * uint64_t(width) + 31) / 32 * 4;
    if (uint64_t(width) * rows * 4 > kLargestImage) return QImage();

    // Qt's reader leaves unset what the block does not define (pixel values
    // beyond a short colour table, rows cut short, pixels no run reaches): a
    // different picture at every paint. So it gets a block that defines every
    // pixel: a whole colour table, black beyond the block's own entries; runs
    // laid out as plain rows; missing rows zero. A file header in front makes
    // it a bitmap file again.
    const uint64_t table = outBits <= 8 ? uint64_t(1) << outBits : colours;
    const uint64_t bitsOut = 14 + uint64_t(headerSize) + 4 * table;
    ByteWriter w;
    w.out.reserve(size_t(bitsOut + std::max(stride * rows, size - bitsAt)));
    w.Bytes(reinterpret_cast<const uint8_t*>("BM"), 2);
    w.I32(0);  // the file's size, below
    w.I32(0);
    w.I32(int32_t(bitsOut));
    w.Bytes(data, headerSize);
    auto put32 = [&w](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) w.out[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    w.out[14 + 14] = uint8_t(outBits);
    w.out[14 + 15] = 0;
    put32(14 + 16, runs ? 0 : compression);
    put32(14 + 20, uint32_t(stride * rows));
    if (outBits <= 8) put32(14 + 32, uint32_t(table));
    w.Bytes(data + headerSize, size_t(std::min(table, colours) * 4));
    w.out.resize(size_t(bitsOut), 0);
    if (runs) {
        ExpandRuns(data + bitsAt, size - size_t(bitsAt), bitCount, uint64_t(width), rows, stride, w.out);
    } else {
        w.Bytes(data + bitsAt, size - size_t(bitsAt));
        if (w.out.size() < bitsOut + stride * rows) w.out.resize(size_t(bitsOut + stride * rows), 0);
    }
    put32(2, uint32_t(w.out.size()));
    QImage image;
    image.loadFromData(w.out.data(), int(w.out.size()), "BMP");
    return image;
}

void CPicture::Draw(QPainter& painter, const CGraphic& g, const QRect& target) {
    if (target.width() == 0 || target.height() == 0 || g.Data.empty()) return;
    if (g.Type == 1) {
        CPictureCache& cache = CacheOf(g);
        if (!cache.bitmapDecoded) {
            cache.bitmap = BitmapImage(g.Data.data(), g.Data.size());
            cache.bitmapDecoded = true;
        }
        if (!cache.bitmap.isNull()) painter.drawImage(target, cache.bitmap);
    } else if (g.Type == 2) {
        CMetafilePlayer(g.Data, g.Bounds, &CacheOf(g)).Play(painter, target);
    }
}

CPictureCache& CPicture::CacheOf(const CGraphic& g) {
    std::shared_ptr<CPictureCache>& cache = g.Decoded.cache;
    if (!cache) cache = std::make_shared<CPictureCache>();
    if (!cache->Fits(g.Type, g.Data)) cache->Reset(g.Type, g.Data);
    return *cache;
}

QString CPicture::NameFromPath(const QString& path) {
    int start = 0;
    for (int i = 0; i < path.size(); ++i)
        if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':') start = i + 1;
    QString name = path.mid(start);
    const int dot = name.indexOf(u'.');
    if (dot >= 0) name.truncate(dot);
    bool up = true;
    for (QChar& ch : name) {
        ch = up ? ch.toUpper() : ch.toLower();
        up = ch == u' ' || ch == u'_';
    }
    return name;
}

}  // namespace nodars
