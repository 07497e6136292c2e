// Printing the flow chart over pages and a window fitted to a page, to PDF,
// checked by page count and by the pixels of a rendered page.
#include "ExportFixture.h"

#include "AppErrorOf.h"
#include "AppErrors.h"
#include "CScreenPrint.h"
#include "FPrint.h"
#include "MPrint.h"

#include "SmallDisk.h"
#include "TempDir.h"

#include "ui/printing.h"

#include <QLabel>
#include <QPushButton>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTimer>

using namespace exporttest;

namespace {

std::string Shell(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

int PdfPages(const std::string& pdf) {
    const std::string info = Shell("pdfinfo '" + pdf + "' 2>/dev/null");
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

// Page `page` of the PDF as an image at dpi dots an inch.
QImage PdfPage(const std::string& pdf, int page, int dpi) {
    const std::string base = pdf + "-page";
    Shell("pdftoppm -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " + std::to_string(page) +
        " -png -singlefile '" + pdf + "' '" + base + "'");
    return QImage(QString::fromStdString(base + ".png"));
}

// Pixels darker than light grey inside r.
int DarkPixels(const QImage& img, const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(img.pixel(x, y)) < 160) ++n;
    return n;
}

void KeepScreenshot(const std::string& png, const std::string& name) {
    const char* bin = std::getenv("TESSARY_BINARY_DIR");
    if (!bin) return;
    const std::string dir = std::string(bin) + "/screenshots";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(png, dir + "/" + name, std::filesystem::copy_options::overwrite_existing);
}

// Answers the print dialog once it is shown: up-presses on the spin, then OK or Cancel.
void AnswerPrintDialog(int ups, bool ok) {
    QTimer::singleShot(0, [ups, ok] {
        auto* dialog = qobject_cast<FPrint*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        for (int i = 0; i < ups; ++i) dialog->ChangeTile(false);
        dialog->findChild<QPushButton*>(ok ? QStringLiteral("cmdOK") : QStringLiteral("cmdCancel"))->click();
    });
}

// The fruit tree shown as a flow chart on a real graph control.
// With small, a root over two leaves, low enough for one page.
struct ChartFixture {
    ExportProject p{"print", FruitColumns(), FruitRows()};
    Panel panel;
    std::unique_ptr<CTRX> trx;
    std::string pdf = p.dir + "/chart.pdf";
    explicit ChartFixture(bool small = false) {
        trx = small ? Holding(p,
                              {TRXNode{-1, 2, -1, 0, 0, 0, 10, 4}, TRXNode{1, 0, 1, 0, 1, 1, 6, 0},
                               TRXNode{1, 0, 1, 0, 2, 0, 4, 0.5f}},
                              2, {1, 2, 0, 0, 0, 0}, 52)
                    : Built(p, 0, 52);
        panel.type = 1;
        trx->Display(panel);
        ui::SetPrintToFile(QString::fromStdString(pdf));
    }
    ~ChartFixture() { ui::SetPrintToFile(QString()); }
    int16_t Scale() { return int16_t(panel.Int(nodars::dispidDrawScale)); }
};

}  // namespace

TEST(TiledZoom, ScaleForThePagesAcross) {
    // Landscape letter at 600 dpi: (11 - 1.2) * 1 / (10 * 1.46875) * 100 = 66.7.
    EXPECT_EQ(MPrint::TiledZoom(6600, 600, 1, 10), 67);
    EXPECT_EQ(MPrint::TiledZoom(6600, 600, 3, 10), 200);
    EXPECT_EQ(MPrint::TiledZoom(6600, 600, 20, 128), 104);
    // Without leaves or resolution, or with a page too narrow for the margins.
    EXPECT_EQ(ErrorOf([] { MPrint::TiledZoom(6600, 600, 1, 0); }), 11);
    EXPECT_EQ(ErrorOf([] { MPrint::TiledZoom(6600, 0, 1, 10); }), 11);
    EXPECT_EQ(ErrorOf([] { MPrint::TiledZoom(600, 600, 1, 10); }), 6);
    EXPECT_EQ(ErrorOf([] { MPrint::TiledZoom(720, 600, 1, 10); }), 6);  // exactly the margins: 0
    EXPECT_EQ(ErrorOf([] { MPrint::TiledZoom(6000000, 600, 20, 1); }), 6);
}

TEST(PrintDialog, TilesStayOneToTwentyAndCancelMakesNoPrinter) {
    App();
    FPrint dialog;
    EXPECT_EQ(dialog.windowTitle(), "Print Flow Chart");
    EXPECT_EQ(dialog.TiledPages(), -1);
    dialog.ChangeTile(true);  // the first press after opening shows 1, whichever arrow
    EXPECT_EQ(dialog.TiledPages(), 1);
    EXPECT_EQ(dialog.TileLabel()->text(), "1");
    for (int i = 0; i < 30; ++i) dialog.ChangeTile(false);
    EXPECT_EQ(dialog.TiledPages(), 20);
    EXPECT_EQ(dialog.TileLabel()->text(), "20");
    dialog.ChangeTile(true);
    EXPECT_EQ(dialog.TiledPages(), 19);

    dialog.show();
    dialog.close();  // the close box cancels
    EXPECT_TRUE(dialog.Canceled());
    EXPECT_FALSE(dialog.Printer());
}

// One page across: as many pages down as the chart needs, each with the chart
// centred across it inside the half-inch margins.
TEST(PrintTiled, OnePageAcrossToPdfAndTheScaleComesBack) {
    ChartFixture f;
    const int16_t before = f.Scale();
    AnswerPrintDialog(0, true);  // fit to page: printed as one page wide
    MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr);
    EXPECT_TRUE(f.p.Boxes().empty()) << f.p.Boxes()[0];
    EXPECT_EQ(f.Scale(), before);
    const int pages = PdfPages(f.pdf);
    ASSERT_GE(pages, 1);
    ASSERT_LE(pages, 3);
    EXPECT_NE(Shell("pdfinfo '" + f.pdf + "'").find("Tessary Flow Chart"), std::string::npos);

