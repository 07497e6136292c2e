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

// The part of w's width that its parents cut away.
int CutByParents(const QWidget* w) {
    QRect r = w->rect();
    for (const QWidget* p = w; !p->isWindow() && p->parentWidget(); p = p->parentWidget()) {
        r.translate(p->pos());
        r &= p->parentWidget()->rect();
    }
    return w->width() - std::max(r.width(), 0);
}

// The room a caption has and the size it takes, in the font it is drawn with;
// false for controls without a caption.
bool Measure(const QWidget* w, const QString& text, const QFont& font, QRect room, int flags, QSize* need) {
    if (text.isEmpty()) return false;
    *need = QFontMetrics(font).boundingRect(QRect(0, 0, std::max(room.width(), 1), 1 << 20), flags, text).size();
    return need->width() > room.width() - CutByParents(w) || need->height() > room.height();
}

// Every visible caption in root that its control cuts: labels, buttons, group
// box titles, header sections, tabs.
QStringList Cut(const QWidget* root) {
    QStringList cut;
    QList<const QWidget*> all{root};
    for (const QWidget* w : root->findChildren<QWidget*>()) all << w;
    const auto check = [&](const QWidget* w, const QString& text, const QFont& font, QRect room, int flags = 0) {
        QSize need;
        if (Measure(w, text, font, room, flags | Qt::TextShowMnemonic, &need))
            cut << QStringLiteral("%1 %2 '%3': %4x%5 in %6x%7")
                       .arg(w->metaObject()->className(), w->objectName(), text)
                       .arg(need.width())
                       .arg(need.height())
                       .arg(room.width())
                       .arg(room.height());
    };
    for (const QWidget* w : all) {
        if (!w->isVisible()) continue;
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
            // Where the style draws the text.
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            const QStyle::SubElement room = qobject_cast<const QCheckBox*>(b)      ? QStyle::SE_CheckBoxContents
                                            : qobject_cast<const QRadioButton*>(b) ? QStyle::SE_RadioButtonContents
                                                                                   : QStyle::SE_PushButtonContents;
            QRect r = b->style()->subElementRect(room, &opt, b);
            if (!b->icon().isNull()) r.setWidth(r.width() - b->iconSize().width());
            if (qobject_cast<const QPushButton*>(b) || room != QStyle::SE_PushButtonContents)
                check(b, b->text(), b->font(), QRect(0, 0, r.width(), b->height()));
        } else if (auto* l = qobject_cast<const QLabel*>(w)) {
            if (l->pixmap().isNull() && !Qt::mightBeRichText(l->text()))
                check(l, l->text(), l->font(), l->contentsRect(), l->wordWrap() ? Qt::TextWordWrap : 0);
        } else if (auto* g = qobject_cast<const QGroupBox*>(w)) {
            check(g, g->title(), g->font(), QRect(0, 0, g->width() - 4, g->height()));
        } else if (auto* t = qobject_cast<const QTabBar*>(w)) {
            for (int i = 0; i < t->count(); ++i) check(t, t->tabText(i), t->font(), t->tabRect(i));
        } else if (auto* h = qobject_cast<const QHeaderView*>(w); h && h->model() && h->orientation() == Qt::Horizontal) {
            // The grid's headings wrap over their lines, breaking after underscores too.
            const auto* grid = qobject_cast<const CBrowseHeader*>(h);
            const int lines = grid ? grid->Lines() : 1;
            const int margin = 2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
            for (int i = 0; i < h->count(); ++i) {
                if (h->isSectionHidden(i) || h->sectionSize(i) == 0) continue;
                const QVariant f = h->model()->headerData(i, Qt::Horizontal, Qt::FontRole);
                const QFont font = f.isValid() ? f.value<QFont>() : h->font();
                const QString text = h->model()->headerData(i, Qt::Horizontal).toString();
                const int high = std::min(h->height(), lines * QFontMetrics(font).lineSpacing() + 1);
                check(h, lines > 1 ? MCaptionFit::Breakable(text) : text, font,
                      QRect(0, 0, h->sectionSize(i) - margin, high), lines > 1 ? Qt::TextWordWrap : 0);
            }
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
