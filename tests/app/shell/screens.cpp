// Walks what the program shows and writes a PNG of each step: the main window
// on a project, its menus, the preferences and about windows, the progress
// window during a statistics run, the window after closing the project, the
// first three steps of a new project over the sample's data file (table,
// fields, row ranges), a wide flow chart zoomed in twice, Browse Test Data at
// 800 x 600, and the confusion matrix of a project with more classes than fit.
// Usage: tessary_screens <out folder> <project>   (run under a display, e.g. Xvfb)
#include "CBrowseGrid.h"
#include "CCommandTable.h"
#include "CDataDef.h"
#include "CProject.h"
#include "CTessaryApp.h"
#include "FAbout.h"
#include "FMain.h"
#include "FPref.h"
#include "FPrint.h"
#include "FSplash.h"
#include "FStatus.h"
#include "IFieldSelectPanel.h"
#include "IInteractivePanel.h"
#include "IMatrixPanel.h"
#include "IReportPanel.h"
#include "IPrunePanel.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"
#include "MTessary.h"
#include "MMenu.h"
#include "MdbUtils.h"
#include "NominalTable.h"
#include "PanelSet.h"
#include "UGrid.h"

#include "ui/testing.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <string>

#include <sqlite3.h>

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

bool Save(QWidget* w, const QString& dir, const char* name) {
    Settle();
    const QString path = dir + QLatin1Char('/') + QString::fromUtf8(name);
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// A table whose tree cuts on long field names: diagnosis follows
// worst_perimeter above about 114, mean_concave_points_ratio adds a second cut.
bool WrapDemoTable(const QString& path) {
    QFile::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) return false;
    std::string sql =
        "CREATE TABLE cells (Id INTEGER PRIMARY KEY, worst_perimeter DOUBLE, mean_concave_points_ratio DOUBLE, "
        "diagnosis VARCHAR(10));BEGIN;";
    for (int i = 1; i <= 300; ++i) {
        const double perimeter = 60 + (i * 37 % 120) + (i % 10) / 10.0;
        const double radius = 8 + (i * 13 % 140) / 10.0;
        const bool malignant = perimeter > 114.3 || (perimeter > 90 && radius > 17.5);
        sql += "INSERT INTO cells VALUES (" + std::to_string(i) + "," + std::to_string(perimeter) + "," +
               std::to_string(radius) + ",'" + (malignant ? "malignant" : "benign") + "');";
    }
    const bool made = sqlite3_exec(db, (sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return made;
}

}  // namespace

// On the field-selection step: every field an input but `ignored`, and `output` the output.
void ChooseFields(QWidget* fields, const QString& ignored, const QString& output) {
    const auto button = [fields](int i) {
        fields->findChild<QToolButton*>(QStringLiteral("cmdMvFd%1").arg(i))->click();
    };
    const auto select = [fields](const char* list, const QString& name) {
        auto* w = fields->findChild<QListWidget*>(QString::fromUtf8(list));
        w->clearSelection();
        for (auto* item : w->findItems(name, Qt::MatchStartsWith)) item->setSelected(true);
    };
    button(3);
    select("lstFieldsTo", ignored);
    button(4);
    select("lstFieldsTo", output);
    button(4);
    select("lstFieldsFrom", output);
    button(0);
}

// File > New with the given project name, the data file chosen in the table
// step and its table taken, every field an input but `ignored`, `output` the
// output, and Next: the new project at its row-range step.
void NewProjectOver(FMain& main, ui::ScopedRecorder& answers, const QString& project, const QString& data,
                    const QString& tableName, const QString& ignored, const QString& output) {
    answers.files.push_back(project);
    MTessary::MenuCommand(QStringLiteral("mnuFileNew"));
    answers.files.push_back(data);
    QWidget* table = main.Panels().tableSel;
    table->findChild<QPushButton*>(QStringLiteral("cmdOpenFile"))->click();
    auto* tables = table->findChild<QListWidget*>(QStringLiteral("lstTables"));
    const auto found = tables->findItems(tableName, Qt::MatchExactly);
    if (!found.isEmpty()) tables->setCurrentItem(found.front());
    table->findChild<QPushButton*>(QStringLiteral("cmdTableOK"))->click();
    QWidget* fields = main.Panels().fieldSel;
    ChooseFields(fields, ignored, output);
    fields->findChild<QPushButton*>(QStringLiteral("lnkNext"))->click();
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: tessary_screens <out folder> <project>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    bool ok = true;
    CTessaryApp app;
    if (!MTessary::Main({QString::fromLocal8Bit(argv[2])})) return 1;
    FMain& main = *app.main;
    if (app.splash) ok &= Save(app.splash, out, "00-splash.png");
    if (app.splash) app.splash->close();
    main.resize(1100, 700);
    ok &= Save(&main, out, "01-main-on-project.png");

    for (const char* band : {"popFile", "popView"}) {
        QMenu* menu = main.Bar()->Band(QString::fromUtf8(band));
        menu->popup(main.mapToGlobal(QPoint(10, 30)));
        ok &= Save(menu, out, band[3] == 'F' ? "02-file-menu.png" : "03-reports-menu.png");
        menu->hide();
    }
    {
        FPref pref(&main);
        pref.show();
        ok &= Save(&pref, out, "04-preferences.png");
    }
    {
        FAbout about(&main);
        about.show();
        ok &= Save(&about, out, "05-about.png");
    }
    // The progress window over a real statistics run of the project's table.
    {
        auto project = app::Globals().gProject;
        auto dataDef = std::make_shared<CDataDef>();
        DatabasePtr db = project->OpenProject(false);
        dataDef->Initialize(db, "LinkDataSource");
        bool shot = false;
        MTessary::RunWithProgress(QStringLiteral("Collecting Statistics..."), dataDef, nullptr, [&] {
            FStatus* status = MTessary::Status();
            auto watch = dataDef->OnProgress;
            dataDef->OnProgress = [&, watch](int16_t p) {
                watch(p);
                if (!shot && p >= 50) {
                    shot = true;
                    ok &= Save(status, out, "06-progress.png");
                }
            };
            dataDef->CollectStats(db);
        });
        project->CloseProject();
    }
    // The extraction road: the flow chart and rule tree, the classified test
    // rows, the confusion matrix, the test rows in the grid, live prediction.
    main.State().SetStateValue(4);
    ok &= Save(&main, out, "08-extraction-flow-chart.png");
    MTessary::MenuCommand(QStringLiteral("mnuViewTree"));
    MTessary::MenuCommand(QStringLiteral("mnuZoomIn"));
    ok &= Save(&main, out, "09-rule-tree.png");
    // Finish, clicked; the report links as they are right after it. The walk
    // fails when an enabled link is drawn grey.
    if (auto* finish = main.Panels().prune->findChild<QPushButton*>(QStringLiteral("lnkOK"))) finish->click();
    ok &= main.State().State() == 5 && Save(&main, out, "09b-report-links-after-finish.png");
    for (int i = 0; i < 8; ++i) {
        auto* link = main.Panels().report->findChild<QWidget*>(QStringLiteral("lnkNavMain%1").arg(i));
        auto* caption = link ? link->findChild<QLabel*>(QStringLiteral("lblCaption")) : nullptr;
        if (!caption) {
            ok = false;
            continue;
        }
        const QColor colour = caption->palette().color(QPalette::WindowText);
        const bool grey = colour == QColor(128, 128, 128);
        std::printf("link %s: %s, %s\n", qPrintable(caption->text()), qPrintable(colour.name()),
                    link->isEnabledTo(main.Panels().report) ? "enabled" : "disabled");
        if (grey == link->isEnabledTo(main.Panels().report)) ok = false;
    }
    MTessary::MenuCommand(QStringLiteral("mnuViewMatrix"));
    ok &= Save(&main, out, "10-confusion-matrix.png");
    MTessary::MenuCommand(QStringLiteral("mnuViewBrowseTest"));
    ok &= Save(&main, out, "11-browse-test.png");
    // The same at 800 x 600, where the data columns do not fill their split:
    // it starts at the first used column, whole (the key is not used).
    main.resize(800, 600);
    MTessary::MenuCommand(QStringLiteral("mnuViewBrowseAll"));
    MTessary::MenuCommand(QStringLiteral("mnuViewBrowseTest"));
    ok &= Save(&main, out, "11b-browse-test-800x600.png");
    if (auto* grid = dynamic_cast<UGrid*>(main.Panels().grid)) {
        QTableView* data = grid->Grid()->SplitView(1);
        const int left = data->columnAt(0);
        const bool whole = data->columnViewportPosition(left) == 0;
        std::printf("browse test at 800x600 starts at %s, %s\n",
                    qPrintable(data->model()->headerData(left, Qt::Horizontal).toString()),
                    whole ? "whole" : "CLIPPED");
        ok &= whole;
    }
    main.resize(1100, 700);
    MTessary::MenuCommand(QStringLiteral("mnuViewFlow"));
    ok &= Save(&main, out, "12-report-flow-chart.png");
    MTessary::MenuCommand(QStringLiteral("mnuLivePredict"));
    if (auto* live = main.Panels().interact) {
        const auto edits = live->findChildren<QLineEdit*>(QStringLiteral("txtValue"));
        const char* values[] = {"6.3", "2.8", "5.0", "1.7"};
        for (int i = 0; i < edits.size() && i < 4; ++i) {
            edits[i]->setText(QString::fromUtf8(values[i]));
            emit edits[i]->returnPressed();
        }
        if (auto* timer = live->findChild<QTimer*>(QStringLiteral("tmrFirePredict"))) {
            QElapsedTimer wait;
            wait.start();
            while (timer->isActive() && wait.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    ok &= Save(&main, out, "13-live-prediction.png");
    // Class details of one measurement, sorted by a click on the "Count" heading.
    MTessary::MenuCommand(QStringLiteral("mnuViewClassList"));
    if (auto* field = main.findChild<QComboBox*>(QStringLiteral("cmbClass")))
        field->setCurrentIndex(field->findText(QStringLiteral("SepalLength")));
    if (auto* list = main.findChild<QTreeWidget*>(QStringLiteral("lvwClass"))) {
        QHeaderView* header = list->header();
        Settle();
        const QPointF at(header->sectionViewportPosition(1) + header->sectionSize(1) / 2.0, header->height() / 2.0);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent click(type, at, header->viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(header->viewport(), &click);
        }
    }
    ok &= Save(&main, out, "13b-class-details.png");
    MTessary::MenuCommand(QStringLiteral("mnuFileClose"));
    ok &= Save(&main, out, "07-project-closed.png");

    // The data-source dialog as a person sees it; its fourth file type opens the
    // ODBC data-source chooser (cancelled here).
    {
        QTimer::singleShot(300, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            ok &= Save(dialog, out, "14-data-source-dialog.png");
            QTimer::singleShot(300, [&] {
                if (QWidget* chooser = QApplication::activeModalWidget()) {
                    ok &= Save(chooser, out, "15-odbc-chooser.png");
                    chooser->close();
                }
            });
            if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
                types->setCurrentIndex(4);
                emit types->activated(4);
                emit types->textActivated(types->itemText(4));
            }
            if (dialog->isVisible()) dialog->reject();
        });
        MMenu::SelectDataSource();
    }
    // A new project over the sample's data file, through its first three steps.
    {
        ui::ScopedRecorder answers;
        const QString folder = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath();
        answers.files.push_back(folder + QStringLiteral("/new.txp"));
        MTessary::MenuCommand(QStringLiteral("mnuFileNew"));
        answers.files.push_back(folder + QStringLiteral("/iris.mdb"));
        QWidget* table = main.Panels().tableSel;
        table->findChild<QPushButton*>(QStringLiteral("cmdOpenFile"))->click();
        auto* tables = table->findChild<QListWidget*>(QStringLiteral("lstTables"));
        const auto iris = tables->findItems(QStringLiteral("iris"), Qt::MatchExactly);
        if (!iris.isEmpty()) tables->setCurrentItem(iris.front());
        ok &= !iris.isEmpty() && Save(&main, out, "16-table-selection.png");
        table->findChild<QPushButton*>(QStringLiteral("cmdTableOK"))->click();
        ok &= main.State().State() == 2 && Save(&main, out, "17-field-selection.png");
        QWidget* fields = main.Panels().fieldSel;
        ChooseFields(fields, QStringLiteral("IndexCounter1"), QStringLiteral("Species"));
        ok &= Save(&main, out, "18-fields-chosen.png");
        fields->findChild<QPushButton*>(QStringLiteral("lnkNext"))->click();
        ok &= main.State().State() == 3 && Save(&main, out, "19-row-ranges.png");
        if (!answers.Messages().empty()) {
            std::printf("unexpected message: %s\n", qPrintable(answers.Messages().front().text));
            ok = false;
        }
    }
    // ---- Step: a flow chart whose leaf conditions wrap -------------------------
    // A new project over a generated table with long field names, extracted:
    // every leaf shows its condition, wrapped, and its class line.
    {
        const QString folder = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath();
        ok &= WrapDemoTable(folder + QStringLiteral("/cells.db"));
        ui::ScopedRecorder answers;
        NewProjectOver(main, answers, folder + QStringLiteral("/cells.txp"), folder + QStringLiteral("/cells.db"),
                       QStringLiteral("cells"), QStringLiteral("Id"), QStringLiteral("diagnosis"));
        if (main.State().State() == 3)
            main.findChild<QWidget*>(QStringLiteral("pnlSetLimits"))->findChild<QPushButton*>(QStringLiteral("lnkNext"))->click();
        ok &= main.State().State() == 4 && Save(&main, out, "20-flow-chart-wrapped-conditions.png");
        MTessary::MenuCommand(QStringLiteral("mnuZoomIn"));
        ok &= Save(&main, out, "21-flow-chart-wrapped-conditions-zoomed.png");
        // The same tree as the Tree Chart at 800 x 600, every branch open: the
        // long lines whole, scrolled sideways to their ends.
        {
            const QSize size = main.size();
            main.resize(800, 600);
            MTessary::MenuCommand(QStringLiteral("mnuViewTree"));
            MTessary::MenuCommand(QStringLiteral("mnuZoomIn"));
            ok &= Save(&main, out, "21a-tree-chart-800x600.png");
            if (auto* tree = main.findChild<QTreeWidget*>(QStringLiteral("treeMain"))) {
                tree->horizontalScrollBar()->setValue(tree->horizontalScrollBar()->maximum());
                std::printf("tree chart at 800x600 scrolls sideways by %d pixels\n",
                            tree->horizontalScrollBar()->maximum());
            }
            ok &= Save(&main, out, "21a-tree-chart-800x600-scrolled.png");
            main.resize(size);
            MTessary::MenuCommand(QStringLiteral("mnuViewFlow"));
        }
        // The same rows in the grid (two-line headings), and Find from the menu
        // taking the keyboard on a real display.
        MTessary::MenuCommand(QStringLiteral("mnuViewBrowseAll"));
        ok &= Save(&main, out, "22-browse-long-field-names.png");
        MTessary::MenuCommand(QStringLiteral("mnuEditFind"));
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QWidget* find = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("FFind") && w->isVisible()) find = w;
        const QWidget* focus = QApplication::focusWidget();
        std::printf("find window %s, keyboard at %s\n", find ? "shown" : "missing",
                    focus ? qPrintable(focus->objectName()) : "nothing");
        ok &= find && focus && focus->window() == find && Save(find, out, "23-find.png");
        if (find) find->hide();
        {
            FPrint print(&main);
            print.show();
            ok &= Save(&print, out, "24-print-flow-chart.png");
        }
        for (const auto& m : answers.Messages()) std::printf("message: %s\n", qPrintable(m.text));
    }
    // ---- End of step: a flow chart whose leaf conditions wrap -------------------

    // ---- Step: a wide, low flow chart zoomed in twice ----
    // A generated table of nine nominal fields imported with File > Import and
    // made a project (rows 1-191 training, 192-286 test), extracted at prune
    // rate 10 and then 34, shown as the tree chart and then as the flow chart,
    // and Zoom In clicked twice: the chart stays drawn, its centre in the middle.
    {
        const QString folder = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath();
        ok &= testsupport::NominalTable::Write((folder + QStringLiteral("/nominal.txt")).toStdString());
        ui::ScopedRecorder answers;
        answers.files.push_back(folder + QStringLiteral("/nominal.txt"));
        MTessary::MenuCommand(QStringLiteral("mnuFileImport"));
        NewProjectOver(main, answers, folder + QStringLiteral("/nominal.txp"), folder + QStringLiteral("/nominal.mdb"),
                       QStringLiteral("nominal"), QStringLiteral("IndexCounter1"), QStringLiteral("class"));
        if (main.State().State() == 3) {
            main.Panels().setLimits->Initialize(286, 1, 191, 192, 286);
            main.Panels().setLimits->findChild<QPushButton*>(QStringLiteral("lnkNext"))->click();
        }
        if (auto* rate = main.Panels().prune->findChild<QLineEdit*>(QStringLiteral("txtPruneRate")))
            for (const char* value : {"10", "34"}) {
                rate->setText(QString::fromUtf8(value));
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QCoreApplication::sendEvent(rate, &enter);
            }
        MTessary::MenuCommand(QStringLiteral("mnuViewTree"));
        MTessary::MenuCommand(QStringLiteral("mnuViewFlow"));
        ok &= main.State().State() == 4 && Save(&main, out, "21b-wide-flow-chart-fitted.png");
        for (int click = 0; click < 2; ++click) main.Bar()->Tool(QStringLiteral("mnuZoomIn"))->trigger();
        ok &= Save(&main, out, "21c-wide-flow-chart-zoomed-in-twice.png");
        for (const auto& m : answers.Messages()) std::printf("message: %s\n", qPrintable(m.text));
    }
    // ---- end of step: a wide, low flow chart zoomed in twice ----

    // ---- Step: a new project named in the real file dialog ----
    // File > New as a person does it: a name typed into Qt's file dialog and
    // Enter pressed; the window then shows the new project's first step.
    {
        QTimer::singleShot(300, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* edit = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
            if (!edit) {
                std::printf("FAILED no file dialog for File > New\n");
                ok = false;
                if (dialog) dialog->reject();
                return;
            }
            edit->clear();
            for (const QChar c : QStringLiteral("Typed Name")) {
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QCoreApplication::sendEvent(edit, &press);
            }
            ok &= Save(dialog, out, "25-new-project-dialog.png");
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QCoreApplication::sendEvent(edit, &enter);
            // A refused name leaves the dialog open: shoot what it says, then close it.
            QTimer::singleShot(300, [&, dialog = QPointer<QFileDialog>(dialog)] {
                if (!dialog || !dialog->isVisible()) return;
                std::printf("FAILED the typed name was refused\n");
                if (QWidget* box = QApplication::activeModalWidget(); box && box != dialog) {
                    Save(box, out, "25-new-project-refused.png");
                    box->close();
                }
                ok = false;
                dialog->reject();
            });
        });
        MTessary::MenuCommand(QStringLiteral("mnuFileNew"));
        const bool made = main.windowTitle() == QStringLiteral("Tessary - [Typed Name.txp]");
        if (!made) std::printf("FAILED File > New made no project: %s\n", qPrintable(main.windowTitle()));
        ok &= made && Save(&main, out, "26-new-project-created.png");
    }
    // ---- end of step: a new project named in the real file dialog ----

    // ---- Step: a confusion matrix with more classes than fit ----
    // Orders of the Access sample by ship country (21 classes), rows 1-600
    // training and 601-830 test; the matrix shown right after Finish, without
    // any resize, must page its columns with a scroll bar.
    {
        const QString folder = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath();
        ui::ScopedRecorder answers;
        answers.files.push_back(folder + QStringLiteral("/orders.txp"));
        MTessary::MenuCommand(QStringLiteral("mnuFileNew"));
        answers.files.push_back(folder + QStringLiteral("/nwind.mdb"));
        QWidget* table = main.Panels().tableSel;
        table->findChild<QPushButton*>(QStringLiteral("cmdOpenFile"))->click();
        auto* tables = table->findChild<QListWidget*>(QStringLiteral("lstTables"));
        const auto orders = tables->findItems(QStringLiteral("Orders"), Qt::MatchExactly);
        if (!orders.isEmpty()) tables->setCurrentItem(orders.front());
        table->findChild<QPushButton*>(QStringLiteral("cmdTableOK"))->click();
        QWidget* fields = main.Panels().fieldSel;
        const QStringList inputs{"EmployeeID", "OrderDate", "ShipVia", "Freight", "ShipRegion"};
        fields->findChild<QToolButton*>(QStringLiteral("cmdMvFd3"))->click();
        auto* chosen = fields->findChild<QListWidget*>(QStringLiteral("lstFieldsTo"));
        for (int i = 0; i < chosen->count(); ++i) chosen->item(i)->setSelected(!inputs.contains(chosen->item(i)->text()));
        fields->findChild<QToolButton*>(QStringLiteral("cmdMvFd4"))->click();
        auto* ignored = fields->findChild<QListWidget*>(QStringLiteral("lstFieldsFrom"));
        for (int i = 0; i < ignored->count(); ++i)
            ignored->item(i)->setSelected(ignored->item(i)->text() == QLatin1String("ShipCountry"));
        fields->findChild<QToolButton*>(QStringLiteral("cmdMvFd0"))->click();
        fields->findChild<QPushButton*>(QStringLiteral("lnkNext"))->click();
        if (main.State().State() == 3) {
            main.Panels().setLimits->Initialize(830, 1, 600, 601, 830);
            main.Panels().setLimits->findChild<QPushButton*>(QStringLiteral("lnkNext"))->click();
        }
        if (main.State().State() == 4) main.Panels().prune->findChild<QPushButton*>(QStringLiteral("lnkOK"))->click();
        const bool finished = main.State().State() == 5;
        if (!finished) std::printf("FAILED the Orders project did not reach its results\n");
        MTessary::MenuCommand(QStringLiteral("mnuViewMatrix"));
        QWidget* matrix = main.Panels().matrix;
        auto* bar = matrix->findChild<QScrollBar*>(QStringLiteral("hscMain"));
        const bool shown = bar && bar->isVisible();
        std::printf("matrix of %s: horizontal bar %s, classes %d to %d of %d\n", qPrintable(main.windowTitle()),
                    shown ? "shown" : "MISSING", bar ? bar->value() : 0,
                    bar ? bar->value() + bar->pageStep() - 1 : 0, bar ? bar->maximum() + bar->pageStep() - 1 : 0);
        ok &= Save(&main, out, "27-matrix-many-classes.png") && finished && shown;
        for (const auto& m : answers.Messages()) std::printf("message: %s\n", qPrintable(m.text));
    }
    // ---- end of step: a confusion matrix with more classes than fit ----
    main.close();
    return ok ? 0 : 1;
}
