// The confusion matrix of a project with more classes than fit, in the real
// main window: its scroll bars right after Finish, after a switch to another
// view and back, and after resizes of the window.
#include "RoadFixture.h"

#include "AppGlobals.h"
#include "CProject.h"
#include "IFieldSelectPanel.h"
#include "IPrunePanel.h"
#include "ISetLimitsPanel.h"
#include "ITableSelectPanel.h"

#include "../panels/results/UMatrix.h"

#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>

#include <filesystem>
#include <functional>

using namespace shelltest;

namespace {

class MatrixWindow : public RoadTest {
protected:
    void UsePanels() override { factory = PanelSet::Program; }
    template <class T>
    T* Control(QWidget* panel, const char* name) {
        return panel->findChild<T*>(QString::fromUtf8(name));
    }
    void Select(QWidget* panel, const char* list, const std::function<bool(const QString&)>& which) {
        auto* w = Control<QListWidget>(panel, list);
        w->clearSelection();
        for (int i = 0; i < w->count(); ++i) w->item(i)->setSelected(which(w->item(i)->text()));
    }
    void Resize(int width, int height) {
        Main().resize(width, height);
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    // Each bar is on show exactly when its classes do not all fit; the columns
    // never fit here, and the rows do not when rowsFit is false.
    void ExpectBars(const char* when, bool rowsFit) {
        SCOPED_TRACE(when);
        auto& matrix = *static_cast<UMatrix*>(Main().Panels().matrix);
        ASSERT_TRUE(matrix.isVisible());
        const UMatrix::Layout l = matrix.CurrentLayout();
        ASSERT_EQ(l.n, 21);
        ASSERT_LT(l.cols, l.n);
        ASSERT_EQ(l.rows >= l.n, rowsFit) << l.rows << " rows in " << matrix.height() << " pixels";
        auto* h = matrix.findChild<QScrollBar*>(QStringLiteral("hscMain"));
        auto* v = matrix.findChild<QScrollBar*>(QStringLiteral("vscMain"));
        EXPECT_TRUE(h->isVisible());
        EXPECT_EQ(h->maximum(), l.n - l.cols + 1);
        EXPECT_EQ(v->isVisible(), !rowsFit);
        // The bar pages through the classes: its end shows the last one.
        h->setValue(h->maximum());
        EXPECT_EQ(matrix.CurrentLayout().fc + l.cols - 1, l.n);
        h->setValue(1);
    }
};

TEST_F(MatrixWindow, ScrollBarsWheneverTheClassesDoNotFit) {
    // Orders by ship country (21 classes), set up as a person does it.
    const char* src = std::getenv("TESSARY_SOURCE_DIR");
    const std::string nwind = dir.File("nwind.mdb");
    std::filesystem::copy_file(std::string(src ? src : ".") + "/tests/data/access/nwind.mdb", nwind);
    std::filesystem::permissions(nwind, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    dialogs.files.push_back(QString::fromStdString(dir.File("orders.txp")));
    MTessary::MenuCommand(QStringLiteral("mnuFileNew"));
    QWidget* table = Main().Panels().tableSel;
    dialogs.files.push_back(QString::fromStdString(nwind));
    Control<QPushButton>(table, "cmdOpenFile")->click();
    auto* tables = Control<QListWidget>(table, "lstTables");
    const auto orders = tables->findItems(QStringLiteral("Orders"), Qt::MatchExactly);
    ASSERT_EQ(orders.size(), 1);
    tables->setCurrentItem(orders.front());
    Control<QPushButton>(table, "cmdTableOK")->click();
    ASSERT_EQ(Main().State().State(), 2);

    QWidget* fields = Main().Panels().fieldSel;
    const QStringList inputs{"EmployeeID", "OrderDate", "ShipVia", "Freight", "ShipRegion"};
    Control<QToolButton>(fields, "cmdMvFd3")->click();
    Select(fields, "lstFieldsTo", [&](const QString& name) { return !inputs.contains(name); });
    Control<QToolButton>(fields, "cmdMvFd4")->click();
    Select(fields, "lstFieldsFrom", [](const QString& name) { return name == QLatin1String("ShipCountry"); });
    Control<QToolButton>(fields, "cmdMvFd0")->click();
    Control<QPushButton>(fields, "lnkNext")->click();
    ASSERT_EQ(Main().State().State(), 3);
    Main().Panels().setLimits->Initialize(830, 1, 600, 601, 830);
    Control<QPushButton>(Main().Panels().setLimits, "lnkNext")->click();
    ASSERT_EQ(Main().State().State(), 4);
    Control<QPushButton>(Main().Panels().prune, "lnkOK")->click();
    ASSERT_EQ(app::Globals().gProject->GetConfig("LastState", ""), "5");
    ASSERT_TRUE(dialogs.Messages().empty()) << dialogs.Messages().front().text.toStdString();

    MTessary::MenuCommand(QStringLiteral("mnuViewMatrix"));
    ExpectBars("shown after Finish", true);
    MTessary::MenuCommand(QStringLiteral("mnuViewClassList"));
    ASSERT_FALSE(Main().Panels().matrix->isVisible());
    MTessary::MenuCommand(QStringLiteral("mnuViewMatrix"));
    ExpectBars("shown again", true);
    Resize(900, 520);
    ExpectBars("made smaller", false);
    MTessary::MenuCommand(QStringLiteral("mnuViewFieldStats"));
    MTessary::MenuCommand(QStringLiteral("mnuViewMatrix"));
    ExpectBars("small, shown again", false);
    Resize(1000, 700);
    ExpectBars("made larger", true);
}

}  // namespace
