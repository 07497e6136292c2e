// The program: start-up through MTessary::Main, then the event loop until the
// main window closes.
#include "CTessaryApp.h"
#include "FMain.h"
#include "MTessary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    QApplication application(argc, argv);
    QApplication::setApplicationName(MTessary::ProgramTitle());
    QStringList args = QApplication::arguments();
    args.removeFirst();
    int rc = 0;
    {
        CTessaryApp app;
        if (!MTessary::Main(args)) return 0;
        // TESSARY_SHOWN_EXIT: report the time to a shown main window, once the
        // start-up events are through, and end (start-up timing).
        if (std::getenv("TESSARY_SHOWN_EXIT")) {
            QTimer::singleShot(0, [&app, &clock] {
                std::printf("shown after %lld ms\n", static_cast<long long>(clock.elapsed()));
                std::fflush(stdout);
                if (app.main) app.main->close();
                QApplication::quit();
            });
        }
        rc = QApplication::exec();
    }
    return rc;
}
