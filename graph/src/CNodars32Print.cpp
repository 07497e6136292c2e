// Printing: the graph fitted into a rectangle of a device context or a window
// (PrintToDC, PrintToWnd), and the whole drawing as a tiled document with a
// header line (PrintGraph). All of it draws through CGraphRenderer with the
// screen-only parts left out; the control's view is never changed.
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPaintEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "CGraphRenderer.h"
#include "CNodars32Ctrl.h"
#include "PrintHeader.h"
#include "ui/DrawTarget.h"
#include "ui/HandleTable.h"

namespace nodars {

namespace {

// Draws once over a window's own painting at its next paint, then goes.
class OverlayOnce : public QObject {
public:
    OverlayOnce(QWidget* w, std::function<void(QPainter&)> draw) : QObject(w), mDraw(std::move(draw)) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::Paint || mBusy) return false;
        auto* w = static_cast<QWidget*>(o);
        mBusy = true;
        w->removeEventFilter(this);
        QCoreApplication::sendEvent(w, e);  // the window paints itself first
        {
            QPainter p(w);
            mDraw(p);
        }
        deleteLater();
        return true;
    }

private:
    std::function<void(QPainter&)> mDraw;
    bool mBusy = false;
};

GRect Normalized(const GRect& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
            std::max(r.top, r.bottom)};
}

int CeilDiv(int64_t a, int64_t b) { return b > 0 ? int((a + b - 1) / b) : 1; }

// MulDiv's rounding (halves away from zero) on 64 bits, for sizes that may pass 32 bits.
int64_t MulDivRounded(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return -1;
    const int64_t p = a * b;
    const bool negative = (p < 0) != (c < 0);
    const int64_t ap = p < 0 ? -p : p, ac = c < 0 ? -c : c;
    const int64_t q = (ap + ac / 2) / ac;
    return negative ? -q : q;
}

}  // namespace

void CNodars32Ctrl::PrintFitted(uint32_t dc, uint32_t wnd) {
    ui::DrawTarget* target = dc ? ui::HandleTable::Target(dc) : nullptr;
    QWidget* window = wnd ? ui::HandleTable::Window(wnd) : nullptr;
    if (!target && !window) return;
    GRect pr = mPrintRect;
    if (pr.Width() == 0 && pr.Height() == 0) {
        const QSize size = window ? window->size() : target->PageSize();
        pr = {0, 0, size.width(), size.height()};
    }
    pr = Normalized(pr);
    GRect sel = mSelectRect;
    if (sel.Width() == 0 && sel.Height() == 0) sel = mDrawingBounds;
    sel = Normalized(sel);
    const int32_t sw = sel.Width(), sh = sel.Height(), tw = pr.Width(), th = pr.Height();
    // Nothing to scale from or to: nothing is drawn.
    if (sw <= 0 || sh <= 0 || tw <= 0 || th <= 0) return;

    RenderView view;
    const int32_t rx = MulDiv(1000, tw, sw), ry = MulDiv(1000, th, sh);
    if (rx < ry) {
        view.num = tw;
        view.den = sw;
        view.offset = {-pr.left, -pr.top - (th - MulDiv(sh, tw, sw)) / 2};
    } else {
        view.num = th;
        view.den = sh;
        view.offset = {-pr.left - (tw - MulDiv(sw, th, sh)) / 2, -pr.top};
    }
    view.origin = {sel.left, sel.top};
    view.bounds = QRect(pr.left, pr.top, tw, th);
    view.clip = view.bounds;
    view.printing = true;
    view.designTime = !mUserMode;

    if (target) {
        if (QPainter* p = target->Painter()) CGraphRenderer(*this).Render(*p, view);
        return;
    }
    // A window is painted only inside its own paint event: the graph goes over
    // its next painting, clipped to the print rectangle.
    // A drawing still waiting when the control goes is deleted with it.
    auto* overlay = new OverlayOnce(window, [this, view](QPainter& p) {
        p.setClipRect(view.bounds);
        CGraphRenderer(*this).Render(p, view);
    });
    std::erase_if(mOverlays, [](const QPointer<QObject>& o) { return o.isNull(); });
    mOverlays.emplace_back(overlay);
    window->installEventFilter(overlay);
    window->update();
}

