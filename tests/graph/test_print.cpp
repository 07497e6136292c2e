// Printing: the graph fitted into a device context or a window, and the whole
// drawing as a tiled document with a header line, onto image pages and PDF files.
#include <QAbstractScrollArea>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <cmath>

#include "GraphTestSupport.h"
#include "ui/HandleTable.h"
#include "ui/ImageTarget.h"
#include "ui/PrinterTarget.h"

using graphtest::Control;
using namespace nodars;

namespace {

const QRgb kWhite = qRgb(255, 255, 255);

// The box around every pixel that is not white; empty for a blank page.
QRect Ink(const QImage& img, QRgb colour = 0, bool anyColour = true) {
    int l = img.width(), t = img.height(), r = -1, b = -1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y) | 0xFF000000u;
            if (anyColour ? p == kWhite : p != (colour | 0xFF000000u)) continue;
            l = std::min(l, x);
            r = std::max(r, x);
            t = std::min(t, y);
            b = std::max(b, y);
        }
    return r < 0 ? QRect() : QRect(QPoint(l, t), QPoint(r, b));
}

int ScreenDpi() { return int(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInchY())); }

// Two items at graph positions given, laid out by hand in compact mode.
void TwoItems(Control& c, int x2, int y2) {
    c.PutInt(dispidArrangeMode, 1);
    c.AddItem("first");
    c.AddItem("second");
    c.Connect(0, 1);
    c.PutItem(dispidItemXPos, 0, 0);
    c.PutItem(dispidItemYPos, 0, 0);
    c.PutItem(dispidItemXPos, 1, x2);
    c.PutItem(dispidItemYPos, 1, y2);
    c.PutItem(dispidItemFillColor, 0, 0x0000FF);  // red
    c.PutItem(dispidItemFillColor, 1, 0xFF0000);  // blue
}

void PutRect(Control& c, int l, int t, int w, int h) {
    c.Put(dispidPrintRectLeft, com::Variant::I4(l));
    c.Put(dispidPrintRectTop, com::Variant::I4(t));
    c.Put(dispidPrintRectWidth, com::Variant::I4(w));
    c.Put(dispidPrintRectHeight, com::Variant::I4(h));
}

QString RunTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int PdfPages(const QString& pdf) {
    const QString info = RunTool(QStringLiteral("pdfinfo"), {pdf});
    for (const QString& line : info.split(u'\n'))
        if (line.startsWith(QLatin1String("Pages:"))) return line.mid(6).trimmed().toInt();
    return -1;
}

QImage PdfPage(const QString& pdf, int page, int dpi, const QString& png) {
    RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QString::number(dpi),
                                     QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                     QString::number(page), QStringLiteral("-singlefile"), pdf, png});
    return QImage(png + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
}

std::unique_ptr<QPrinter> PdfPrinter(const QString& path, QPageLayout::Orientation o) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    printer->setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), o, QMarginsF(0, 0, 0, 0)));
    return printer;
}

}  // namespace

TEST(GraphPrint, PrintToDCFitsTheSelectionIntoThePrintRectangle) {
    Control c;
    TwoItems(c, 500, 100);  // much wider than high
    c.PutInt(dispidPrintToDC, 0);
    auto d = c.Bounds(1);
    EXPECT_EQ(c.GetInt(dispidSelectRectWidth), d[2] - d[0]) << "0 selects the whole drawing";
    ui::ImageTarget page(QSize(400, 400), 96);
    ui::ScopedTargetHandle dc(&page);
    PutRect(c, 0, 0, 400, 400);
    int32_t before[4];
    c.Geometry()->GetView(&before[0], &before[1], &before[2], &before[3]);
    c.Put(dispidPrintToDC, com::Variant::I4(int32_t(dc.Handle())));
    int32_t after[4];
    c.Geometry()->GetView(&after[0], &after[1], &after[2], &after[3]);
    EXPECT_EQ(std::vector<int32_t>(before, before + 4), std::vector<int32_t>(after, after + 4));

    const QImage img = page.Images().at(0);
    const QRect ink = Ink(img);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.width(), 380) << "the width decides";
    EXPECT_NEAR(ink.top(), 399 - ink.bottom(), 30) << "centred vertically";
    EXPECT_GT(ink.top(), 100);

    // Printing leaves out the selection marks.
    ui::ImageTarget plain(QSize(400, 400), 96), selected(QSize(400, 400), 96);
    ui::ScopedTargetHandle h1(&plain), h2(&selected);
    c.Put(dispidPrintToDC, com::Variant::I4(int32_t(h1.Handle())));
    c.PutInt(dispidSelectedIndex, 0);
    c.Put(dispidPrintToDC, com::Variant::I4(int32_t(h2.Handle())));
    EXPECT_EQ(plain.Images().at(0), selected.Images().at(0));
}