    const int dpi = 50;
    for (int i = 1; i <= pages; ++i) {
        const QImage page = PdfPage(f.pdf, i, dpi);
        ASSERT_FALSE(page.isNull());
        EXPECT_GT(page.width(), page.height());  // landscape
        EXPECT_EQ(DarkPixels(page, QRect(0, 0, dpi / 2 - 2, page.height())), 0);
        EXPECT_EQ(DarkPixels(page, QRect(page.width() - dpi / 2 + 2, 0, dpi / 2 - 2, page.height())), 0);
        int left = page.width(), right = -1;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (qGray(page.pixel(x, y)) < 160) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        ASSERT_GE(right, 0) << "page " << i << " is blank";
        EXPECT_NEAR(left, page.width() - 1 - right, dpi / 5) << "page " << i;
        if (i == 1) KeepScreenshot(f.pdf + "-page.png", "flowchart-print-page1.png");
    }
}

// The tiles, their overlap and the header and footer lines are the control's.
TEST(PrintTiled, ThreePagesAcrossPrintMoreTiles) {
    ChartFixture f;
    const int16_t before = f.Scale();
    com::PropertyPut(f.panel.graph.Get(), nodars::dispidPrintHeader, com::Variant::Str("&1Page &p of &n&6Rules"));
    AnswerPrintDialog(3, true);  // -1 -> 1 -> 2 -> 3
    MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr);
    EXPECT_TRUE(f.p.Boxes().empty());
    EXPECT_EQ(f.Scale(), before);
    const int pages = PdfPages(f.pdf);
    EXPECT_GE(pages, 3);
    EXPECT_EQ(pages % 3, 0);
    const std::string second = Shell("pdftotext -f 2 -l 2 -layout '" + f.pdf + "' -");
    EXPECT_NE(second.find("Page 2 of " + std::to_string(pages)), std::string::npos) << second;
    EXPECT_NE(second.find("Rules"), std::string::npos);
    // Every tile carries part of the chart.
    for (int i = 1; i <= 3; ++i) {
        const QImage page = PdfPage(f.pdf, i, 30);
        EXPECT_GT(DarkPixels(page, page.rect()), 20) << "page " << i;
        KeepScreenshot(f.pdf + "-page.png", "flowchart-print-3across-page" + std::to_string(i) + ".png");
    }

    // The chart at a given scale on a given page, printed directly: the count
    // follows from the drawing's size.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(QString::fromStdString(f.p.dir + "/direct.pdf"));
    printer.setPageOrientation(QPageLayout::Landscape);
    com::PropertyPut(f.panel.graph.Get(), nodars::dispidDrawScale, com::Variant::I2(100));
    const int direct = MPrint::PrintChart(f.panel.graph.Get(), printer);
    EXPECT_EQ(PdfPages(f.p.dir + "/direct.pdf"), direct);
}

TEST(PrintTiled, CancelPrintsNothingAndLeavesTheScale) {
    ChartFixture f;
    com::PropertyPut(f.panel.graph.Get(), nodars::dispidDrawScale, com::Variant::I2(150));
    AnswerPrintDialog(2, false);
    MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr);
    EXPECT_EQ(f.Scale(), 150);
    EXPECT_FALSE(std::filesystem::exists(f.pdf));
    EXPECT_TRUE(f.p.Boxes().empty());
}