void CNodars32Ctrl::PrintDocument(uint32_t dc) {
    ui::DrawTarget* target = ui::HandleTable::Target(dc);
    if (!target) return;
    // The screen's resolution: a printed pixel keeps its size on paper.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenX = screen ? std::max(1, int(std::lround(screen->logicalDotsPerInchX()))) : 96;
    const int screenY = screen ? std::max(1, int(std::lround(screen->logicalDotsPerInchY()))) : 96;

    if (!target->StartDoc(QStringLiteral("Nodaris"))) return;
    const QSize size = target->PageSize();
    GRect page = mPrintRect.Width() != 0 || mPrintRect.Height() != 0 ? Normalized(mPrintRect)
                                                                     : GRect{0, 0, size.width(), size.height()};
    const int dpiX = std::max(1, target->DpiX()), dpiY = std::max(1, target->DpiY());
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(std::max(1, dpiY / 6));

    QPainter* first = target->Painter();
    int32_t mw = dpiX / 10, mh = dpiY / 6;
    if (first) {
        const QFontMetrics fm(font, first->device());
        mw = fm.horizontalAdvance(QLatin1Char('M'));
        mh = fm.height();
    }
    page.left += dpiX / 2;
    page.right -= dpiX / 2;
    page.top += dpiY / 2 + 2 * mh;
    page.bottom -= dpiY / 2 + 2 * mh;
    const int32_t pw = page.Width(), ph = page.Height();

    const int32_t s = mDrawScale;
    const int32_t ax = MulDiv(1000, dpiX, screenX), ay = MulDiv(1000, dpiY, screenY);
    int32_t num, den;
    if (ax < ay) {
        num = s != 0 ? MulDiv(s, dpiX, 100) : dpiX;
        den = screenX;
    } else {
        num = s != 0 ? MulDiv(s, dpiY, 100) : dpiY;
        den = screenY;
    }
    const GRect db = mDrawingBounds;
    const int32_t dw = db.Width(), dh = db.Height();
    // An empty drawing or a page with no room left prints one page with its header only.
    const bool drawable = dw > 0 && dh > 0 && pw > 0 && ph > 0;
    if (drawable && s == 0 &&
        (MulDivRounded(dw, num, den) > pw || MulDivRounded(dh, num, den) > ph)) {
        const int32_t rx = MulDiv(1000, pw, dw), ry = MulDiv(1000, ph, dh);
        if (rx < ry) {
            num = pw;
            den = dw;
        } else {
            num = ph;
            den = dh;
        }
    }
    const int32_t ox = s != 0 ? mw : 0, oy = s != 0 ? mh : 0;
    int nx = 1, ny = 1;
    if (drawable) {
        const int64_t sx = int64_t(dw) * num, sy = int64_t(dh) * num;
        nx = std::max(1, pw - ox > 0 ? CeilDiv(sx, int64_t(pw - ox) * den) : 1);
        ny = std::max(1, ph - 2 * oy > 0 ? CeilDiv(sy, int64_t(ph - 2 * oy) * den) : 1);
    }
    const int64_t scaledW = MulDivRounded(dw, num, std::max(1, den)), scaledH = MulDivRounded(dh, num, std::max(1, den));
    const std::u16string header = mPrintHeader;

    for (int r = 0; r < ny; ++r) {
        for (int c = 0; c < nx; ++c) {
            const int p = r * nx + c + 1;
            target->StartPage();
            QPainter* painter = target->Painter();
            if (!painter) continue;
            // 32-bit offsets: far tiles of a large drawing at high resolution do not wrap.
            const int64_t h = nx == 1 ? (scaledW - pw) / 2 - page.left : int64_t(c) * (pw - ox) - page.left;
            const int64_t v = ny == 1 ? (scaledH - ph) / 2 - page.top : int64_t(r) * (ph - oy) - page.top;
            painter->save();
            painter->setFont(font);
            painter->setPen(Qt::black);
            for (const HeaderSegment& seg : ExpandHeader(header, p, nx * ny)) {
                const QString text = QString::fromStdU16String(seg.text);
                const int col = (seg.place - 1) % 3;
                const bool top = seg.place <= 3;
                const int x = col == 0 ? page.left : col == 1 ? page.CentreX() : page.right;
                const int y = top ? page.top - 2 * mh : page.bottom + 2 * mh;
                const int wide = 1 << 20;
                const QRect box(col == 0 ? x : col == 1 ? x - wide / 2 : x - wide, top ? y : y - mh, wide, mh);
                const int align = (col == 0 ? Qt::AlignLeft : col == 1 ? Qt::AlignHCenter : Qt::AlignRight) |
                                  (top ? Qt::AlignTop : Qt::AlignBottom);
                painter->drawText(box, align | Qt::TextDontClip, text);
            }
            painter->restore();
            if (drawable) {
                RenderView view;
                view.num = num;
                view.den = den;
                view.origin = {db.left, db.top};
                view.offset = {int32_t(h), int32_t(v)};
                view.bounds = QRect(page.left, page.top, pw, ph);
                view.clip = view.bounds;
                view.printing = true;
                view.designTime = !mUserMode;
                painter->save();
                painter->setClipRect(view.bounds);
                CGraphRenderer(*this).Render(*painter, view);
                painter->restore();
            }
            target->EndPage();
        }
    }
    target->EndDoc();
    ComputeZoom();
}

}  // namespace nodars
