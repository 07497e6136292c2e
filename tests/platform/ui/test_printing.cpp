#include "ui/printing.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

TEST(PrintHelpers, ImageIsFittedWithAspectKeptAndCentred) {
    QImage wide(200, 100, QImage::Format_RGB32);
    wide.fill(Qt::red);
    QImage page(100, 100, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        EXPECT_TRUE(ui::DrawImageFitted(p, page.rect(), wide));
    }
    // 200x100 into 100x100 gives 100x50 centred: white bands above and below.
    EXPECT_EQ(page.pixelColor(50, 10), QColor(Qt::white));
    EXPECT_EQ(page.pixelColor(50, 90), QColor(Qt::white));
    EXPECT_EQ(page.pixelColor(50, 50), QColor(Qt::red));
    EXPECT_EQ(page.pixelColor(1, 50), QColor(Qt::red));
    QPainter p(&page);
    EXPECT_FALSE(ui::DrawImageFitted(p, page.rect(), QImage()));
}

TEST(PrintHelpers, DefaultPrinterRedirectsToPdf) {
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const QString pdf = dir.filePath("out.pdf");
    ui::SetPrintToFile(pdf);
    {
        auto printer = ui::DefaultPrinter();
        EXPECT_EQ(printer->outputFormat(), QPrinter::PdfFormat);
        QPainter painter(printer.get());
        QImage img(40, 40, QImage::Format_RGB32);
        img.fill(Qt::blue);
        EXPECT_TRUE(ui::DrawImageFitted(painter, painter.viewport(), img));
    }
    ui::SetPrintToFile(QString());
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(4) == "%PDF");
}

}  // namespace
