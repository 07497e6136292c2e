#include "CMetafilePlayer.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <QPainter>
#include <QPolygon>

#include "ByteIO.h"
#include "CPicture.h"

namespace nodars {

namespace {

// The functions of the records that are played: the state, the objects, then drawing.
// clang-format off
enum Record : uint16_t {
    kSetWindowOrg = 0x020B, kSetWindowExt = 0x020C, kSetTextColor = 0x0209, kSetBkColor = 0x0201,
    kSetBkMode = 0x0102, kSetPolyFillMode = 0x0106, kSetTextAlign = 0x012E, kSaveDC = 0x001E, kRestoreDC = 0x0127,
    kCreatePenIndirect = 0x02FA, kCreateBrushIndirect = 0x02FC, kCreateFontIndirect = 0x02FB,
    kSelectObject = 0x012D, kDeleteObject = 0x01F0,
    kMoveTo = 0x0214, kLineTo = 0x0213, kRectangle = 0x041B, kEllipse = 0x0418, kRoundRect = 0x061C,
    kArc = 0x0817, kPie = 0x081A, kChord = 0x0830, kPolygon = 0x0324, kPolyline = 0x0325, kPolyPolygon = 0x0538,
    kTextOut = 0x0521, kExtTextOut = 0x0A32, kDibStretchBlt = 0x0B41, kStretchDib = 0x0F43,
};
// clang-format on

QColor Colour(uint32_t ref) { return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF)); }

QString Narrow(const uint8_t* p, size_t n) {
    QString s;
    for (size_t i = 0; i < n; ++i) s.append(QChar(Cp1252ToWide(p[i])));
    return s;
}

}  // namespace

QPoint CMetafilePlayer::Map(int32_t x, int32_t y) const {
    const State& s = mState;
    return QPoint(mTarget.left() + int(int64_t(x - s.orgX) * mTarget.width() / s.extX),
                  mTarget.top() + int(int64_t(y - s.orgY) * mTarget.height() / s.extY));
}

int CMetafilePlayer::ScaleY(int32_t h) const { return int(int64_t(h) * mTarget.height() / mState.extY); }

// The box of a shape from its corners, the right and bottom edges left out.
QRect CMetafilePlayer::Box(int16_t l, int16_t t, int16_t r, int16_t b) const {
    return QRect(Map(l, t), Map(r, b) - QPoint(1, 1)).normalized();
}

int CMetafilePlayer::Play(QPainter& p, const QRect& target) {
    mTarget = target;
    mState = State();
    mState.orgX = mBounds.left;
    mState.orgY = mBounds.top;
    mState.extX = mBounds.Width() != 0 ? mBounds.Width() : 1;
    mState.extY = mBounds.Height() != 0 ? mBounds.Height() : 1;
    mState.pen = QPen(Qt::black, 0);
    mState.brush = QBrush(Qt::white);
    mObjects.clear();
    mSaved.clear();

    ByteReader header(mBits);
    header.Skip(2);
    const size_t start = size_t(header.U16()) * 2;
    if (!header.ok || start < 18 || start > mBits.size()) return 0;

    p.save();
    p.setClipRect(target, Qt::IntersectClip);
    int played = 0;
    size_t pos = start;
    while (pos + 6 <= mBits.size()) {
        ByteReader rec(mBits.data() + pos, mBits.size() - pos);
        const uint64_t words = rec.U32();
        const uint16_t fn = rec.U16();
        if (fn == 0 || words < 3 || words * 2 > mBits.size() - pos) break;
        ByteReader args(mBits.data() + pos + 6, size_t(words * 2 - 6));
        pos += size_t(words * 2);
        if (PlayRecord(p, fn, args)) ++played;
    }
    p.restore();
    return played;
}

