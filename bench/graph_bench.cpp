// The flow chart of a 128-leaf tree (255 items) in the graph control, created
// through the runtime as the program does: layout plus one full paint into a
// 1920 x 1080 image, and the repaint after scrolling by 20 pixels. Prints the
// median and the spread of each over the runs. Then one item showing a 3 KB
// run-length bitmap that declares a large image, painted 10 times: the time and
// the growth of the peak resident memory of the paints. 8192 x 4096 is the
// largest image drawn, 16384 x 8192 one beyond the limit.
//
//   graph_bench [RUNS]      (default 31)
#include <QAbstractScrollArea>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
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

// A kB figure of /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const std::string want = std::string(key) + ":";
    while (std::getline(f, line))
        if (line.compare(0, want.size(), want) == 0) return std::atol(line.c_str() + want.size());
    return -1;
}

// Starts the peak resident memory afresh from the current size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// An 8-bit run-length bitmap file of about 3 KB whose header declares width x height.
std::string RunLengthBitmap(int32_t width, int32_t height) {
    std::string codes;
    for (int i = 0; i < 1500; ++i) codes += {char(255), char(i % 4)};
    codes += {'\0', '\1'};
    std::string f;
    auto u32 = [&f](uint32_t v) {
        for (int i = 0; i < 4; ++i) f += char(v >> (8 * i));
    };
    auto u16 = [&f](uint16_t v) { f += {char(v), char(v >> 8)}; };
    const uint32_t bitsAt = 14 + 40 + 16;
    f += "BM";
    u32(bitsAt + uint32_t(codes.size()));
    u32(0);
    u32(bitsAt);
    u32(40);
    u32(uint32_t(width));
    u32(uint32_t(height));
    u16(1);
    u16(8);
    u32(1);  // 8-bit runs
    u32(uint32_t(codes.size()));
    u32(2835);
    u32(2835);
    u32(4);
    u32(0);
    f += std::string("\x20\x40\xC0\0\xC0\x40\x20\0\x40\xC0\x20\0\x80\x80\x80\0", 16);
    return f + codes;
}

void PictureRepaints(IDispatch* g, QWidget* viewport, QImage& image, int32_t width, int32_t height) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("runs.bmp").toStdString();
    const std::string file = RunLengthBitmap(width, height);
    std::ofstream(path, std::ios::binary) << file;
    com::Variant r;
    Check(com::Invoke(g, nodars::dispidClear, DISPATCH_METHOD, {}, &r), "Clear");
    Check(com::Invoke(g, nodars::dispidAddItem, DISPATCH_METHOD, {com::Variant::Str("")}, &r), "AddItem");
    Put(g, nodars::dispidDrawScale, com::Variant::I2(100));
    Put(g, nodars::dispidItemWidth, com::Variant::I4(200), {com::Variant::I2(0)});
    Put(g, nodars::dispidItemHeight, com::Variant::I4(100), {com::Variant::I2(0)});
    Put(g, nodars::dispidGraphicName, com::Variant::Str("Runs"), {com::Variant::I2(1)});
    Put(g, nodars::dispidGraphicPath, com::Variant::Str(path), {com::Variant::I2(1)});
    Put(g, nodars::dispidItemGraphic, com::Variant::I4(1), {com::Variant::I2(0)});
    Put(g, nodars::dispidItemGraphicStyle, com::Variant::I4(3), {com::Variant::I2(0)});
    std::vector<double> ms;
    std::vector<long> peaks;
    for (int paint = 0; paint < 10; ++paint) {
        ResetPeak();
        const long before = StatusKb("VmRSS");
        const auto t0 = Clock::now();
        {
            QPainter p(&image);
            viewport->render(&p);
        }
        ms.push_back(Ms(t0, Clock::now()));
        peaks.push_back(StatusKb("VmHWM") - before);
    }
    std::printf("graph_bench: a %zu-byte run-length bitmap declaring %dx%d, painted 10 times\n", file.size(), width,
                height);
    std::printf("  paint %2d: %8.2f ms, peak memory +%ld kB\n", 1, ms[0], peaks[0]);
    long later = 0;
    for (size_t i = 1; i < peaks.size(); ++i) later = std::max(later, peaks[i]);
    Report("  paints 2 to 10", std::vector<double>(ms.begin() + 1, ms.end()), 16);
    std::printf("  paints 2 to 10: peak memory at most +%ld kB\n", later);
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
    PictureRepaints(g, viewport, image, 8192, 4096);
    PictureRepaints(g, viewport, image, 16384, 8192);
    return 0;
}
