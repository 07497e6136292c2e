// OnDraw: the view centre follows the scroll position, the background is
// filled, the graph is drawn by CGraphRenderer, and the feedback of a running
// mouse operation goes on top.
#include <QPainter>

#include "CGraphRenderer.h"
#include "CNodars32Ctrl.h"

namespace nodars {

void CNodars32Ctrl::OnDraw(QPainter& painter, const QRect& bounds, const QRect& invalid) {
    ComputeZoom();
    // Scrolling moves the view centre; a fitted drawing does not scroll. The
    // centre is read where the scroll positions put it, half the client size
    // in, so that painting alone never moves it.
    if (mDrawScale != 0) {
        const GPoint centre = ScreenToGraph(GPoint{mClientRect.Width() / 2, mClientRect.Height() / 2});
        if (std::abs(centre.x - mViewCentre.x) > 1) mViewCentre.x = centre.x;
        if (std::abs(centre.y - mViewCentre.y) > 1) mViewCentre.y = centre.y;
    }
    painter.fillRect(invalid, mDrawColored ? CGraphRenderer::Rgb(BackColorRgb()) : QColor(255, 255, 255));

    RenderView view;
    view.num = mZoomNum;
    view.den = mZoomDen;
    view.origin = {mViewRect.left, mViewRect.top};
    view.offset = {mHScroll, mVScroll};
    view.bounds = bounds;
    view.clip = invalid;
    view.designTime = !mUserMode;
    CGraphRenderer(*this).Render(painter, view);

    // Feedback of a running operation (the screen's XOR drawing).
    if (mMouse.op == MouseOp::None) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(Qt::black, 0, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const GPoint off{mHScroll, mVScroll};
    const bool line = mMouse.op == MouseOp::ConnectHandle ||
                      (mMouse.op == MouseOp::ConnectBody && (mRubberBand == 1 || mRubberBand == 3));
    if (line) {
        painter.drawLine(mMouse.start.x - off.x, mMouse.start.y - off.y, mMouse.current.x - off.x,
                         mMouse.current.y - off.y);
    } else if (mMouse.op != MouseOp::ConnectBody) {
        GRect r = mMouse.feedback;
        if (mMouse.op == MouseOp::Select)
            r = {std::min(mMouse.start.x, mMouse.current.x), std::min(mMouse.start.y, mMouse.current.y),
                 std::max(mMouse.start.x, mMouse.current.x), std::max(mMouse.start.y, mMouse.current.y)};
        r.Offset(-off.x, -off.y);
        painter.drawRect(CGraphRenderer::Box({std::min(r.left, r.right), std::min(r.top, r.bottom),
                                              std::max(r.left, r.right), std::max(r.top, r.bottom)})
                             .adjusted(0, 0, -1, -1));
    }
    painter.restore();
}

}  // namespace nodars
