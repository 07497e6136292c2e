// Every caption the program shows fits its control in the font it is drawn
// with: the main window through the whole road (the eleven panels), the find,
// print, preferences and about windows, the progress and splash windows.
#include "ResultRoadFixture.h"

#include "CBrowseHeader.h"
#include "FAbout.h"
#include "FFind.h"
#include "FPref.h"
#include "FPrint.h"
#include "FSplash.h"
#include "FStatus.h"
#include "MCaptionFit.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTextDocument>

using namespace shelltest;

namespace {

QString Name(const QWidget* w) {
    return QStringLiteral("%1 %2").arg(w->metaObject()->className(), w->objectName());
}

// Where the style draws a button's text, against the text's width.
void CheckButton(const QAbstractButton* b, QStringList& cut) {
    if (b->text().isEmpty()) return;
    const int text = QFontMetrics(b->font()).size(Qt::TextShowMnemonic, b->text()).width();
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    QStyle::SubElement room;
    if (qobject_cast<const QCheckBox*>(b)) room = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(b)) room = QStyle::SE_RadioButtonContents;
    else if (qobject_cast<const QPushButton*>(b)) room = QStyle::SE_PushButtonContents;
    else return;
    int width = b->style()->subElementRect(room, &opt, b).width();
    if (!b->icon().isNull() && room == QStyle::SE_PushButtonContents) width -= b->iconSize().width();
    if (text > width) cut << QStringLiteral("%1 '%2': %3 > %4").arg(Name(b), b->text()).arg(text).arg(width);
}

void CheckLabel(const QLabel* l, QStringList& cut) {
    const QString text = l->text();
    if (text.isEmpty() || !l->pixmap().isNull() || Qt::mightBeRichText(text)) return;
    const QFontMetrics fm(l->font());
    const QRect room = l->contentsRect();
    const int flags = (l->buddy() ? Qt::TextShowMnemonic : 0) | (l->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = fm.boundingRect(QRect(0, 0, std::max(room.width(), 1), 1 << 20), flags, text);
    if (need.width() > room.width() || (l->wordWrap() && need.height() > room.height()))
        cut << QStringLiteral("%1 '%2': %3x%4 > %5x%6")
                   .arg(Name(l), text)
                   .arg(need.width())
                   .arg(need.height())
                   .arg(room.width())
                   .arg(room.height());
}

void CheckHeader(const QHeaderView* h, QStringList& cut) {
    if (!h->model() || h->orientation() != Qt::Horizontal) return;
    for (int i = 0; i < h->count(); ++i) {
        if (h->isSectionHidden(i) || h->sectionSize(i) == 0) continue;
        const QString text = h->model()->headerData(i, Qt::Horizontal).toString();
        if (text.isEmpty()) continue;
        const QVariant f = h->model()->headerData(i, Qt::Horizontal, Qt::FontRole);
        const QFontMetrics fm(f.isValid() ? f.value<QFont>() : h->font());
        // The grid's headings wrap over their lines.
        const auto* grid = qobject_cast<const CBrowseHeader*>(h);
        const int lines = grid ? grid->Lines() : 1;
        const int room = h->sectionSize(i) - 2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
        const QRect need = fm.boundingRect(QRect(0, 0, std::max(room, 1), 1 << 20), lines > 1 ? Qt::TextWordWrap : 0,
                                           lines > 1 ? MCaptionFit::Breakable(text) : text);
        if (need.width() > room || need.height() > std::min(h->height(), lines * fm.lineSpacing() + 1))
            cut << QStringLiteral("%1 section %2 '%3': %4x%5 > %6x%7")
                       .arg(Name(h))
                       .arg(i)
                       .arg(text)
                       .arg(need.width())
                       .arg(need.height())
                       .arg(room)
                       .arg(h->height());
    }
}

// Every visible caption in root that its control cuts.
QStringList Cut(const QWidget* root) {
    QStringList cut;
    QList<const QWidget*> all{root};
    for (const QWidget* w : root->findChildren<QWidget*>()) all << w;
    for (const QWidget* w : all) {
        if (!w->isVisible()) continue;
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) CheckButton(b, cut);
        else if (auto* l = qobject_cast<const QLabel*>(w)) CheckLabel(l, cut);
        else if (auto* h = qobject_cast<const QHeaderView*>(w)) CheckHeader(h, cut);
        else if (auto* g = qobject_cast<const QGroupBox*>(w)) {
            const int text = QFontMetrics(g->font()).size(Qt::TextShowMnemonic, g->title()).width();
            if (!g->title().isEmpty() && text + 4 > g->width())
                cut << QStringLiteral("%1 '%2': %3 > %4").arg(Name(g), g->title()).arg(text + 4).arg(g->width());
        } else if (auto* t = qobject_cast<const QTabBar*>(w)) {
            for (int i = 0; i < t->count(); ++i)
                if (QFontMetrics(t->font()).size(Qt::TextShowMnemonic, t->tabText(i)).width() > t->tabRect(i).width())
                    cut << QStringLiteral("%1 tab '%2'").arg(Name(t), t->tabText(i));
        }
    }
    return cut;
}

class Captions : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        Open();
    }
    void ExpectWhole(const QWidget* root, const char* where) {
        QApplication::processEvents();
        const QStringList cut = Cut(root);
        EXPECT_TRUE(cut.isEmpty()) << where << ":\n  " << cut.join("\n  ").toStdString();
    }
};

}  // namespace

TEST_F(Captions, EveryPanelAndWindowShowsItsCaptionsWhole) {
    for (int state : {1, 2, 3}) {
        ToState(state);
        ExpectWhole(&Main(), ("state " + std::to_string(state)).c_str());
    }
    ToState(4);
    ExpectWhole(&Main(), "extraction");
    ToTested();
    for (const char* view : {"mnuViewBrowseAll", "mnuViewBrowseTest", "mnuViewMatrix", "mnuViewFlow",
                             "mnuViewTree", "mnuLivePredict", "mnuViewFieldStats", "mnuViewClassList"}) {
        MTessary::MenuCommand(view);
        ExpectWhole(&Main(), view);
    }
    MTessary::MenuCommand("mnuViewBrowseAll");
    Tool("mnuEditFind")->trigger();
    ASSERT_TRUE(GridView().FindDialog());
    ExpectWhole(GridView().FindDialog(), "find");
    FPrint print(&Main());
    print.show();
    ExpectWhole(&print, "print");
    FPref pref(&Main());
    pref.show();
    ExpectWhole(&pref, "preferences");
    FAbout about(&Main());
    about.show();
    ExpectWhole(&about, "about");
    FStatus status(&Main());
    status.show();
    ExpectWhole(&status, "progress");
    FSplash splash;
    splash.show();
    ExpectWhole(&splash, "splash");
}
