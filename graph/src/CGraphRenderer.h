// Draws the graph of one control onto any QPainter: the widget, an image or a
// printer page. The caller chooses the scale (num/den), which graph point lands
// on the device origin, and whether the screen-only parts are left out.
// Drawing never changes the graph.
#pragma once

#include <QRect>
#include <cstdint>

#include "GraphGeometry.h"

class QPainter;
class QColor;
class QFont;

namespace nodars {

class CNodars32Ctrl;
class CGraphConnection;
class CGraphItem;

// Where and how large the graph is drawn. device = MulDiv(graph - origin, num, den) - offset.
struct RenderView {
    int32_t num = 1;
    int32_t den = 1;
    GPoint origin;       // graph point at device offset 0
    GPoint offset;       // subtracted after scaling (the scroll positions on screen)
    QRect bounds;        // the control's area in device units
    QRect clip;          // the part to draw; items and connections outside are skipped
    bool printing = false;   // leave out selection marks, handles and the design-time sample
    bool designTime = false;

    GPoint ToDevice(GPoint p) const;
    GRect ToDevice(const GRect& r) const;
    // Scales a length the way the spans are scaled (unchanged when den is 0).
    int32_t Scale(int32_t v) const;
};

class CGraphRenderer {
public:
    explicit CGraphRenderer(const CNodars32Ctrl& control) : mCtl(control) {}

    // The whole graph (every step after the background fill). The painter's
    // state is restored afterwards.
    void Render(QPainter& painter, const RenderView& view) const;

    // The eight selection handles around the device rectangle r: 0 top-left,
    // 1 top middle ... 7 left middle; false for an index of 8 or more.
    static bool SelectionHandleRect(int index, const GRect& r, GRect* out);
    // One item shape with the painter's pen and brush.
    static void DrawItemShape(QPainter& painter, int shape, const GRect& r);
    // An OLE colour (0x00BBGGRR) as a QColor.
    static QColor Rgb(uint32_t bgr);
    // Moves inner inside outer by a 3 x 3 alignment code (column = code mod 3,
    // row = code / 3) where it is smaller; codes outside 0..8 leave it.
    static GRect AlignRect(const GRect& inner, const GRect& outer, int align);
    // Where an item's picture goes (device units) for a picture style 1..4;
    // false when nothing is drawn. box: the item in device units, itemGraph in
    // graph units; bounds: the picture's own bounds.
    static bool PictureTarget(int style, int align, const GRect& pictureRect, const GRect& itemGraph,
                              const GRect& box, int32_t num, int32_t den, const GRect& bounds, GRect* out);
    // A GDI box (right and bottom excluded) as a QRect.
    static QRect Box(const GRect& r);

private:
    struct Context;
    void DrawItem(QPainter& p, Context& c, const CGraphItem& item) const;
    void DrawItemPicture(QPainter& p, Context& c, const CGraphItem& item, const GRect& box) const;
    void DrawLabel(QPainter& p, Context& c, const CGraphItem& item, const GRect& r) const;
    void DrawIncoming(QPainter& p, Context& c, const CGraphItem& item) const;
    void DrawConnection(QPainter& p, Context& c, const CGraphConnection& conn, bool backLink) const;
    void DrawConnectionLabel(QPainter& p, Context& c, const CGraphConnection& conn, const GPoint* pt, int n,
                             bool backLink, const QColor& colour) const;
    void DrawHead(QPainter& p, Context& c, const CGraphConnection& conn, const GPoint* pt, int n, bool backLink,
                  const QColor& colour) const;
    void DrawSample(QPainter& p, Context& c) const;
    bool Culled(const Context& c, const CGraphItem& item, GRect* device) const;

    const CNodars32Ctrl& mCtl;
};

}  // namespace nodars
