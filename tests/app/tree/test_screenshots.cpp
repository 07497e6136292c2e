// The sample project's tree as a person sees it: rule text beside a coloured
// flow chart in one host window. With TESSARY_SCREENSHOTS set, the windows are
// saved as PNG files in build/screenshots/.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QSplitter>

#include "CTreeDisplay.h"
#include "DisplayFixture.h"

using namespace treetest;

namespace {

void Save(QWidget& w, const std::string& name) {
    if (!std::getenv("TESSARY_SCREENSHOTS")) return;
    const char* bin = std::getenv("TESSARY_BINARY_DIR");
    const QString dir = QString::fromUtf8(bin ? bin : ".") + "/screenshots";
    QDir().mkpath(dir);
    EXPECT_TRUE(w.grab().save(dir + "/" + QString::fromStdString(name) + ".png"));
}

// Pixels of one colour (0x00BBGGRR) in an image.
int Count(const QImage& img, uint32_t bgr) {
    const QRgb want = qRgb(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y) == want;
    return n;
}

}  // namespace

TEST(TreeScreens, SampleProjectAsRuleTextAndColouredFlowChart) {
    App();
    ui::ScopedRecorder dialogs;
    const std::string dir = CopySampleProject("screens");
    CProject project;
    project.SetFileName(dir + "/iris.txp");
    DatabasePtr db = project.OpenProject(false);
    ASSERT_TRUE(db);
    auto dataDef = std::make_shared<CDataDef>();
    dataDef->Load(db);
    CTRX trx;
    ASSERT_TRUE(trx.Initialize(dataDef, &project));
    ASSERT_TRUE(trx.LoadData(1, 100));
    ASSERT_TRUE(trx.BuildTree());
    ASSERT_TRUE(CTreeDisplay::FlowChartFits(trx.LeafCount()));

    Panel panel;
    panel.host.resize(1280, 720);
    auto* split = new QSplitter(&panel.host);
    split->addWidget(panel.tree);
    split->addWidget(panel.hosting->Widget());
    split->setSizes({420, 860});
    split->setGeometry(0, 0, 1280, 720);
    split->show();

    panel.type = 0;
    trx.Display(panel);
    panel.tree->expandAll();
    ASSERT_GE(panel.tree->topLevelItemCount(), 1);
    EXPECT_EQ(panel.tree->topLevelItem(0)->text(0).toStdString(), "Start");
    EXPECT_EQ(panel.Lines().size(), size_t(trx.Nodes()));

    // The tree-graph panel keeps the tree arrangement, top to bottom.
    com::PropertyPut(panel.graph.Get(), nodars::dispidArrangeMode, com::Variant::I2(3));
    panel.type = 1;
    trx.Display(panel);
    EXPECT_EQ(panel.Int(nodars::dispidListCount), trx.Nodes());
    QCoreApplication::processEvents();

    // Colour by class: every leaf class shows its table colour on screen.
    trx.SetContrast(panel, 2, 50);
    QImage img = panel.hosting->Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int n = 0; n < trx.Nodes(); ++n) {
        const int16_t cls = trx.Tree().Node(n).Class;
        if (trx.Tree().Node(n).Forks == 0 && cls >= 0 && cls < 7) {
            EXPECT_GT(Count(img, CTreeDisplay::kClassColors[cls]), 100) << "class " << cls;
        }
    }
    Save(panel.host, "tree-rules-and-classes");

    // Colour by quantity: the root is pure blue.
    trx.SetContrast(panel, 0, 50);
    img = panel.hosting->Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(Count(img, 0xFF0000), 100);
    Save(panel.host, "tree-rules-and-quantity");
    trx.SetContrast(panel, 1, 30);
    Save(panel.host, "tree-rules-and-confidence");
    EXPECT_TRUE(dialogs.Messages().empty());

    project.CloseProject();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