// One record with its arguments; false for a function that is not played.
bool CMetafilePlayer::PlayRecord(QPainter& p, uint16_t fn, ByteReader& a) {
    switch (fn) {
    case kSetWindowOrg:
    case kSetWindowExt:
    case kSetTextColor:
    case kSetBkColor:
    case kSetBkMode:
    case kSetPolyFillMode:
    case kSetTextAlign:
    case kSaveDC:
    case kRestoreDC: SetState(fn, a); return true;
    case kCreatePenIndirect: AddObject(PenOf(a)); return true;
    case kCreateBrushIndirect: AddObject(BrushOf(a)); return true;
    case kCreateFontIndirect: AddObject(FontOf(a)); return true;
    case kSelectObject: SelectObject(a); return true;
    case kDeleteObject: {
        const uint16_t ix = a.U16();
        if (a.ok && ix < mObjects.size()) mObjects[ix] = Object();
        return true;
    }
    case kMoveTo:
        mState.current.setY(a.I16());
        mState.current.setX(a.I16());
        return true;
    case kLineTo: {
        const int16_t y = a.I16(), x = a.I16();
        if (!a.ok) return true;
        p.setPen(mState.pen);
        p.drawLine(Map(mState.current.x(), mState.current.y()), Map(x, y));
        mState.current = QPoint(x, y);
        return true;
    }
    case kRectangle:
    case kEllipse:
    case kRoundRect: DrawShape(p, fn, a); return true;
    case kArc:
    case kPie:
    case kChord: DrawArc(p, fn, a); return true;
    case kPolygon:
    case kPolyline: DrawPolygon(p, fn, a); return true;
    case kPolyPolygon: DrawPolyPolygon(p, a); return true;
    case kTextOut:
    case kExtTextOut: DrawTextRecord(p, fn, a); return true;
    case kDibStretchBlt:
    case kStretchDib: DrawBitmap(p, fn, a); return true;
    default: return false;
    }
}

// Records that change the state alone: the window, colours and modes, and the saved
// states.
void CMetafilePlayer::SetState(uint16_t fn, ByteReader& a) {
    State& s = mState;
    switch (fn) {
    case kSetWindowOrg:
        s.orgY = a.I16();
        s.orgX = a.I16();
        break;
    case kSetWindowExt: {
        const int16_t y = a.I16(), x = a.I16();
        if (a.ok && x != 0 && y != 0) {
            s.extX = x;
            s.extY = y;
        }
        break;
    }
    case kSetTextColor: s.textColor = Colour(a.U32()); break;
    case kSetBkColor: s.backColor = Colour(a.U32()); break;
    case kSetBkMode: s.opaque = a.I16() == 2; break;
    case kSetPolyFillMode: s.fill = a.I16() == 2 ? Qt::WindingFill : Qt::OddEvenFill; break;
    case kSetTextAlign: s.textAlign = a.U16(); break;
    case kSaveDC: mSaved.push_back(s); break;
    case kRestoreDC:
        if (!mSaved.empty()) {
            s = mSaved.back();
            mSaved.pop_back();
        }
        break;
    default: break;
    }
}

// A pen's width is in logical units across the window.
CMetafilePlayer::Object CMetafilePlayer::PenOf(ByteReader& a) const {
    const uint16_t style = a.U16();
    const int16_t width = a.I16();
    a.Skip(2);
    const QColor c = Colour(a.U32());
    Object o;
    o.kind = Object::Pen;
    const int w = std::max(0, int(int64_t(width) * mTarget.width() / std::max(1, std::abs(mState.extX))));
    o.pen = (style & 0xF) == 5 ? QPen(Qt::NoPen) : QPen(c, w);
    if ((style & 0xF) == 1) o.pen.setStyle(Qt::DashLine);
    if ((style & 0xF) == 2) o.pen.setStyle(Qt::DotLine);
    return o;
}

CMetafilePlayer::Object CMetafilePlayer::BrushOf(ByteReader& a) {
    const uint16_t style = a.U16();
    const QColor c = Colour(a.U32());
    Object o;
    o.kind = Object::Brush;
    o.brush = style == 1 ? QBrush(Qt::NoBrush) : QBrush(c);
    return o;
}

