#include "AppServices.h"

#include "AppGlobals.h"

#include "ui/printing.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QPrinter>
#include <QWidget>

#include <utility>

namespace app {

namespace {

Qt::CursorShape ShapeOf(int16_t pointer) {
    switch (pointer) {
        case 2: return Qt::CrossCursor;
        case 3: return Qt::IBeamCursor;
        case 5:
        case 15: return Qt::SizeAllCursor;
        case 6: return Qt::SizeBDiagCursor;
        case 7: return Qt::SizeVerCursor;
        case 8: return Qt::SizeFDiagCursor;
        case 9: return Qt::SizeHorCursor;
        case 10: return Qt::UpArrowCursor;
        case 11: return Qt::WaitCursor;
        case 12: return Qt::ForbiddenCursor;
        case 13: return Qt::BusyCursor;
        default: return Qt::ArrowCursor;
    }
}

// Capture by grabbing the active window; printing on the default printer.
class QtScreenPrint : public IScreenPrint {
public:
    QImage CaptureActiveWindow() override {
        QWidget* w = qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::activeWindow() : nullptr;
        return w ? w->grab().toImage() : QImage();
    }
    bool PrintPictureToFitPage(const QImage& picture) override {
        auto printer = ui::DefaultPrinter();
        QPainter painter;
        if (!painter.begin(printer.get())) return false;
        const bool ok = ui::DrawImageFitted(painter, painter.viewport(), picture);
        painter.end();
        return ok;
    }
};

// The defaults when none is installed; the Qt screen's pointer follows Qt's
// one override cursor, so there is one of it for the process.
QtScreen gQtScreen;
QtScreenPrint gQtScreenPrint;

}  // namespace

void QtScreen::SetMousePointer(int16_t pointer) {
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (gui) {
        if (pointer == vbDefault) {
            if (mPointer != vbDefault) QGuiApplication::restoreOverrideCursor();
        } else if (mPointer == vbDefault) {
            QGuiApplication::setOverrideCursor(QCursor(ShapeOf(pointer)));
        } else {
            QGuiApplication::changeOverrideCursor(QCursor(ShapeOf(pointer)));
        }
    }
    mPointer = pointer;
}

IStatusText* SetStatusTextSink(IStatusText* sink) { return std::exchange(Services().statusText, sink); }
IForms* SetForms(IForms* forms) { return std::exchange(Services().forms, forms); }
IScreen* SetScreen(IScreen* screen) { return std::exchange(Services().screen, screen); }
IScreenPrint* SetScreenPrint(IScreenPrint* print) { return std::exchange(Services().screenPrint, print); }

IForms* Forms() { return Services().forms; }
IScreen& Screen() {
    IScreen* screen = Services().screen;
    return screen ? *screen : gQtScreen;
}
IScreenPrint* ScreenPrint() {
    IScreenPrint* print = Services().screenPrint;
    return print ? print : &gQtScreenPrint;
}

void StatusText(const QString& text) {
    if (IStatusText* sink = Services().statusText) sink->StatusText(text);
}

}  // namespace app
