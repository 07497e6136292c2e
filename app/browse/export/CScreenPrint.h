// The window-printing command's capture and printing: a picture of a window,
// and a picture printed on one page, as large as the page allows with its
// proportions kept. Installed with app::SetScreenPrint.
#pragma once

#include "AppServices.h"

#include <QImage>
#include <QRectF>

class QPrinter;
class QWidget;

class CScreenPrint : public app::IScreenPrint {
public:
    // The active window, frame and caption included where the platform lets a
    // program read the screen; otherwise (and with client) the window's own drawing.
    QImage CaptureActiveWindow() override;
    static QImage CaptureWindow(QWidget* window, bool client);
    // On the default printer (or the file it is redirected to); ends the job.
    bool PrintPictureToFitPage(const QImage& picture) override;
    // Portrait for a picture at least as high as wide, else landscape; the
    // picture at (0, 0) on the printer; false after the error box.
    static bool PrintPictureToFitPage(QPrinter& printer, const QImage& picture);
    // The picture's place on a page: at the top left, filling the width when
    // it is relatively wider than the page, else the height. Raises error 11
    // for a picture without height.
    static QRectF FitRect(const QSizeF& picture, const QSizeF& page);
};
