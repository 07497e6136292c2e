#include "CPicture.h"

#include <QFile>
#include <QPainter>

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
}

}  // namespace

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
    ByteReader r(data, size);
    const uint32_t headerSize = r.U32();
    r.pos = 14;
    const uint16_t bitCount = r.U16();
    const uint32_t compression = r.U32();
    r.pos = 32;
    const uint32_t used = r.U32();
    if (!r.ok || headerSize < 12 || headerSize > size) return QImage();
    uint64_t colours = used;
    if (used == 0 && bitCount <= 8) colours = uint64_t(1) << bitCount;
    if (used == 0 && compression == 3 && headerSize == 40) colours = 3;
    const uint64_t offset = 14 + uint64_t(headerSize) + 4 * colours;
    if (offset > 14 + uint64_t(size)) return QImage();
    // Pixels a damaged block lacks are zero: the reader would leave them as
    // whatever memory held, a different picture at every paint.
    uint64_t missing = 0;
    if (headerSize >= 40 && (compression == 0 || compression == 3)) {
        r.pos = 4;
        const int64_t width = r.I32(), height = r.I32();
        const uint64_t rows = uint64_t(height < 0 ? -height : height);
        const uint64_t stride = width > 0 && bitCount <= 32 ? (uint64_t(bitCount) * uint64_t(width) + 31) / 32 * 4 : 0;
        const uint64_t pixels = stride * rows, have = 14 + uint64_t(size) - offset;
        if (r.ok && pixels > have && pixels < (uint64_t(1) << 31)) missing = pixels - have;
    }
    // A file header in front makes it a bitmap file again.
    ByteWriter w;
    w.Bytes(reinterpret_cast<const uint8_t*>("BM"), 2);
    w.I32(int32_t(14 + size + missing));
    w.I32(0);
    w.I32(int32_t(offset));
    w.Bytes(data, size);
    w.out.resize(w.out.size() + size_t(missing), 0);
    QImage image;
    image.loadFromData(w.out.data(), int(w.out.size()), "BMP");
    return image;
}

void CPicture::Draw(QPainter& painter, const CGraphic& g, const QRect& target) {
    if (target.width() == 0 || target.height() == 0 || g.Data.empty()) return;
    if (g.Type == 1) {
        const QImage image = BitmapImage(g.Data.data(), g.Data.size());
        if (!image.isNull()) painter.drawImage(target, image);
    } else if (g.Type == 2) {
        CMetafilePlayer(g.Data, g.Bounds).Play(painter, target);
    }
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
