// Pictures of the graphics table: reading picture files into an entry, and
// drawing an entry's picture into a rectangle. Bitmaps are kept as packed
// device-independent bitmaps (info header, colour table, bits), metafiles as
// their records from the metafile header on; both exactly as a graph file holds them.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <map>

#include "CGraphic.h"

class QPainter;

namespace nodars {

// The images decoded from one picture's bytes: expanding a bitmap can cost far
// more than its bytes (a few kilobytes of runs may declare 128 MB of pixels), so
// it is done at the first paint only.
class CPictureCache {
public:
    // Whether the cache was made from these bytes of this type.
    bool Fits(int16_t type, const std::vector<uint8_t>& data) const {
        return type == mType && data.data() == mData && data.size() == mSize;
    }
    void Reset(int16_t type, const std::vector<uint8_t>& data);

    bool bitmapDecoded = false;
    QImage bitmap;  // a bitmap picture; null when its bytes are not a bitmap
    // A metafile's bitmap records by their offset in its bytes, up to kRecordBytes in all.
    std::map<size_t, QImage> records;
    size_t recordBytes = 0;
    static constexpr size_t kRecordBytes = size_t(1) << 27;

private:
    int16_t mType = 0;
    const uint8_t* mData = nullptr;
    size_t mSize = 0;
};

class CPicture {
public:
    // Reads a .bmp or .dib file into g (type 1); false and type 0 when the file
    // is missing or its sizes do not fit its length.
    static bool ReadBitmapFile(const QString& path, CGraphic& g);
    // Reads a placeable .wmf file into g (type 2). On failure g gets type 0 and
    // *error the message to show.
    static bool ReadMetafile(const QString& path, CGraphic& g, QString* error);
    // A packed bitmap as an image with every pixel defined: values beyond its
    // colour table black, pixels its bits lack 0. A null image when the bytes
    // are not a bitmap with a core header (12 bytes) or one of 40 or more bytes.
    static QImage BitmapImage(const uint8_t* data, size_t size);
    // Draws the picture stretched into target (device units). Nothing for an
    // empty target or an entry without a picture. What it decodes is kept in
    // g.Decoded for the next paints.
    static void Draw(QPainter& painter, const CGraphic& g, const QRect& target);
    // The cache of g, made anew when g's type or bytes are not the ones it was made from.
    static CPictureCache& CacheOf(const CGraphic& g);
    // The name the import dialog proposes for a picture file: the file name up
    // to its first ".", each word capitalised after a blank or "_".
    static QString NameFromPath(const QString& path);
};

}  // namespace nodars