CMetafilePlayer::Object CMetafilePlayer::FontOf(ByteReader& a) {
    Object o;
    o.kind = Object::Font;
    o.height = std::abs(a.I16());
    a.Skip(6);
    const int16_t weight = a.I16();
    const bool italic = a.U8() != 0;
    const bool underline = a.U8() != 0;
    const bool strike = a.U8() != 0;
    a.Skip(5);
    const size_t n = std::min<size_t>(32, a.Left());
    const uint8_t* face = a.Here();
    size_t len = 0;
    while (len < n && face[len] != 0) ++len;
    o.font = QFont(Narrow(face, len));
    o.font.setWeight(weight >= 600 ? QFont::Bold : QFont::Normal);
    o.font.setItalic(italic);
    o.font.setUnderline(underline);
    o.font.setStrikeOut(strike);
    return o;
}

// A new object takes the first free place in the table.
void CMetafilePlayer::AddObject(const Object& o) {
    auto free = std::find_if(mObjects.begin(), mObjects.end(), [](const Object& x) { return x.kind == Object::None; });
    if (free != mObjects.end())
        *free = o;
    else if (mObjects.size() < 4096)
        mObjects.push_back(o);
}

void CMetafilePlayer::SelectObject(ByteReader& a) {
    const uint16_t ix = a.U16();
    if (!a.ok || ix >= mObjects.size()) return;
    const Object& o = mObjects[ix];
    if (o.kind == Object::Pen) mState.pen = o.pen;
    if (o.kind == Object::Brush) mState.brush = o.brush;
    if (o.kind == Object::Font) {
        mState.font = o.font;
        mState.fontHeight = o.height;
    }
}

// Shapes are outlined with the pen and filled with the brush.
void CMetafilePlayer::UseShapeTools(QPainter& p) const {
    p.setPen(mState.pen);
    p.setBrush(mState.brush);
}

void CMetafilePlayer::DrawShape(QPainter& p, uint16_t fn, ByteReader& a) {
    int16_t rh = 0, rw = 0;
    if (fn == kRoundRect) {
        rh = a.I16();
        rw = a.I16();
    }
    const int16_t b = a.I16(), r = a.I16(), t = a.I16(), l = a.I16();
    if (!a.ok) return;
    UseShapeTools(p);
    const QRect box = Box(l, t, r, b);
    if (fn == kRectangle) p.drawRect(box);
    if (fn == kEllipse) p.drawEllipse(box);
    if (fn == kRoundRect) p.drawRoundedRect(box, ScaleY(rw) / 2.0, ScaleY(rh) / 2.0);
}

void CMetafilePlayer::DrawArc(QPainter& p, uint16_t fn, ByteReader& a) {
    const int16_t ye = a.I16(), xe = a.I16(), ys = a.I16(), xs = a.I16();
    const int16_t b = a.I16(), r = a.I16(), t = a.I16(), l = a.I16();
    if (!a.ok) return;
    const QRect box = Box(l, t, r, b);
    if (box.width() <= 0 || box.height() <= 0) return;
    // The radials run from the box's centre through the two points;
    // the curve goes counter-clockwise from the first to the second.
    const QPointF c = QRectF(box).center();
    auto angle = [&](QPoint at) {
        const QPointF d = QPointF(at) - c;
        return std::atan2(-d.y() * box.width(), d.x() * box.height()) * 180.0 / M_PI;
    };
    const double from = angle(Map(xs, ys));
    double span = angle(Map(xe, ye)) - from;
    while (span <= 0) span += 360.0;
    const int a16 = int(std::lround(from * 16)), s16 = int(std::lround(span * 16));
    if (fn == kArc) {
        p.setPen(mState.pen);
        p.setBrush(Qt::NoBrush);
        p.drawArc(box, a16, s16);
        return;
    }
    UseShapeTools(p);
    if (fn == kPie)
        p.drawPie(box, a16, s16);
    else
        p.drawChord(box, a16, s16);
}