// A printer that cannot start is reported, not taken for a printed chart.
TEST(PrintTiled, PrinterThatCannotStartShowsTheBoxAndKeepsTheScale) {
    ChartFixture f;
    com::PropertyPut(f.panel.graph.Get(), nodars::dispidDrawScale, com::Variant::I2(150));
    ui::SetPrintToFile(QString::fromStdString(f.p.dir + "/missing/chart.pdf"));
    AnswerPrintDialog(0, true);
    MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr);
    EXPECT_EQ(f.Scale(), 150);
    ASSERT_EQ(f.p.Boxes().size(), 1u);
    EXPECT_EQ(f.p.dialogs.Messages()[0].title, "MTessary::PrintTiled");
    EXPECT_FALSE(std::filesystem::exists(f.p.dir + "/missing"));
}

TEST(PrintTiled, NoLeavesShowsTheBoxAndKeepsTheScale) {
    ChartFixture f;
    const int16_t before = f.Scale();
    AnswerPrintDialog(0, true);
    MPrint::PrintTiled(f.panel.graph.Get(), 0, nullptr);
    EXPECT_EQ(f.Scale(), before);
    ASSERT_EQ(f.p.Boxes().size(), 1u);
    EXPECT_EQ(f.p.dialogs.Messages()[0].title, "MTessary::PrintTiled");
    EXPECT_FALSE(std::filesystem::exists(f.pdf));
}

// Printing to a file that is the project's data source, by a relative link
// and a symbolic link, is refused and leaves the source as it was.
TEST(PrintTiled, PrintingOntoTheDataSourceIsRefused) {
    ChartFixture f;
    {
        DatabasePtr db = f.p.project.OpenProject(false);
        dao::TableDef link = db->TableDefs()["LinkDataSource"];
        link.SetConnect(";DATABASE=./data.db");
        link.RefreshLink();
    }
    const std::string alias = f.p.dir + "/chart-to-source.pdf";
    std::filesystem::create_symlink(f.p.dataPath, alias);
    const std::string before = ReadFile(f.p.dataPath);
    ui::SetPrintToFile(QString::fromStdString(alias));
    AnswerPrintDialog(0, true);
    MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr, &f.p.project);
    EXPECT_EQ(f.p.Boxes(), std::vector<std::string>{
                               "Print Flow Chart | Cannot overwrite project datasource.  Please select another file name."});
    EXPECT_EQ(ReadFile(f.p.dataPath), before);
}

// The chart printed to a file takes the name's place: a link of that name is
// replaced, never written through.
TEST(PrintTiled, PrintingOntoALinkReplacesIt) {
    ChartFixture f;
    const std::string victim = f.p.dir + "/victim.txt";
    WriteFile(victim, "keep");
    std::filesystem::create_symlink(victim, f.pdf);
    AnswerPrintDialog(0, true);
    MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr, &f.p.project);
    EXPECT_TRUE(f.p.Boxes().empty());
    EXPECT_FALSE(std::filesystem::is_symlink(f.pdf));
    EXPECT_GE(PdfPages(f.pdf), 1);
    EXPECT_TRUE(ReadFile(victim) == "keep");
}

// A printed file that the check asked again refuses as it is to take its
// name is no print: the caller hears so, and the old file is as it was.
TEST(PrintToPdf, ARefusalAsTheFileTakesItsNameIsNoPrint) {
    App();
    testsupport::TempDir dir;
    const std::string pdf = dir.File("out.pdf");
    WriteFile(pdf, "old");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    const auto page = [&] {
        QPainter painter(&printer);
        painter.drawText(100, 100, QStringLiteral("page"));
    };
    std::string asked;
    const auto refuse = [&](const std::string& target) {
        asked = target;
        return false;
    };
    EXPECT_FALSE(MPrint::PrintAside(printer, refuse, page));
    EXPECT_EQ(asked, pdf);
    EXPECT_EQ(ReadFile(pdf), "old");
    EXPECT_EQ(printer.outputFileName().toStdString(), pdf);
    EXPECT_TRUE(MPrint::PrintAside(printer, nullptr, page));
    EXPECT_EQ(PdfPages(pdf), 1);
}

TEST(ScreenPrint, FitRectKeepsProportions) {
    EXPECT_EQ(CScreenPrint::FitRect({100, 100}, {800, 1000}), QRectF(0, 0, 800, 800));
    // Twice as wide as high: page less than twice as wide takes the full width.
    EXPECT_EQ(CScreenPrint::FitRect({200, 100}, {1000, 800}), QRectF(0, 0, 1000, 500));
    // A page more than twice as wide: the full height.
    EXPECT_EQ(CScreenPrint::FitRect({200, 100}, {1000, 400}), QRectF(0, 0, 800, 400));
    EXPECT_EQ(ErrorOf([] { CScreenPrint::FitRect({200, 0}, {1000, 400}); }), 11);
}

