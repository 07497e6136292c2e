// The flow chart of a 128-leaf tree (255 items) in the graph control, created
// through the runtime as the program does: layout plus one full paint into a
// 1920 x 1080 image, and the repaint after scrolling by 20 pixels. Prints the
// median and the spread of each over the runs.
//
//   graph_bench [RUNS]      (default 31)
#include <QAbstractScrollArea>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "com/com.h"
#include "nodars/Nodars32.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        std::fprintf(stderr, "graph_bench: %s failed: 0x%08X\n", what, unsigned(hr));
        std::exit(1);
    }
}

void Put(IDispatch* g, DISPID id, const com::Variant& v, std::vector<VARIANT> ix = {}) {
    Check(com::PropertyPut(g, id, v, ix), "put");
}

void Report(const char* what, std::vector<double> ms, double aim) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms  (min %6.2f, max %6.2f; aim < %g ms)\n", what, ms[ms.size() / 2], ms.front(),
                ms.back(), aim);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
#ifdef TESSARY_CLASSES_DEFAULT
    if (!std::getenv("TESSARY_CLASSES")) setenv("TESSARY_CLASSES", TESSARY_CLASSES_DEFAULT, 1);
#endif
    QApplication app(argc, argv);
    QWidget host;
    host.resize(1920, 1080);
    com::ComPtr<IDispatch> graph;
    Check(com::CreateInstance(nodars::kProgId, IID_IDispatch, graph.PutVoid()), "creating the graph control");
    com::ComPtr<nodars::IControlHosting> hosting;
    Check(graph.As(nodars::IID_IControlHosting, &hosting), "hosting interface");
    hosting->SetParentWidget(&host);
    hosting->SetBounds(0, 0, 1920, 1080);
    host.show();
    IDispatch* g = graph.Get();
    auto* area = qobject_cast<QAbstractScrollArea*>(hosting->Widget());

    // The tree-graph panel's settings: tree arrangement, top to bottom.
    Put(g, nodars::dispidArrangeMode, com::Variant::I2(3));
    const int items = 255;  // a full binary tree: 127 inner nodes, 128 leaves
    com::Variant r;
    Check(com::Invoke(g, nodars::dispidClear, DISPATCH_METHOD, {}, &r), "Clear");
    for (int i = 0; i < items; ++i)
        Check(com::Invoke(g, nodars::dispidAddItem, DISPATCH_METHOD,
                          {com::Variant::Str(i < 127 ? "Field" + std::to_string(i % 7) + " <= " + std::to_string(i)
                                                     : "Leaf " + std::to_string(i) + "\r\n[Class = c" +
                                                           std::to_string(i % 5) + "]")},
                          &r),
              "AddItem");
    for (int i = 0; i < 127; ++i)
        for (int c : {2 * i + 1, 2 * i + 2}) Put(g, nodars::dispidConnectTo, com::Variant::I2(int16_t(c)), {com::Variant::I2(int16_t(i))});
    for (int i = 0; i < items; ++i)
        Put(g, nodars::dispidItemFillColor, com::Variant::I4(0xFF0000 | ((i * 3) & 0xFF) << 8 | ((i * 3) & 0xFF)),
            {com::Variant::I2(int16_t(i))});

    if (std::getenv("GRAPH_BENCH_NOLABELS")) Put(g, nodars::dispidDrawItemLabels, com::Variant::Bool(false));
    QImage image(1920, 1080, QImage::Format_RGB32);
    QWidget* viewport = area->viewport();
    std::vector<double> layoutPaint, layoutOnly, paintOnly, scroll;
    for (int run = 0; run < runs; ++run) {
        // Fitted to the window, as the driver shows a new tree.
        Put(g, nodars::dispidDrawScale, com::Variant::I2(0));
        const auto t0 = Clock::now();
        Put(g, nodars::dispidAutoArrange, com::Variant::I2(2));
        const auto t1 = Clock::now();
        {
            QPainter p(&image);
            viewport->render(&p);
        }
        const auto t2 = Clock::now();
        layoutOnly.push_back(Ms(t0, t1));
        paintOnly.push_back(Ms(t1, t2));
        layoutPaint.push_back(Ms(t0, t2));

        // At 100 % the chart is wider than the window: scroll by 20 pixels and let
        // the widget repaint what came into view.
        Put(g, nodars::dispidDrawScale, com::Variant::I2(100));
        QScrollBar* bar = area->horizontalScrollBar();
        if (bar->maximum() < 40) {
            std::fprintf(stderr, "graph_bench: nothing to scroll (range %d)\n", bar->maximum());
            return 1;
        }
        QCoreApplication::processEvents();
        bar->setValue(run % 2 ? 0 : 20);
        const auto s0 = Clock::now();
        bar->setValue(run % 2 ? 20 : 0);
        viewport->repaint(viewport->rect().adjusted(0, 0, 0, 0).intersected(
            QRect(run % 2 ? viewport->width() - 20 : 0, 0, 20, viewport->height())));
        const auto s1 = Clock::now();
        scroll.push_back(Ms(s0, s1));
    }
    // The layout really ran: the leaves stand side by side.
    std::vector<int> xs;
    for (int i = 127; i < items; ++i) {
        com::Variant v;
        Check(com::PropertyGet(g, nodars::dispidItemXPos, &v, {com::Variant::I2(int16_t(i))}), "ItemXPos");
        xs.push_back(v.ToI4());
    }
    std::sort(xs.begin(), xs.end());
    const long distinct = std::unique(xs.begin(), xs.end()) - xs.begin();
    std::printf("graph_bench: %d items, %d runs, viewport %dx%d, leaves at %ld distinct x positions\n", items, runs,
                viewport->width(), viewport->height(), distinct);
    Report("layout + full paint (1920x1080)", layoutPaint, 16);
    Report("  layout (AutoArrange 2)", layoutOnly, 16);
    Report("  full paint", paintOnly, 16);
    Report("scroll by 20 px + repaint of the new strip", scroll, 8);
    return 0;
}
