#include "CScreenPrint.h"

#include "AppErrors.h"
#include "MPrint.h"
#include "ErrorGuard.h"

#include "ui/printing.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QScreen>
#include <QWidget>

QImage CScreenPrint::CaptureActiveWindow() {
    try {
        QWidget* window = QApplication::activeWindow();
        return window ? CaptureWindow(window, false) : QImage();
    } catch (...) {
        // Nothing to capture: an empty picture.
        base::RecordCaught("CScreenPrint::CaptureActiveWindow");
        return QImage();
    }
}

QImage CScreenPrint::CaptureWindow(QWidget* window, bool client) {
    try {
        if (!window) app::RaiseError(91);
        window = window->window();
        // Only an X screen lets a program read what is shown, frame included.
        if (!client && QGuiApplication::platformName() == QLatin1String("xcb") && window->screen()) {
            const QRect frame = window->frameGeometry();
            const QImage shot = window->screen()
                                    ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                                    .toImage();
            if (!shot.isNull()) return shot;
        }
        return window->grab().toImage();
    } catch (...) {
        // Shown; the caller gets an empty picture.
        base::ShowCaught("MScreenPrint::CaptureWindow");
        return QImage();
    }
}

QRectF CScreenPrint::FitRect(const QSizeF& picture, const QSizeF& page) {
    if (picture.height() <= 0 || page.height() <= 0) app::RaiseError(11);
    const double pictureRatio = picture.width() / picture.height();
    const double pageRatio = page.width() / page.height();
    if (pictureRatio >= pageRatio) return QRectF(0, 0, page.width(), page.width() / pictureRatio);
    return QRectF(0, 0, page.height() * pictureRatio, page.height());
}

bool CScreenPrint::PrintPictureToFitPage(QPrinter& printer, const QImage& picture) {
    return base::ShowErrors("MScreenPrint::PrintPictureToFitPage", [&] {
        if (picture.isNull()) app::RaiseError(11);
        printer.setPageOrientation(picture.height() >= picture.width() ? QPageLayout::Portrait
                                                                       : QPageLayout::Landscape);
        const QRectF target = FitRect(picture.size(), printer.pageLayout().paintRectPixels(printer.resolution()).size());
        return MPrint::PrintAside(printer, nullptr, [&] {
            QPainter painter;
            if (!painter.begin(&printer)) throw app::RuntimeError(482, "Printer error");
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(target, picture);
            if (!painter.end()) throw app::RuntimeError(482, "Printer error");
        });
    });
}

bool CScreenPrint::PrintPictureToFitPage(const QImage& picture) {
    auto printer = ui::DefaultPrinter();
    return PrintPictureToFitPage(*printer, picture);
}