// n points of the arguments, mapped; false when n is negative or they are not all there.
bool CMetafilePlayer::ReadPoints(ByteReader& a, int16_t n, QPolygon& poly) const {
    if (n < 0 || !a.Need(size_t(n) * 4)) return false;
    for (int i = 0; i < n; ++i) {
        const int16_t x = a.I16(), y = a.I16();
        poly << Map(x, y);
    }
    return true;
}

void CMetafilePlayer::DrawPolygon(QPainter& p, uint16_t fn, ByteReader& a) {
    QPolygon poly;
    if (!ReadPoints(a, a.I16(), poly)) return;
    UseShapeTools(p);
    if (fn == kPolygon)
        p.drawPolygon(poly, mState.fill);
    else
        p.drawPolyline(poly);
}

// The point counts of all polygons first, then their points.
void CMetafilePlayer::DrawPolyPolygon(QPainter& p, ByteReader& a) {
    const int16_t count = a.I16();
    if (count < 0 || !a.Need(size_t(count) * 2)) return;
    std::vector<int16_t> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back(a.I16());
    UseShapeTools(p);
    for (int16_t n : sizes) {
        QPolygon poly;
        if (!ReadPoints(a, n, poly)) break;
        p.drawPolygon(poly, mState.fill);
    }
}

// Text at a point: its string comes first in one record, after the point in the other.
void CMetafilePlayer::DrawTextRecord(QPainter& p, uint16_t fn, ByteReader& a) {
    if (fn == kTextOut) {
        const int16_t n = a.I16();
        if (n < 0 || !a.Need(size_t(n))) return;
        const QString text = Narrow(a.Here(), size_t(n));
        a.Skip(size_t(n + (n & 1)));
        const int16_t y = a.I16(), x = a.I16();
        if (!a.ok) return;
        DrawText(p, x, y, text);
        return;
    }
    const int16_t y = a.I16(), x = a.I16(), n = a.I16();
    const uint16_t options = a.U16();
    if (options & 0x6) a.Skip(8);  // a clipping or opaque rectangle
    if (n < 0 || !a.Need(size_t(n))) return;
    DrawText(p, x, y, Narrow(a.Here(), size_t(n)));
}

// Unless aligned to its baseline or bottom, text hangs from the point.
void CMetafilePlayer::DrawText(QPainter& p, int16_t x, int16_t y, const QString& text) {
    QFont font = mState.font;
    font.setPixelSize(std::max(1, ScaleY(mState.fontHeight)));
    p.setFont(font);
    p.setPen(mState.textColor);
    const QPoint at = Map(x, y);
    p.drawText(at.x(), at.y() + ((mState.textAlign & 0x18) == 0 ? p.fontMetrics().ascent() : 0), text);
}

// The bitmap a record holds from the reader's place on, decoded at the first
// paint; records beyond the cache's share are decoded at every paint.
QImage CMetafilePlayer::RecordImage(const ByteReader& a) {
    const size_t at = size_t(a.Here() - mBits.data());
    if (mCache) {
        const auto kept = mCache->records.find(at);
        if (kept != mCache->records.end()) return kept->second;
    }
    QImage image = CPicture::BitmapImage(a.Here(), a.Left());
    const size_t bytes = size_t(image.sizeInBytes());
    if (mCache && mCache->recordBytes + bytes <= CPictureCache::kRecordBytes) {
        mCache->records.emplace(at, image);
        mCache->recordBytes += bytes;
    }
    return image;
}

void CMetafilePlayer::DrawBitmap(QPainter& p, uint16_t fn, ByteReader& a) {
    a.Skip(fn == kStretchDib ? 6 : 4);
    const int16_t sh = a.I16(), sw = a.I16(), sy = a.I16(), sx = a.I16();
    const int16_t dh = a.I16(), dw = a.I16(), dy = a.I16(), dx = a.I16();
    if (!a.ok) return;
    const QImage image = RecordImage(a);
    if (image.isNull()) return;
    p.drawImage(QRect(Map(dx, dy), Map(dx + dw, dy + dh) - QPoint(1, 1)), image, QRect(sx, sy, sw, sh));
}

}  // namespace nodars
