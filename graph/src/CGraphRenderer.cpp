#include "CGraphRenderer.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <algorithm>
#include <cmath>

#include "CNodars32Ctrl.h"
#include "CPicture.h"
#include "HandleSides.h"

namespace nodars {

namespace {

constexpr uint32_t kNoColour = 0xFFFFFFFFu;  // an item or connection colour of -1
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);

QPoint Q(GPoint p) { return QPoint(p.x, p.y); }

// Item names carry CR LF line breaks; Qt breaks on LF alone.
QString LabelText(const std::u16string& s) {
    QString t = QString::fromStdU16String(s);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

int HAlign(int align) {
    switch (align % 3) {
    case 0: return Qt::AlignLeft;
    case 2: return Qt::AlignRight;
    default: return Qt::AlignHCenter;
    }
}

constexpr int kLabelFlags = Qt::TextWordWrap | Qt::AlignTop;

// The box a word-wrapped text takes at the given width, within that width.
QRect Measure(const QFontMetrics& fm, const QString& text, int width, int align) {
    return fm.boundingRect(QRect(0, 0, std::max(width, 1), 1 << 20), kLabelFlags | HAlign(align), text);
}

// Two distinct points at the end of a route: P before the tip T. False when the
// route has no two distinct points.
bool LastSegment(const GPoint* pt, int n, GPoint* p, GPoint* t) {
    for (int i = n - 1; i > 0; --i) {
        for (int j = i - 1; j >= 0; --j) {
            if (!(pt[j] == pt[i])) {
                *p = pt[j];
                *t = pt[i];
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------- view

GPoint RenderView::ToDevice(GPoint p) const {
    return {MulDiv(p.x - origin.x, num, den) - offset.x, MulDiv(p.y - origin.y, num, den) - offset.y};
}

GRect RenderView::ToDevice(const GRect& r) const {
    GPoint a = ToDevice(GPoint{r.left, r.top});
    GPoint b = ToDevice(GPoint{r.right, r.bottom});
    return {a.x, a.y, b.x, b.y};
}

int32_t RenderView::Scale(int32_t v) const { return den != 0 ? MulDiv(v, num, den) : v; }

QColor CGraphRenderer::Rgb(uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QRect CGraphRenderer::Box(const GRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

// ---------------------------------------------------------------- context of one drawing

struct CGraphRenderer::Context {
    const RenderView& view;
    // Spans in device units for the length of the drawing (the control keeps its own).
    int32_t xSpan, ySpan, xSpace, ySpace, gap;
    QColor fore;     // pen and text colour
    QColor back;     // text background and the brush of marks and dots
    QPen pen;
    QFont font;
    QRegion clip;    // what may still be painted
    GRect paintClip; // the cull rectangle
    QString fontKey;
};

bool CGraphRenderer::SelectionHandleRect(int index, const GRect& r, GRect* out) {
    const int32_t L = r.left, T = r.top, R = r.right, B = r.bottom;
    const int32_t mx = (L + R) / 2, my = (T + B) / 2;
    switch (index) {
    case 0: *out = {L - 5, T - 5, L, T}; return true;
    case 1: *out = {mx - 2, T - 5, mx + 3, T}; return true;
    case 2: *out = {R, T - 5, R + 5, T}; return true;
    case 3: *out = {R, my - 2, R + 5, my + 3}; return true;
    case 4: *out = {R, B, R + 5, B + 5}; return true;
    case 5: *out = {mx - 2, B, mx + 3, B + 5}; return true;
    case 6: *out = {L - 5, B, L, B + 5}; return true;
    case 7: *out = {L - 5, my - 2, L, my + 3}; return true;
    default: return false;
    }
}

void CGraphRenderer::DrawItemShape(QPainter& p, int shape, const GRect& r) {
    const int32_t L = r.left, T = r.top, R = r.right, B = r.bottom;
    const int32_t W = R - L, H = B - T, mx = (L + R) / 2, my = (T + B) / 2;
    // GDI boxes leave out the right and bottom edge.
    auto rect = [&](int32_t l, int32_t t, int32_t rr, int32_t b) { p.drawRect(l, t, rr - l - 1, b - t - 1); };
    auto poly = [&](std::initializer_list<QPoint> pts) { p.drawPolygon(QPolygon(QList<QPoint>(pts)), Qt::OddEvenFill); };
    switch (shape) {
    case 1: rect(L, T, R, B); break;
    case 2: p.drawEllipse(L, T, W - 1, H - 1); break;
    case 3: p.drawRoundedRect(QRectF(L, T, W - 1, H - 1), W / 8.0, H / 8.0); break;
    case 4: poly({{L, T}, {R - W / 8, T}, {R, B}, {L + W / 8, B}, {L, T}}); break;
    case 5: poly({{L + W / 8, T}, {R, T}, {R - W / 8, B}, {L, B}, {L + W / 8, T}}); break;
    case 6: poly({{L, my}, {L + W / 3, T}, {R - W / 3, T}, {R, my}, {R - W / 3, B}, {L + W / 3, B}, {L, my}}); break;
    case 7:
        poly({{R - H / 8, T}, {R, T + H / 8}, {R, B}, {L, B}, {L, T}, {R - H / 8, T}, {R - H / 8, T + H / 8},
              {R, T + H / 8}});
        break;
    case 8: poly({{L, my}, {mx, T}, {R, my}, {mx, B}, {L, my}}); break;
    case 9:
        poly({{L, T + H / 3}, {L + W / 3, T}, {R - W / 3, T}, {R, T + H / 3}, {R, B - H / 3}, {R - W / 3, B},
              {L + W / 3, B}, {L, B - H / 3}});
        break;
    case 10:
        rect(L + 8, T + 8, R, B);
        rect(L + 4, T + 4, R - 4, B - 4);
        rect(L, T, R - 8, B - 8);
        break;
    case 11:
        rect(L + 8, T, R, B - 8);
        rect(L + 4, T + 4, R - 4, B - 4);
        rect(L, T + 8, R - 8, B);
        break;
    default: break;  // 0 and unknown shapes: picture and label only
    }
}

// ---------------------------------------------------------------- the drawing

void CGraphRenderer::Render(QPainter& p, const RenderView& view) const {
    const CNodars32Ctrl& c = mCtl;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    Context ctx{view,
                view.Scale(c.mXSpan), view.Scale(c.mYSpan), view.Scale(c.mXSpace), view.Scale(c.mYSpace),
                view.Scale(c.mGap),
                c.mDrawColored ? Rgb(c.TranslateColor(c.mForeColor)) : kBlack,
                c.mDrawColored ? Rgb(c.TranslateColor(c.mBackColor)) : kWhite,
                QPen(), c.mFont, QRegion(view.clip),
                GRect{view.clip.left(), view.clip.top(), view.clip.left() + view.clip.width(),
                      view.clip.top() + view.clip.height()},
                QString()};
    ctx.pen = QPen(ctx.fore, 0);
    // The label font is the control's screen font in pixels times the zoom:
    // a printer's own dpi then never enlarges it a second time.
    const int basePixels = std::max(1, QFontInfo(c.mFont).pixelSize());
    ctx.font.setPixelSize(std::max(1, view.den != 0 ? MulDiv(basePixels, view.num, view.den) : basePixels));
    p.setFont(ctx.font);
    ctx.fontKey = ctx.font.key();
    p.setPen(ctx.pen);
    p.setBrush(ctx.back);
    p.setBackground(ctx.back);
    p.setBackgroundMode(Qt::TransparentMode);
    p.setClipRegion(ctx.clip);

    if (!view.printing && view.designTime) DrawSample(p, ctx);

    // Selection marks first, cut out of the clip so nothing covers them.
    const int32_t count = int32_t(c.mItems.size());
    if (!view.printing && c.mSelectedIndex >= 0 && c.mSelectedIndex < count) {
        GRect r = view.ToDevice(c.mItems[size_t(c.mSelectedIndex)]->Rect);
        r.Inflate(3, 3);
        for (int i = 0; i < 8; ++i) {
            GRect h;
            SelectionHandleRect(i, r, &h);
            p.fillRect(Box(h), kBlack);
            ctx.clip -= Box(h);
        }
        p.setClipRegion(ctx.clip);
    }

    // Items from the top (highest index) down; each one is cut out of the clip,
    // so lower items and every connection stay beneath it.
    for (int32_t i = count - 1; i >= 0; --i) {
        const CGraphItem& item = *c.mItems[size_t(i)];
        DrawItem(p, ctx, item);
        DrawIncoming(p, ctx, item);
    }

    // Handle dots at the stub ends.
    if (c.mDrawHandles && c.mArrangeMode == 2 && !view.printing) {
        const int32_t r = MulDiv(4, view.num, view.den);
        p.setPen(ctx.pen);
        p.setBrush(ctx.back);
        for (const auto& item : c.mItems) {
            GRect d;
            if (Culled(ctx, *item, &d)) continue;
            const int32_t mx = d.CentreX(), my = d.CentreY(), g = ctx.gap;
            const GPoint ends[4] = {{d.left - g, my}, {d.right + g, my}, {mx, d.top - g}, {mx, d.bottom + g}};
            for (GPoint e : ends) p.drawEllipse(e.x - r, e.y - r, 2 * r, 2 * r);
        }
    }
    p.restore();
}

bool CGraphRenderer::Culled(const Context& c, const CGraphItem& item, GRect* device) const {
    *device = c.view.ToDevice(item.Rect);
    GRect test = item.Rect;
    test.Inflate(4, 4);
    test = c.view.ToDevice(test);
    test.Inflate(c.gap, c.gap);
    const GRect& clip = c.paintClip;
    return test.right < clip.left || test.left > clip.right || test.bottom < clip.top || test.top > clip.bottom;
}

void CGraphRenderer::DrawSample(QPainter& p, Context& c) const {
    const QRect& b = c.view.bounds;
    const int32_t l = b.left() + (b.width() - c.xSpan) / 2, t = b.top() + (b.height() - c.ySpan) / 2;
    GRect r{l, t, l + c.xSpan, t + c.ySpan};
    p.setBrush(mCtl.mDrawColored ? Rgb(mCtl.TranslateColor(mCtl.mFillColor)) : kWhite);
    DrawItemShape(p, 1, r);
    p.setBrush(c.back);
    r.Inflate(-1, -1);
    if (!mCtl.mDrawItemLabels) return;
    p.drawText(Box(r), Qt::TextWordWrap | Qt::AlignCenter, QStringLiteral("Nodaris Node"));
}

void CGraphRenderer::DrawItem(QPainter& p, Context& c, const CGraphItem& item) const {
    const CNodars32Ctrl& ctl = mCtl;
    GRect r;
    if (Culled(c, item, &r)) return;

    QColor fill = kWhite;
    if (ctl.mDrawColored)
        fill = Rgb(item.FillColor != kNoColour ? item.FillColor : ctl.TranslateColor(ctl.mFillColor));
    p.setBrush(fill);
    p.setBackground(fill);
    if (ctl.mDrawColored && item.BorderColor != kNoColour)
        p.setPen(QPen(Rgb(item.BorderColor), 0));
    else
        p.setPen(c.pen);
    DrawItemShape(p, item.Shape, r);
    DrawItemPicture(p, c, item, r);

    if (item.Name && ctl.mDrawItemLabels && item.DrawLabel != 0) DrawLabel(p, c, item, r);

    p.setPen(c.pen);
    p.setBrush(c.back);
    p.setBackground(c.back);
    c.clip -= Box(r);
    p.setClipRegion(c.clip);

    if (ctl.mDrawHandles && ctl.mArrangeMode == 2 && !c.view.printing) {
        const int32_t mx = r.CentreX(), my = r.CentreY(), g = c.gap;
        p.drawLine(r.left, my, r.left - g, my);
        p.drawLine(r.right, my, r.right + g, my);
        p.drawLine(mx, r.top, mx, r.top - g);
        p.drawLine(mx, r.bottom, mx, r.bottom + g);
    }
}

void CGraphRenderer::DrawLabel(QPainter& p, Context& c, const CGraphItem& item, const GRect&) const {
    const CNodars32Ctrl& ctl = mCtl;
    GRect lr = item.LabelRect;
    const bool fullWidth = lr.Width() == 0, fullHeight = lr.Height() == 0;
    lr.Offset(item.Rect.left, item.Rect.top);
    if (fullWidth) lr.right = item.Rect.right;
    if (fullHeight) lr.bottom = item.Rect.bottom;
    const GRect LR = c.view.ToDevice(lr);

    const QString text = LabelText(*item.Name);
    const int align = item.LabelAlign;
    const QString key = c.fontKey + QLatin1Char('\x1f') + QString::number(LR.Width()) + QLatin1Char('\x1f') +
                        QString::number(align) + QLatin1Char('\x1f') + text;
    auto found = ctl.mLabelSizes.constFind(key);
    QRect measured;
    if (found != ctl.mLabelSizes.constEnd()) {
        measured = *found;
    } else {
        measured = Measure(p.fontMetrics(), text, LR.Width(), align);
        if (ctl.mLabelSizes.size() > 8192) ctl.mLabelSizes.clear();
        ctl.mLabelSizes.insert(key, measured);
    }
    const QSize size = measured.size();
    GRect m{LR.left, LR.top, LR.left + size.width(), LR.top + size.height()};
    m.Offset((LR.right - m.right) / 2, (LR.bottom - m.bottom) / 2);
    // Never closer than one unit to the label box.
    if (m.left <= LR.left) m.left = LR.left + 1;
    if (m.right >= LR.right) m.right = LR.right - 1;
    if (m.top <= LR.top) m.top = LR.top + 1;
    if (m.bottom >= LR.bottom) m.bottom = LR.bottom - 1;
    const int h = align % 3, v = align / 3;
    if (h == 0 && m.left > LR.left + 1) m.Offset(LR.left + 1 - m.left, 0);
    if (h == 2 && m.right < LR.right - 1) m.Offset(LR.right - 1 - m.right, 0);
    if (v == 0 && m.top > LR.top + 1) m.Offset(0, LR.top + 1 - m.top);
    if (v == 2 && m.bottom < LR.bottom - 1) m.Offset(0, LR.bottom - 1 - m.bottom);
    if (m.right <= m.left || m.bottom <= m.top) return;

    QColor colour = c.fore;
    if (ctl.mDrawColored && item.TextColor != kNoColour) colour = Rgb(item.TextColor);
    p.setPen(QPen(colour, 0));
    // The text is drawn as it was measured, at the label box's width: laid out
    // again in M, up to two units narrower, a text that fills its box exactly
    // would wrap onto a line that no longer fits. Its box goes where alignment
    // puts it in M.
    const auto place = [](int lo, int hi, int extent, int how) {
        return how == 0 ? lo : how == 2 ? hi - extent : lo + (hi - lo - extent) / 2;
    };
    int x = place(m.left, m.right, size.width(), h), y = place(m.top, m.bottom, size.height(), v);
    const bool fits = size.width() <= LR.Width() && size.height() <= LR.Height();
    if (fits) {
        // Within the label box, where it was measured to fit: never cut.
        x = std::clamp(x, LR.left, LR.right - size.width());
        y = std::clamp(y, LR.top, LR.bottom - size.height());
    } else {
        // Too large: clipped to M (cutting the clip region down is the dearest
        // part of a label, so only here).
        p.save();
        p.setClipRect(Box(m), Qt::IntersectClip);
    }
    p.drawText(QRect(x - measured.left(), y - measured.top(), std::max(LR.Width(), 1), 1 << 20),
               kLabelFlags | HAlign(align) | Qt::TextDontClip, text);
    if (!fits) p.restore();
}

void CGraphRenderer::DrawIncoming(QPainter& p, Context& c, const CGraphItem& item) const {
    const CNodars32Ctrl& ctl = mCtl;
    for (const CGraphConnection* conn : item.Incoming) {
        GRect b = c.view.ToDevice(conn->BoundsRect);
        const GRect& clip = c.paintClip;
        const bool outside = b.right < clip.left || b.left > clip.right || b.bottom < clip.top || b.top > clip.bottom;
        switch (ctl.mArrangeMode) {
        case 0:
        case 3: {
            if (outside) break;
            const bool forward = ctl.mArrangeMode == 0 ? !(conn->To->Layer > conn->From->Layer)
                                                       : conn->To->Layer < conn->From->Layer;
            if (forward) DrawConnection(p, c, *conn, false);
            else if (ctl.mDrawBackLinks != 0) DrawConnection(p, c, *conn, true);
            break;
        }
        case 1:
        case 2:
            if (!outside) DrawConnection(p, c, *conn, false);
            break;
        default: {
            // Unknown arrangements: centre to centre, whatever the route says.
            const GRect f = c.view.ToDevice(conn->From->Rect), t = c.view.ToDevice(conn->To->Rect);
            p.setPen(c.pen);
            p.drawLine(f.CentreX(), f.CentreY(), t.CentreX(), t.CentreY());
            break;
        }
        }
    }
}

void CGraphRenderer::DrawConnection(QPainter& p, Context& c, const CGraphConnection& conn, bool backLink) const {
    const CNodars32Ctrl& ctl = mCtl;
    // A route never has more points than it holds, whatever a stale count says.
    const int n = std::clamp<int>(conn.PointCount, 0, CGraphConnection::kMaxPoints);
    if (n < 2) return;
    GPoint pt[CGraphConnection::kMaxPoints];
    for (int i = 0; i < n; ++i) pt[i] = c.view.ToDevice(conn.Points[size_t(i)]);

    const int32_t width = conn.LineWidth < 0 ? ctl.mLineWidth : conn.LineWidth;
    const int32_t w = std::max(0, c.view.Scale(width));
    const QColor colour = ctl.mDrawColored ? Rgb(conn.Color != kNoColour ? conn.Color : ctl.TranslateColor(ctl.mForeColor))
                                           : kBlack;
    QPen pen(colour, w);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    if (backLink && ctl.mDrawBackLinks == 2) pen.setStyle(Qt::DotLine);
    p.setPen(pen);
    QPolygon line;
    for (int i = 0; i < n; ++i) line << Q(pt[i]);
    p.drawPolyline(line);

    if (ctl.mDrawConnLabels && conn.Label && !conn.Label->empty())
        DrawConnectionLabel(p, c, conn, pt, n, backLink, colour);
    if (ctl.mDrawArrows) {
        QPen headPen(colour, w);
        p.setPen(headPen);
        DrawHead(p, c, conn, pt, n, backLink, colour);
    }
    p.setPen(c.pen);
    p.setBrush(c.back);
}

void CGraphRenderer::DrawConnectionLabel(QPainter& p, Context& c, const CGraphConnection& conn, const GPoint* pt,
                                         int n, bool backLink, const QColor& colour) const {
    const CNodars32Ctrl& ctl = mCtl;
    const QString text = LabelText(*conn.Label);
    const QFontMetrics fm = p.fontMetrics();
    const int align = conn.Align;
    // Unwrapped width, one space more on either side, then the height at that width.
    const int space = fm.horizontalAdvance(QLatin1Char(' '));
    const int width = fm.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), HAlign(backLink ? 1 : align), text).width() +
                      2 * space;
    const int height = Measure(fm, text, width, align).height();
    const int mode = ctl.mArrangeMode;

    auto midpoint = [](GPoint a, GPoint b) { return GPoint{(a.x + b.x) / 2, (a.y + b.y) / 2}; };
    // Where there are too few points for the placement, the middle of the last segment.
    auto centreOn = [&](int i, int j) {
        return i < n && j < n ? midpoint(pt[i], pt[j]) : midpoint(pt[n - 2], pt[n - 1]);
    };
    GRect r;
    auto centredAt = [&](GPoint m) { r = {m.x - width / 2, m.y - height / 2, m.x - width / 2 + width, m.y - height / 2 + height}; };
    bool fillWhite = false;
    QColor background = kWhite;
    if (backLink) {
        centredAt(n == 4 ? centreOn(1, 2) : centreOn(3, 4));
        fillWhite = c.view.printing;
        if (ctl.mDrawColored) background = c.back;
    } else if (mode == 1) {
        if (n == 2) centredAt(midpoint(pt[0], pt[1]));
        else r = {pt[1].x, pt[1].y + 2, pt[1].x + width, pt[1].y + 2 + height};
        if (ctl.mDrawColored && !c.view.printing) background = c.back;
    } else if (mode == 2 && n >= 3) {
        const int side = HandleSide(ctl.mDrawDir, conn.FromHandle);
        const int handle = conn.FromHandle;
        if (handle < 0 || handle > 4) {
            centredAt(midpoint(pt[1], pt[2]));
        } else if (side == kTop || side == kBottom) {
            const int32_t top = side == kTop ? pt[1].y - 2 - height : pt[1].y + 2;
            int32_t left = pt[0].x - width / 2;
            if (pt[2].x > pt[1].x) left = pt[0].x;
            else if (pt[2].x < pt[1].x) left = pt[0].x - width;
            r = {left, top, left + width, top + height};
        } else if (side == kRight || side == kLeft) {
            const int32_t left = side == kRight ? pt[0].x : pt[0].x - width;
            const int32_t top = pt[2].y < pt[1].y ? pt[1].y - 2 : pt[1].y - 2 - height;
            r = {left, top, left + width, top + height};
        } else {
            centredAt(midpoint(pt[1], pt[2]));
        }
        fillWhite = c.view.printing;
        if (ctl.mDrawColored && !c.view.printing) background = c.back;
    } else {
        centredAt(centreOn(1, 2));
        fillWhite = c.view.printing;
        if (ctl.mDrawColored) background = c.back;
    }
    if (fillWhite) p.fillRect(Box(r), kWhite);
    p.setPen(QPen(colour, 0));
    p.setBackground(background);
    p.setBackgroundMode(Qt::OpaqueMode);
    p.drawText(Box(r), Qt::TextWordWrap | HAlign(backLink ? 1 : align) | Qt::AlignTop, text);
    p.setBackgroundMode(Qt::TransparentMode);
    p.setBackground(c.back);
}

void CGraphRenderer::DrawHead(QPainter& p, Context& c, const CGraphConnection& conn, const GPoint* pt, int n,
                              bool backLink, const QColor& colour) const {
    const CNodars32Ctrl& ctl = mCtl;
    const int32_t A = c.view.den != 0 ? MulDiv(5, c.view.num, c.view.den) : 5;
    const int32_t S = c.view.den != 0 ? MulDiv(3, c.view.num, c.view.den) : 3;
    const int mode = ctl.mArrangeMode;
    const int arrow = conn.Arrow;
    if (arrow < 1 || arrow > 5) return;

    GPoint T = pt[n - 1], P{};
    bool geometric = mode == 1 || backLink;
    int side = kCentre;
    if (geometric) {
        if (!LastSegment(pt, n, &P, &T)) return;
    } else if (pt[n - 1] == pt[n - 2]) {
        geometric = true;
        if (!LastSegment(pt, n, &P, &T)) return;
    } else if (mode == 2) {
        if (conn.ToHandle < 0 || conn.ToHandle > 4) return;
        side = HandleSide(ctl.mDrawDir, conn.ToHandle);
    } else {
        static constexpr int kByDir[4] = {kRight, kLeft, kBottom, kTop};
        if (ctl.mDrawDir < 0 || ctl.mDrawDir > 3) return;
        side = kByDir[ctl.mDrawDir];
    }

    GPoint c1{}, c2{};
    if (geometric) {
        if (P.y == T.y) {
            const int32_t bx = T.x + (P.x >= T.x ? A : -A);
            c1 = {bx, T.y + S};
            c2 = {bx, T.y - S};
        } else if (P.x == T.x) {
            const int32_t by = T.y + (P.y >= T.y ? A : -A);
            c1 = {T.x + S, by};
            c2 = {T.x - S, by};
        } else {
            const double m = double(T.y - P.y) / double(T.x - P.x);
            double s = std::sqrt(double(A) * A / (m * m + 1));
            if (P.x < T.x) s = -s;
            const double bx = T.x + s, by = T.y + s * m;
            const double k = -1 / m;
            const double u = std::sqrt(double(S) * S / (k * k + 1));
            c1 = {int32_t(std::trunc(bx + u)), int32_t(std::trunc(by + u * k))};
            c2 = {int32_t(std::trunc(bx - u)), int32_t(std::trunc(by - u * k))};
        }
    } else {
        switch (side) {
        case kTop: c1 = {T.x + S, T.y - A}; c2 = {T.x - S, T.y - A}; break;
        case kRight: c1 = {T.x + A, T.y + S}; c2 = {T.x + A, T.y - S}; break;
        case kBottom: c1 = {T.x + S, T.y + A}; c2 = {T.x - S, T.y + A}; break;
        case kLeft: c1 = {T.x - A, T.y + S}; c2 = {T.x - A, T.y - S}; break;
        default: return;
        }
    }

    const QColor backFill = ctl.mDrawColored ? c.back : kWhite;
    switch (arrow) {
    case 1:
    case 2:
        p.setBrush(arrow == 1 ? colour : backFill);
        p.drawPolygon(QPolygon({Q(T), Q(c1), Q(c2), Q(T)}), Qt::OddEvenFill);
        break;
    case 3:
        p.drawLine(Q(c1), Q(T));
        p.drawLine(Q(c2), Q(T));
        break;
    default: {
        p.setBrush(arrow == 4 ? colour : backFill);
        GRect box;
        if (geometric || mode == 1) {
            // Beside the tip on the far side of the target's edge, found from the box.
            const GRect t = c.view.ToDevice(conn.To->Rect);
            if (T.x == t.left) box = {T.x - 2 * S, T.y - S, T.x, T.y + S};
            else if (T.x == t.right) box = {T.x, T.y - S, T.x + 2 * S, T.y + S};
            else if (T.y == t.top) box = {T.x - S, T.y - 2 * S, T.x + S, T.y};
            else if (T.y == t.bottom) box = {T.x - S, T.y, T.x + S, T.y + 2 * S};
            else return;
        } else {
            switch (side) {
            case kTop: box = {T.x - S, T.y - 2 * S, T.x + S + 1, T.y}; break;
            case kRight: box = {T.x, T.y - S, T.x + 2 * S, T.y + S + 1}; break;
            case kBottom: box = {T.x - S, T.y, T.x + S + 1, T.y + 2 * S}; break;
            case kLeft: box = {T.x - 2 * S, T.y - S, T.x, T.y + S + 1}; break;
            default: return;
            }
        }
        p.drawEllipse(box.left, box.top, box.Width() - 1, box.Height() - 1);
        break;
    }
    }
}

}  // namespace nodars

namespace nodars {

GRect CGraphRenderer::AlignRect(const GRect& inner, const GRect& outer, int align) {
    GRect r = inner;
    if (align < 0 || align > 8) return r;
    const int col = align % 3, row = align / 3;
    if (r.Width() < outer.Width()) {
        const int32_t w = r.Width();
        r.left = col == 0 ? outer.left : col == 2 ? outer.right - w : outer.left + (outer.Width() - w) / 2;
        r.right = r.left + w;
    }
    if (r.Height() < outer.Height()) {
        const int32_t h = r.Height();
        r.top = row == 0 ? outer.top : row == 2 ? outer.bottom - h : outer.top + (outer.Height() - h) / 2;
        r.bottom = r.top + h;
    }
    return r;
}

bool CGraphRenderer::PictureTarget(int style, int align, const GRect& pictureRect, const GRect& itemGraph,
                                   const GRect& box, int32_t num, int32_t den, const GRect& bounds, GRect* out) {
    if (style < 1 || style > 4 || den == 0) return false;
    GRect outer = box;
    if (style <= 2) {
        // An empty picture rectangle is the item's own size in graph units,
        // scaled once like everything else.
        GRect g = pictureRect;
        if (g.Width() == 0 && g.Height() == 0) g = {0, 0, itemGraph.Width(), itemGraph.Height()};
        outer = {MulDiv(g.left, num, den), MulDiv(g.top, num, den), MulDiv(g.right, num, den),
                 MulDiv(g.bottom, num, den)};
        outer.Offset(box.left, box.top);
    }
    if (style == 1 || style == 3) {
        *out = outer;
        return true;
    }
    const int32_t bw = bounds.Width(), bh = bounds.Height();
    if (bw == 0 || bh == 0) return false;
    GRect inner{0, 0, outer.Width(), outer.Height()};
    if (MulDiv(inner.right, bh, bw) > inner.bottom)
        inner.right = MulDiv(inner.bottom, bw, bh);
    else
        inner.bottom = MulDiv(inner.right, bh, bw);
    inner.Offset(outer.left, outer.top);
    *out = AlignRect(inner, outer, align);
    return true;
}

void CGraphRenderer::DrawItemPicture(QPainter& p, Context& c, const CGraphItem& item, const GRect& box) const {
    if (item.Graphic <= 0 || item.Graphic >= int32_t(mCtl.mGraphics.size())) return;
    const CGraphic& g = mCtl.mGraphics[size_t(item.Graphic)];
    if (g.Type == 0) return;
    GRect target;
    if (!PictureTarget(item.GraphicStyle, item.GraphicAlign, item.GraphicRect, item.Rect, box, c.view.num,
                       c.view.den, g.Bounds, &target))
        return;
    CPicture::Draw(p, g, QRect(target.left, target.top, target.Width(), target.Height()));
}

}  // namespace nodars
