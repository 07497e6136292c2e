// Pictures of the graphics table: reading picture files into an entry, and
// drawing an entry's picture into a rectangle. Bitmaps are kept as packed
// device-independent bitmaps (info header, colour table, bits), metafiles as
// their records from the metafile header on; both exactly as a graph file holds them.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include "CGraphic.h"

class QPainter;

namespace nodars {

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
    // empty target or an entry without a picture.
    static void Draw(QPainter& painter, const CGraphic& g, const QRect& target);
    // The name the import dialog proposes for a picture file: the file name up
    // to its first ".", each word capitalised after a blank or "_".
    static QString NameFromPath(const QString& path);
};

}  // namespace nodars
