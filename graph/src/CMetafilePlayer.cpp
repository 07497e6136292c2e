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

int CMetafilePlayer::Play(QPainter& p, const QRect& target) {
    mTarget = target;
    mState = State();
    mState.orgX = mBounds.left;
    mState.orgY = mBounds.top;
    mState.extX = mBounds.Width() != 0 ? mBounds.Width() : 1;
    mState.extY = mBounds.Height() != 0 ? mBounds.Height() : 1;
    mState.pen = QPen(Qt::black, 0);
    mState.brush = QBrush(Qt::white);
    std::vector<Object> objects;
    std::vector<State> saved;

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
        ByteReader a(mBits.data() + pos + 6, size_t(words * 2 - 6));
        pos += size_t(words * 2);
        State& s = mState;
        bool known = true;
        auto shapeReady = [&] {
            p.setPen(s.pen);
            p.setBrush(s.brush);
        };
        switch (fn) {
        case 0x020B: s.orgY = a.I16(); s.orgX = a.I16(); break;  // SetWindowOrg
        case 0x020C: {                                            // SetWindowExt
            const int16_t y = a.I16(), x = a.I16();
            if (a.ok && x != 0 && y != 0) {
                s.extX = x;
                s.extY = y;
            }
            break;
        }
        case 0x0209: s.textColor = Colour(a.U32()); break;             // SetTextColor
        case 0x0201: s.backColor = Colour(a.U32()); break;             // SetBkColor
        case 0x0102: s.opaque = a.I16() == 2; break;                   // SetBkMode
        case 0x0106: s.fill = a.I16() == 2 ? Qt::WindingFill : Qt::OddEvenFill; break;
        case 0x012E: s.textAlign = a.U16(); break;                     // SetTextAlign
        case 0x001E: saved.push_back(s); break;                        // SaveDC
        case 0x0127:                                                   // RestoreDC
            if (!saved.empty()) {
                s = saved.back();
                saved.pop_back();
            }
            break;
        case 0x02FA: case 0x02FC: case 0x02FB: {  // CreatePen/Brush/FontIndirect
            Object o;
            if (fn == 0x02FA) {
                const uint16_t style = a.U16();
                const int16_t width = a.I16();
                a.Skip(2);
                const QColor c = Colour(a.U32());
                o.kind = Object::Pen;
                const int w = std::max(0, int(int64_t(width) * mTarget.width() / std::max(1, std::abs(s.extX))));
                o.pen = (style & 0xF) == 5 ? QPen(Qt::NoPen) : QPen(c, w);
                if ((style & 0xF) == 1) o.pen.setStyle(Qt::DashLine);
                if ((style & 0xF) == 2) o.pen.setStyle(Qt::DotLine);
            } else if (fn == 0x02FC) {
                const uint16_t style = a.U16();
                const QColor c = Colour(a.U32());
                o.kind = Object::Brush;
                o.brush = style == 1 ? QBrush(Qt::NoBrush) : QBrush(c);
            } else {
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
            }
            auto free = std::find_if(objects.begin(), objects.end(), [](const Object& x) { return x.kind == Object::None; });
            if (free != objects.end())
                *free = o;
            else if (objects.size() < 4096)
                objects.push_back(o);
            break;
        }
        case 0x012D: {  // SelectObject
            const uint16_t ix = a.U16();
            if (!a.ok || ix >= objects.size()) break;
            const Object& o = objects[ix];
            if (o.kind == Object::Pen) s.pen = o.pen;
            if (o.kind == Object::Brush) s.brush = o.brush;
            if (o.kind == Object::Font) {
                s.font = o.font;
                s.fontHeight = o.height;
            }
            break;
        }
        case 0x01F0: {  // DeleteObject
            const uint16_t ix = a.U16();
            if (a.ok && ix < objects.size()) objects[ix] = Object();
            break;
        }
        case 0x0214: s.current.setY(a.I16()); s.current.setX(a.I16()); break;  // MoveTo
        case 0x0213: {                                                           // LineTo
            const int16_t y = a.I16(), x = a.I16();
            if (!a.ok) break;
            p.setPen(s.pen);
            p.drawLine(Map(s.current.x(), s.current.y()), Map(x, y));
            s.current = QPoint(x, y);
            break;
        }
        case 0x041B: case 0x0418: case 0x061C: {  // Rectangle, Ellipse, RoundRect
            int16_t rh = 0, rw = 0;
            if (fn == 0x061C) {
                rh = a.I16();
                rw = a.I16();
            }
            const int16_t b = a.I16(), r = a.I16(), t = a.I16(), l = a.I16();
            if (!a.ok) break;
            shapeReady();
            const QRect box = QRect(Map(l, t), Map(r, b) - QPoint(1, 1)).normalized();
            if (fn == 0x041B) p.drawRect(box);
            if (fn == 0x0418) p.drawEllipse(box);
            if (fn == 0x061C) p.drawRoundedRect(box, ScaleY(rw) / 2.0, ScaleY(rh) / 2.0);
            break;
        }
        case 0x0817: case 0x081A: case 0x0830: {  // Arc, Pie, Chord
            const int16_t ye = a.I16(), xe = a.I16(), ys = a.I16(), xs = a.I16();
            const int16_t b = a.I16(), r = a.I16(), t = a.I16(), l = a.I16();
            if (!a.ok) break;
            const QRect box = QRect(Map(l, t), Map(r, b) - QPoint(1, 1)).normalized();
            if (box.width() <= 0 || box.height() <= 0) break;
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
            if (fn == 0x0817) {
                p.setPen(s.pen);
                p.setBrush(Qt::NoBrush);
                p.drawArc(box, a16, s16);
            } else {
                shapeReady();
                if (fn == 0x081A) p.drawPie(box, a16, s16);
                else p.drawChord(box, a16, s16);
            }
            break;
        }
        case 0x0324: case 0x0325: {  // Polygon, Polyline
            const int16_t n = a.I16();
            if (n < 0 || !a.Need(size_t(n) * 4)) break;
            QPolygon poly;
            for (int i = 0; i < n; ++i) {
                const int16_t x = a.I16(), y = a.I16();
                poly << Map(x, y);
            }
            shapeReady();
            if (fn == 0x0324)
                p.drawPolygon(poly, s.fill);
            else
                p.drawPolyline(poly);
            break;
        }
        case 0x0538: {  // PolyPolygon
            const int16_t count = a.I16();
            if (count < 0 || !a.Need(size_t(count) * 2)) break;
            std::vector<int16_t> sizes;
            for (int i = 0; i < count; ++i) sizes.push_back(a.I16());
            shapeReady();
            for (int16_t n : sizes) {
                if (n < 0 || !a.Need(size_t(n) * 4)) break;
                QPolygon poly;
                for (int i = 0; i < n; ++i) {
                    const int16_t x = a.I16(), y = a.I16();
                    poly << Map(x, y);
                }
                p.drawPolygon(poly, s.fill);
            }
            break;
        }
        case 0x0521: case 0x0A32: {  // TextOut, ExtTextOut
            int16_t x = 0, y = 0, n = 0;
            if (fn == 0x0521) {
                n = a.I16();
                if (n < 0 || !a.Need(size_t(n))) break;
                const QString text = Narrow(a.Here(), size_t(n));
                a.Skip(size_t(n + (n & 1)));
                y = a.I16();
                x = a.I16();
                if (!a.ok) break;
                p.setFont([&] {
                    QFont f = s.font;
                    f.setPixelSize(std::max(1, ScaleY(s.fontHeight)));
                    return f;
                }());
                p.setPen(s.textColor);
                const QPoint at = Map(x, y);
                p.drawText(at.x(), at.y() + ((s.textAlign & 0x18) == 0 ? p.fontMetrics().ascent() : 0), text);
            } else {
                y = a.I16();
                x = a.I16();
                n = a.I16();
                const uint16_t options = a.U16();
                if (options & 0x6) a.Skip(8);
                if (n < 0 || !a.Need(size_t(n))) break;
                const QString text = Narrow(a.Here(), size_t(n));
                p.setFont([&] {
                    QFont f = s.font;
                    f.setPixelSize(std::max(1, ScaleY(s.fontHeight)));
                    return f;
                }());
                p.setPen(s.textColor);
                const QPoint at = Map(x, y);
                p.drawText(at.x(), at.y() + ((s.textAlign & 0x18) == 0 ? p.fontMetrics().ascent() : 0), text);
            }
            break;
        }
        case 0x0B41: case 0x0F43: {  // DIBStretchBlt, StretchDIB
            a.Skip(fn == 0x0F43 ? 6 : 4);
            const int16_t sh = a.I16(), sw = a.I16(), sy = a.I16(), sx = a.I16();
            const int16_t dh = a.I16(), dw = a.I16(), dy = a.I16(), dx = a.I16();
            if (!a.ok) break;
            const QImage image = CPicture::BitmapImage(a.Here(), a.Left());
            if (image.isNull()) break;
            p.drawImage(QRect(Map(dx, dy), Map(dx + dw, dy + dh) - QPoint(1, 1)), image, QRect(sx, sy, sw, sh));
            break;
        }
        default: known = false; break;
        }
        if (known) ++played;
    }
    p.restore();
    return played;
}

}  // namespace nodars