TEST(GraphPrint, NothingToDrawPrintsNothingAndDividesByNothing) {
    Control c(300, 200, false);  // never shown: no drawing bounds
    ui::ImageTarget page(QSize(200, 200), 96);
    ui::ScopedTargetHandle dc(&page);
    c.Put(dispidPrintToDC, com::Variant::I4(int32_t(dc.Handle())));
    EXPECT_TRUE(Ink(page.Images().at(0)).isEmpty());

    // PrintGraph gives one page with its footer only: the bare page number, bottom centre.
    ui::ImageTarget doc(QSize(816, 1056), 96);
    ui::ScopedTargetHandle h(&doc);
    c.Put(dispidPrintHeader, com::Variant::Str("&5&p"));
    c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
    ASSERT_EQ(doc.Images().size(), 1u);
    const QRect ink = Ink(doc.Images()[0]);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GT(ink.top(), 1056 / 2);
    EXPECT_NEAR(ink.center().x(), 408, 12);
    // An unknown handle is no device at all.
    c.Put(dispidPrintGraph, com::Variant::I4(12345));
    EXPECT_EQ(doc.Images().size(), 1u);
}

TEST(GraphPrint, ASmallDrawingPrintsAtScreenSizeCentredOnOnePage) {
    Control c;
    TwoItems(c, 200, 100);
    c.PutInt(dispidDrawScale, 0);
    const int dpi = 2 * ScreenDpi();  // a printer at twice the screen's resolution
    ui::ImageTarget doc(QSize(1632, 2112), dpi);
    ui::ScopedTargetHandle h(&doc);
    c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
    ASSERT_EQ(doc.Images().size(), 1u);
    const QRect ink = Ink(doc.Images()[0]);
    ASSERT_FALSE(ink.isEmpty());
    auto r0 = c.ItemRect(0), r1 = c.ItemRect(1);
    EXPECT_NEAR(ink.width(), 2 * (r1[2] - r0[0]), 4) << "one screen pixel prints as its own size";
    // The drawing bounds, margins included, are centred on the page.
    auto d = c.Bounds(1);
    EXPECT_NEAR(ink.center().x(), 1632 / 2 + ((r0[0] - d[0]) - (d[2] - r1[2])), 4);

    // Far larger than the page: one page, shrunk inside the margins.
    Control big;
    TwoItems(big, 3000, 100);
    big.PutInt(dispidDrawScale, 0);
    ui::ImageTarget one(QSize(816, 1056), ScreenDpi());
    ui::ScopedTargetHandle h2(&one);
    big.Put(dispidPrintGraph, com::Variant::I4(int32_t(h2.Handle())));
    ASSERT_EQ(one.Images().size(), 1u);
    const QRect ink2 = Ink(one.Images()[0]);
    const int margin = ScreenDpi() / 2;
    EXPECT_GE(ink2.left(), margin - 1);
    EXPECT_LE(ink2.right(), 816 - margin);
    EXPECT_GT(ink2.width(), 816 - 2 * margin - 20);
}

namespace {

// a * b / c, halves away from zero (positive values only here).
int64_t Rounded(int64_t a, int64_t b, int64_t c) { return (a * b + c / 2) / c; }

// A drawing of odd width, so that its 1.5 times scaled width ends in a half.
std::unique_ptr<Control> OddWidthDrawing() {
    for (int x2 = 200; x2 < 204; ++x2) {
        auto c = std::make_unique<Control>();
        TwoItems(*c, x2, 40);
        const auto d = c->Bounds(1);
        if ((d[2] - d[0]) % 2 == 1) return c;
    }
    return nullptr;
}

}  // namespace

