// Plays the records of a metafile into a rectangle of a painter: the window
// origin and extent (the picture's bounds until a record sets them) map onto
// the target. Pens, brushes and fonts, lines, shapes, polygons, text and
// stretched bitmaps are drawn; other records are skipped. Every record is
// checked against the bytes it claims, so damaged pictures draw what they can.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QBrush>
#include <QRect>
#include <cstdint>
#include <vector>

#include "GraphGeometry.h"

class QPainter;
class QPolygon;

namespace nodars {

class ByteReader;
class CPictureCache;

class CMetafilePlayer {
public:
    // Bitmap records decoded once are kept in cache, when there is one.
    CMetafilePlayer(const std::vector<uint8_t>& bits, const GRect& bounds, CPictureCache* cache = nullptr)
        : mBits(bits), mBounds(bounds), mCache(cache) {}
    // The number of records drawn or applied (unknown ones are not counted).
    int Play(QPainter& painter, const QRect& target);

private:
    struct Object {
        enum Kind { None, Pen, Brush, Font } kind = None;
        QPen pen;
        QBrush brush;
        QFont font;
        int height = 0;  // font height in logical units
    };
    struct State {
        int32_t orgX = 0, orgY = 0, extX = 1, extY = 1;
        QPen pen;
        QBrush brush;
        QFont font;
        int fontHeight = 12;
        QColor textColor = Qt::black;
        QColor backColor = Qt::white;
        bool opaque = true;
        uint16_t textAlign = 0;
        Qt::FillRule fill = Qt::OddEvenFill;
        QPoint current;
    };
    QPoint Map(int32_t x, int32_t y) const;
    int ScaleY(int32_t h) const;
    QRect Box(int16_t l, int16_t t, int16_t r, int16_t b) const;
    bool PlayRecord(QPainter& p, uint16_t fn, ByteReader& a);
    void SetState(uint16_t fn, ByteReader& a);
    Object PenOf(ByteReader& a) const;
    static Object BrushOf(ByteReader& a);
    static Object FontOf(ByteReader& a);
    void AddObject(const Object& o);
    void SelectObject(ByteReader& a);
    void UseShapeTools(QPainter& p) const;
    void DrawShape(QPainter& p, uint16_t fn, ByteReader& a);
    void DrawArc(QPainter& p, uint16_t fn, ByteReader& a);
    bool ReadPoints(ByteReader& a, int16_t n, QPolygon& poly) const;
    void DrawPolygon(QPainter& p, uint16_t fn, ByteReader& a);
    void DrawPolyPolygon(QPainter& p, ByteReader& a);
    void DrawTextRecord(QPainter& p, uint16_t fn, ByteReader& a);
    void DrawText(QPainter& p, int16_t x, int16_t y, const QString& text);
    QImage RecordImage(const ByteReader& a);
    void DrawBitmap(QPainter& p, uint16_t fn, ByteReader& a);

    const std::vector<uint8_t>& mBits;
    GRect mBounds;
    CPictureCache* mCache;
    QRect mTarget;
    State mState;
    std::vector<Object> mObjects;  // pens, brushes and fonts made; None: a free place
    std::vector<State> mSaved;     // by SaveDC, for RestoreDC
};

}  // namespace nodars