TEST(ScreenPrint, WideWindowPrintsLandscapeFromTheTopLeft) {
    App();
    ui::ScopedRecorder dialogs;
    QWidget window;
    window.setFixedSize(400, 200);
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, Qt::black);
    window.setPalette(palette);
    window.show();
    const QImage picture = CScreenPrint::CaptureWindow(&window, true);
    ASSERT_EQ(picture.size(), QSize(400, 200) * window.devicePixelRatio());

    const std::string dir = TempDir("screen");
    const std::string pdf = dir + "/screen.pdf";
    ui::SetPrintToFile(QString::fromStdString(pdf));
    CScreenPrint print;
    const bool ok = print.PrintPictureToFitPage(picture);
    ui::SetPrintToFile(QString());
    ASSERT_TRUE(ok);
    EXPECT_EQ(PdfPages(pdf), 1);
    const QImage page = PdfPage(pdf, 1, 30);
    ASSERT_FALSE(page.isNull());
    EXPECT_GT(page.width(), page.height());
    // Black across the printable width from the top left; white below the picture.
    const QRect printable(page.width() / 10, page.height() / 10, page.width() * 8 / 10, page.height() / 4);
    EXPECT_EQ(DarkPixels(page, printable), printable.width() * printable.height());
    EXPECT_EQ(DarkPixels(page, QRect(0, page.height() * 3 / 4, page.width(), page.height() / 4)), 0);
    KeepScreenshot(pdf + "-page.png", "screen-print-page1.png");

    // Nothing to print: the box, no success.
    EXPECT_FALSE(print.PrintPictureToFitPage(QImage()));
    ASSERT_EQ(dialogs.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Messages()[0].title, "MScreenPrint::PrintPictureToFitPage");
    std::filesystem::remove_all(dir);
}

// A PDF printed onto a disk that fills up, the flow chart and a screen
// capture: either a whole PDF, or a box that says the disk is full and names
// the chosen file, which is then as it was.
TEST(PrintToPdf, FullDiskIsReportedNeverCommittedAsAPrint) {
    ChartFixture f;
    App();
    QImage picture(1600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x * 7 % 256, y * 13 % 256, (x ^ y) % 256));
    const std::function<bool()> printers[] = {
        [&] {
            AnswerPrintDialog(0, true);
            MPrint::PrintTiled(f.panel.graph.Get(), f.trx->LeafCount(), nullptr);
            return f.p.dialogs.Messages().empty();
        },
        [&] { return CScreenPrint().PrintPictureToFitPage(picture); },
    };
    int failures = 0;
    for (int which = 0; which < 2; ++which) {
        for (const bool existing : {false, true}) {
            for (const size_t free : {0u, 8u << 10, 24u << 10}) {
                SCOPED_TRACE(std::string(which ? "screen, " : "chart, ") + (existing ? "existing file, " : "new file, ") +
                             std::to_string(free >> 10) + " KB free");
                testsupport::SmallDisk disk(1 << 20);
                if (!disk.Ready()) GTEST_SKIP() << disk.Why();
                const std::string pdf = disk.File("out.pdf");
                if (existing) WriteFile(pdf, "old");
                ui::SetPrintToFile(QString::fromStdString(pdf));
                disk.LeaveFree(free);
                f.p.dialogs.Clear();
                const bool done = printers[which]();
                disk.Unfill();
                if (done) {
                    EXPECT_TRUE(f.p.Boxes().empty());
                    EXPECT_GE(PdfPages(pdf), 1);
                } else {
                    ++failures;
                    ASSERT_EQ(f.p.Boxes().size(), 1u);
                    EXPECT_EQ(f.p.Boxes()[0], std::string(which ? "MScreenPrint::PrintPictureToFitPage" : "MTessary::PrintTiled") +
                                                  " | Error: 3035. \nSystem resource exceeded (disk full): no space "
                                                  "left on the device for '" + pdf +
                                                  (existing ? "'. It is left as it was." : "'. It was not made."));
                    if (existing) EXPECT_EQ(ReadFile(pdf), "old");
                    else EXPECT_FALSE(std::filesystem::exists(pdf));
                }
                std::vector<std::string> left;
                for (const auto& e : std::filesystem::directory_iterator(disk.Path()))
                    left.push_back(e.path().filename().string());
                EXPECT_EQ(left, (existing || done) ? std::vector<std::string>{"out.pdf"} : std::vector<std::string>{});
            }
        }
    }
    EXPECT_GT(failures, 0);  // the sizes are chosen so that the disk does fill up
}