TEST(GraphPrint, ScaledSizesAndTheFitTestRoundAsMulDivDoes) {
    // At 150 %: one page, centred across by the rounded scaled width.
    {
        auto control = OddWidthDrawing();  // the first control makes the application
        ASSERT_TRUE(control);
        const int s = ScreenDpi();
        ASSERT_EQ(s % 2, 0);
        const int margin = s / 2;
        Control& c = *control;
        c.PutInt(dispidDrawScale, 150);
        const auto d = c.Bounds(1);
        const int dw = d[2] - d[0];
        const int num = 3 * s / 2, den = s;
        const int64_t truncated = int64_t(dw) * num / den, scaled = Rounded(dw, num, den);
        ASSERT_EQ(scaled, truncated + 1);
        const int pw = int(truncated) + 100;  // an even gap to the truncated width
        ui::ImageTarget doc(QSize(pw + 2 * margin, 3000), s);
        ui::ScopedTargetHandle h(&doc);
        c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
        ASSERT_EQ(doc.Images().size(), 1u);
        const int64_t offset = (scaled - pw) / 2 - margin;
        ASSERT_NE(offset, (truncated - pw) / 2 - margin);
        const int left = int(Rounded(c.ItemRect(0)[0] - d[0], num, den) - offset);
        EXPECT_EQ(Ink(doc.Images()[0]).left(), left);
    }
    // At 0 on a printer of 1.5 times the screen's resolution: a page exactly as
    // wide as the truncated scaled width is too narrow, so the drawing is fitted.
    {
        auto control = OddWidthDrawing();
        Control& c = *control;
        const int s = ScreenDpi();
        c.PutInt(dispidDrawScale, 0);
        const auto d = c.Bounds(1);
        const int dw = d[2] - d[0];
        const int pw = int(int64_t(dw) * 3 / 2);
        const int dpi = 3 * s / 2;
        ui::ImageTarget doc(QSize(pw + 2 * (dpi / 2), 4000), dpi);
        ui::ScopedTargetHandle h(&doc);
        c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
        ASSERT_EQ(doc.Images().size(), 1u);
        // Fitted: num/den = page width/drawing width, no centring offset.
        const int left = int(dpi / 2 + Rounded(c.ItemRect(0)[0] - d[0], pw, dw));
        EXPECT_EQ(Ink(doc.Images()[0]).left(), left);
    }
}

TEST(GraphPrint, LargeScaleTilesPagesInOneDocumentWithHeaders) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("tiles.pdf"));
    Control c;
    const int s = ScreenDpi();
    TwoItems(c, 230 * s / 96, 640 * s / 96);  // about 350 x 700 at 96 dpi: 2 x 3 pages at 300 %
    c.PutInt(dispidDrawScale, 300);
    c.Put(dispidPrintHeader, com::Variant::Str("&1Page &p of &n&3Rules"));
    int32_t before[4];
    c.Geometry()->GetView(&before[0], &before[1], &before[2], &before[3]);
    auto printer = PdfPrinter(pdf, QPageLayout::Portrait);
    {
        // The host's document and the control's join: one PDF, no blank page.
        ui::PrinterTarget target(*printer);
        ui::ScopedTargetHandle h(&target);
        ASSERT_TRUE(target.StartDoc(QStringLiteral("Tessary Flow Chart")));
        c.PutInt(dispidPrintToDC, 0);
        c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
        target.EndDoc();
        EXPECT_FALSE(target.InDocument());
    }
    int32_t after[4];
    c.Geometry()->GetView(&after[0], &after[1], &after[2], &after[3]);
    EXPECT_EQ(std::vector<int32_t>(before, before + 4), std::vector<int32_t>(after, after + 4));
    ASSERT_EQ(PdfPages(pdf), 6);
    const QString text = RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QStringLiteral("4"), QStringLiteral("-l"),
                                                          QStringLiteral("4"), QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    EXPECT_TRUE(text.contains(QStringLiteral("Page 4 of 6"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Rules")));

    // Page 1 shows the red item at its top left; page 6 the blue one.
    const QImage p1 = PdfPage(pdf, 1, 40, dir.filePath(QStringLiteral("p1")));
    const QImage p6 = PdfPage(pdf, 6, 40, dir.filePath(QStringLiteral("p6")));
    EXPECT_FALSE(Ink(p1, qRgb(255, 0, 0), false).isEmpty());
    EXPECT_TRUE(Ink(p1, qRgb(0, 0, 255), false).isEmpty());
    EXPECT_FALSE(Ink(p6, qRgb(0, 0, 255), false).isEmpty());
    EXPECT_TRUE(Ink(p6, qRgb(255, 0, 0), false).isEmpty());
}

TEST(GraphPrint, FarColumnsAtPrinterResolutionDoNotWrap) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("wide.pdf"));
    Control c;
    // At 1200 dpi a landscape page is about 11400 units wide inside its margins;
    // the fourth column starts beyond 32767.
    TwoItems(c, 3000 * ScreenDpi() / 96, 0);
    c.PutInt(dispidDrawScale, 100);
    auto printer = PdfPrinter(pdf, QPageLayout::Landscape);
    ui::PrinterTarget target(*printer);
    ui::ScopedTargetHandle h(&target);
    c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
    const int pages = PdfPages(pdf);
    ASSERT_EQ(pages, 4);
    const QImage last = PdfPage(pdf, pages, 30, dir.filePath(QStringLiteral("last")));
    EXPECT_FALSE(Ink(last, qRgb(0, 0, 255), false).isEmpty()) << "the right end of the drawing";
}

TEST(GraphPrint, PrintToWndDrawsIntoTheWholeClientArea) {
    Control c;
    TwoItems(c, 300, 0);
    QWidget window;
    window.resize(300, 100);
    window.setAutoFillBackground(true);
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, Qt::white);
    window.setPalette(pal);
    window.show();
    const uint32_t hwnd = ui::HandleTable::AddWindow(&window);
    c.PutInt(dispidPrintToWnd, 0);
    c.Put(dispidPrintToWnd, com::Variant::I4(int32_t(hwnd)));
    const QImage img = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect red = Ink(img, qRgb(255, 0, 0), false), blue = Ink(img, qRgb(0, 0, 255), false);
    ASSERT_FALSE(red.isEmpty());
    ASSERT_FALSE(blue.isEmpty());
    EXPECT_LT(red.left(), 20);
    EXPECT_GT(blue.right(), 280);
    // The drawing is one-shot: the window's next painting is its own.
    EXPECT_TRUE(Ink(window.grab().toImage().convertToFormat(QImage::Format_RGB32)).isEmpty());
    ui::HandleTable::Release(hwnd);
}

TEST(GraphPrint, ASavedLoadedAndPrintedGraphLooksAsOnScreen) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("g.ndr")), pdf = dir.filePath(QStringLiteral("g.pdf"));
    {
        Control a;
        graphtest::FlowChartChain(a, 3);
        a.PutItem(dispidItemFillColor, 0, 0x0000FF);
        a.PutItem(dispidItemFillColor, 2, 0xFF0000);
        a.Put(dispidSaveAs, com::Variant::Str(file.toStdString()));
    }
    Control c;
    c.Put(dispidLoadFrom, com::Variant::Str(file.toStdString()));
    c.PutInt(dispidDrawScale, 100);
    c.Put(dispidPrintHeader, com::Variant::Str("&2Flow chart&5Page &p of &n"));
    auto* area = qobject_cast<QAbstractScrollArea*>(c.Host()->Widget());
    const QImage screen = area->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    auto printer = PdfPrinter(pdf, QPageLayout::Portrait);
    {
        ui::PrinterTarget target(*printer);
        ui::ScopedTargetHandle h(&target);
        c.Put(dispidPrintGraph, com::Variant::I4(int32_t(h.Handle())));
    }
    ASSERT_EQ(PdfPages(pdf), 1);
    const QImage page = PdfPage(pdf, 1, ScreenDpi(), dir.filePath(QStringLiteral("page")));
    ASSERT_FALSE(page.isNull());
    // Kept for people to look at when asked for.
    const QString shots = qEnvironmentVariable("TESSARY_SCREENSHOTS");
    if (!shots.isEmpty()) {
        screen.save(shots + QStringLiteral("/graph-screen.png"));
        page.save(shots + QStringLiteral("/graph-printed-page.png"));
    }
    // The same items in the same places relative to each other, at the same size.
    const QRect sRed = Ink(screen, qRgb(255, 0, 0), false), sBlue = Ink(screen, qRgb(0, 0, 255), false);
    const QRect pRed = Ink(page, qRgb(255, 0, 0), false), pBlue = Ink(page, qRgb(0, 0, 255), false);
    ASSERT_FALSE(sRed.isEmpty() || sBlue.isEmpty() || pRed.isEmpty() || pBlue.isEmpty());
    EXPECT_NEAR(pRed.width(), sRed.width(), 2);
    EXPECT_NEAR(pRed.height(), sRed.height(), 2);
    EXPECT_NEAR(pBlue.top() - pRed.top(), sBlue.top() - sRed.top(), 2);
    EXPECT_NEAR(pBlue.left() - pRed.left(), sBlue.left() - sRed.left(), 2);
}

TEST(GraphPrint, TheControlsOwnWindowHandleTakesAFittedCopy) {
    Control c;
    TwoItems(c, 300, 200);
    const int32_t hwnd = c.GetInt(dispidHWnd);
    ASSERT_NE(hwnd, 0);
    EXPECT_EQ(c.GetInt(dispidHWnd), hwnd) << "one handle for the life of the control";
    auto* area = qobject_cast<QAbstractScrollArea*>(c.Host()->Widget());
    // A corner far from the items, empty on screen.
    const QRect corner(380, 300, 100, 80);
    const QImage before = area->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(Ink(before.copy(corner)).isEmpty());
    PutRect(c, corner.left(), corner.top(), corner.width(), corner.height());
    c.PutInt(dispidPrintToWnd, 0);
    c.Put(dispidPrintToWnd, com::Variant::I4(hwnd));
    const QImage after = area->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_FALSE(Ink(after.copy(corner), qRgb(255, 0, 0), false).isEmpty());
    EXPECT_FALSE(Ink(after.copy(corner), qRgb(0, 0, 255), false).isEmpty());
    // Clipped to the print rectangle: nothing new outside it.
    QImage outside = after;
    QImage was = before;
    for (QImage* img : {&outside, &was})
        for (int y = corner.top(); y <= corner.bottom(); ++y)
            for (int x = corner.left(); x <= corner.right(); ++x) img->setPixel(x, y, kWhite);
    EXPECT_EQ(outside, was);
}
