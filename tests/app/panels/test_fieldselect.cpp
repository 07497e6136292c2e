// The field-selection panel over a generated table with every kind of field:
// filling, the six move buttons, the number/text toggle, Next's match types
// and its one question, dragging between the three places, and the layout.
#include "PanelTestSupport.h"
#include "TreeFixture.h"
#include "UFieldSelect.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace paneltest;
using treetest::Cell;
using treetest::Column;
using treetest::GeneratedProject;

namespace {

// 300 rows: Many and Free hold more values than a class table takes.
const std::vector<Column> kFields = {
    {"Num", "REAL", MatchType::Numeric}, {"Many", "REAL", MatchType::NotUsed},
    {"Txt", "TEXT", MatchType::Text},    {"Free", "TEXT", MatchType::NotUsed},
    {"When", "DATETIME", MatchType::Text}, {"Flag", "BIT", MatchType::NotUsed},
    {"Memo", "MEMO", MatchType::NotUsed}, {"NumText", "INTEGER", MatchType::Text},
    {"Out", "TEXT", MatchType::Output},
};

std::vector<std::vector<Cell>> FieldRows() {
    std::vector<std::vector<Cell>> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back({Cell::D(i % 7), Cell::D(i * 1.5), Cell::T(i % 2 ? "a" : "b"), Cell::T("f" + std::to_string(i)),
                        Cell::D(45000 + i % 4), Cell::D(i % 2 ? -1 : 0), Cell::T("m"), Cell::D(i % 5),
                        Cell::T(i % 3 ? "x" : "y")});
    return rows;
}

struct Panel : AppFirst {
    Panel() : p("fields", kFields, FieldRows()) {
        panel.resize(300, 420);
        panel.show();
        from = panel.findChild<QListWidget*>("lstFieldsFrom");
        to = panel.findChild<QListWidget*>("lstFieldsTo");
        output = panel.findChild<QLabel*>("lblOutput");
        next = panel.findChild<QPushButton*>("lnkNext");
        panel.Initialize(p.dataDef);
    }
    static QStringList Texts(QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text().replace('\t', '|');
        return out;
    }
    void Select(QListWidget* list, const QStringList& names) {
        list->clearSelection();
        for (int i = 0; i < list->count(); ++i)
            if (names.contains(list->item(i)->text().section('\t', 0, 0))) list->item(i)->setSelected(true);
    }
    QListWidgetItem* Item(QListWidget* list, const QString& name) {
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text().section('\t', 0, 0) == name) return list->item(i);
        return nullptr;
    }
    void Button(int i) { panel.findChild<QToolButton*>(QString("cmdMvFd%1").arg(i))->click(); }
    int16_t Match(const std::string& name) { return p.dataDef->UserMatchType(p.FieldIndex(name)); }
    // A press on a list item or the output box, a move that starts the drag,
    // and a release over the target; returns the icon shown over the target.
    UFieldSelect::DragIcon Drag(QWidget* source, QPoint from, QWidget* target) {
        QWidget* w = source;
        if (auto* list = qobject_cast<QListWidget*>(source)) w = list->viewport();
        Press(w, from);
        Move(w, from + QPoint(12, 0));
        const QPoint over = w->mapFromGlobal(target->mapToGlobal(target->rect().center()));
        Move(w, over);
        const auto icon = panel.CurrentDragIcon();
        Release(w, over);
        return icon;
    }
    QPoint At(QListWidget* list, const QString& name) { return list->visualItemRect(Item(list, name)).center(); }

    GeneratedProject p;
    UFieldSelect panel;
    QListWidget* from;
    QListWidget* to;
    QLabel* output;
    QPushButton* next;
};

TEST(FieldSelect, FillsThePlacesInFieldOrder) {
    Panel t;
    EXPECT_EQ(Panel::Texts(t.from), (QStringList{"Id", "Many", "Free", "Flag", "Memo"}));
    // A number compared as text carries the suffix; a date does not.
    EXPECT_EQ(Panel::Texts(t.to), (QStringList{"Num", "Txt", "When", "NumText| (As Text)"}));
    EXPECT_EQ(t.output->text(), "Out");
    EXPECT_TRUE(t.panel.MatchAsText(t.p.FieldIndex("NumText")));
    EXPECT_FALSE(t.panel.MatchAsText(t.p.FieldIndex("When")));
    EXPECT_FALSE(t.panel.MatchAsText(t.p.FieldIndex("Many")));  // not an input
    EXPECT_GT(t.panel.SuffixPosition(), 0);
    EXPECT_TRUE(t.next->isEnabled());
    EXPECT_FALSE(t.panel.Changed());
}

TEST(FieldSelect, NextRuleAndTheOutputButtons) {
    Panel t;
    t.Button(1);  // the output back among the ignored fields
    EXPECT_EQ(t.output->text(), "");
    EXPECT_FALSE(t.next->isEnabled());
    EXPECT_TRUE(Panel::Texts(t.from).contains("Out"));
    // Three selected: only the first moves; then the old output goes back,
    // also when the new one comes from the inputs.
    t.Select(t.from, {"Many", "Flag", "Out"});
    t.Button(0);
    EXPECT_EQ(t.output->text(), "");  // the first selected, Many, has too many values to predict
    t.Select(t.from, {"Flag", "Out"});
    t.Button(0);
    EXPECT_EQ(t.output->text(), "Flag");
    EXPECT_TRUE(Panel::Texts(t.from).contains("Out"));
    t.Select(t.to, {"Txt"});
    t.Button(2);  // every input out: no inputs, no Next
    EXPECT_EQ(t.to->count(), 0);
    EXPECT_FALSE(t.next->isEnabled());
    t.Button(3);  // every valid field in: Free (no classes) and Memo stay
    EXPECT_EQ(Panel::Texts(t.from), (QStringList{"Free", "Memo"}));
    EXPECT_TRUE(t.next->isEnabled());
    t.Select(t.to, {"Txt"});
    // Dropping onto the output from the inputs (through the drag) puts Flag back among the ignored.
    EXPECT_EQ(t.Drag(t.to, t.At(t.to, "Txt"), t.output), UFieldSelect::DragIcon::Drop);
    EXPECT_EQ(t.output->text(), "Txt");
    EXPECT_EQ(Panel::Texts(t.from), (QStringList{"Free", "Flag", "Memo"}));
}

TEST(FieldSelect, SelectedMovesSkipInvalidInputsAndDropTheSuffix) {
    Panel t;
    t.Select(t.from, {"Many", "Free", "Flag"});
    t.Button(5);
    EXPECT_EQ(Panel::Texts(t.from), (QStringList{"Id", "Free", "Memo"}));
    EXPECT_FALSE(t.Item(t.from, "Free")->isSelected());
    t.Select(t.to, {"NumText"});
    t.Button(4);
    EXPECT_TRUE(Panel::Texts(t.from).contains("NumText"));
    t.Select(t.from, {"NumText"});
    t.Button(5);
    EXPECT_TRUE(Panel::Texts(t.to).contains("NumText"));  // back compared as a number
    EXPECT_FALSE(t.panel.MatchAsText(t.p.FieldIndex("NumText")));
}

TEST(FieldSelect, DoubleClickTogglesNumbersOnly) {
    Panel t;
    QSignalSpy spy(&t.panel, &UFieldSelect::FieldSelect);
    QWidget* vp = t.to->viewport();
    DoubleClick(vp, t.At(t.to, "Txt"));
    EXPECT_EQ(t.Item(t.to, "Txt")->text(), "Txt");
    ASSERT_GE(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toInt(), t.p.FieldIndex("Txt"));
    DoubleClick(vp, t.At(t.to, "Num"));
    EXPECT_TRUE(t.panel.MatchAsText(t.p.FieldIndex("Num")));
    EXPECT_TRUE(t.panel.Changed());
    DoubleClick(vp, t.At(t.to, "Num"));
    EXPECT_FALSE(t.panel.MatchAsText(t.p.FieldIndex("Num")));
    EXPECT_EQ(t.panel.CurrentDragIcon(), UFieldSelect::DragIcon::None);  // no drag started
    spy.clear();
    Press(t.output, {5, 5});
    Release(t.output, {5, 5});
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), t.p.FieldIndex("Out"));
}

TEST(FieldSelect, NextWritesMatchTypesAfterOneQuestion) {
    Panel t;
    int questions = 0;
    bool refuse = true;
    bool changedDuringNext = false;
    QObject::connect(&t.panel, &UFieldSelect::VerifyModification, [&](bool& cancel) {
        ++questions;
        cancel = refuse;
    });
    QSignalSpy next(&t.panel, &UFieldSelect::NavNext);
    QObject::connect(&t.panel, &UFieldSelect::NavNext, [&] { changedDuringNext = t.panel.Changed(); });
    // Nothing moved, yet the unusable memo is written as ignored: a change.
    t.next->click();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(next.count(), 0);
    EXPECT_EQ(t.Match("Memo"), MatchType::Unusable);  // refused: nothing written
    t.next->click();
    EXPECT_EQ(questions, 2);  // asked again
    refuse = false;
    DoubleClick(t.to->viewport(), t.At(t.to, "Num"));  // Num compared as text
    t.Select(t.from, {"Flag"});
    t.Button(5);
    t.next->click();
    EXPECT_EQ(questions, 3);
    ASSERT_EQ(next.count(), 1);
    EXPECT_TRUE(changedDuringNext);
    EXPECT_EQ(t.Match("Memo"), MatchType::NotUsed);
    EXPECT_EQ(t.Match("Num"), MatchType::Text);
    EXPECT_EQ(t.Match("Flag"), MatchType::Text);
    EXPECT_EQ(t.Match("When"), MatchType::Text);  // a date stored as text stays so
    EXPECT_EQ(t.Match("NumText"), MatchType::Text);
    EXPECT_EQ(t.Match("Out"), MatchType::Output);
    // A second press writes nothing and asks nothing.
    t.next->click();
    EXPECT_EQ(questions, 3);
    EXPECT_EQ(next.count(), 2);
    EXPECT_FALSE(changedDuringNext);
    // The output moved into the inputs is written as a number or text by its type.
    t.Button(1);
    t.Select(t.from, {"Out"});
    t.Button(5);
    t.Select(t.from, {"Flag"});
    t.Select(t.to, {"Txt"});
    t.Drag(t.to, t.At(t.to, "Txt"), t.output);
    t.next->click();
    EXPECT_EQ(t.Match("Out"), MatchType::Text);
    EXPECT_EQ(t.Match("Txt"), MatchType::Output);
}

TEST(FieldSelect, FirstOfTwoStoredOutputsWins) {
    Panel t;
    t.p.dataDef->SetUserMatchType(t.p.FieldIndex("Txt"), MatchType::Output);
    t.panel.Initialize(t.p.dataDef);
    EXPECT_EQ(t.output->text(), "Txt");
    EXPECT_TRUE(Panel::Texts(t.from).contains("Out"));
    QObject::connect(&t.panel, &UFieldSelect::VerifyModification, [](bool&) {});
    t.next->click();
    EXPECT_EQ(t.Match("Out"), MatchType::NotUsed);
    EXPECT_EQ(t.Match("Txt"), MatchType::Output);
}

TEST(FieldSelect, DragFeedbackAndDrops) {
    Panel t;
    // A text field without classes cannot be the output: the icon says so and nothing moves.
    t.Select(t.from, {"Free"});
    EXPECT_EQ(t.Drag(t.from, t.At(t.from, "Free"), t.output), UFieldSelect::DragIcon::NotDrop);
    EXPECT_EQ(t.output->text(), "Out");
    EXPECT_EQ(t.Drag(t.from, t.At(t.from, "Free"), t.to), UFieldSelect::DragIcon::NotDrop);
    EXPECT_TRUE(Panel::Texts(t.from).contains("Free"));
    // The icon tests the first selected field, which is the one a drop would move.
    t.Select(t.from, {"Flag", "Memo"});
    t.from->setCurrentItem(t.Item(t.from, "Memo"), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(t.Drag(t.from, t.At(t.from, "Flag"), t.output), UFieldSelect::DragIcon::Drop);
    EXPECT_EQ(t.output->text(), "Flag");
    // The output onto the inputs.
    EXPECT_EQ(t.Drag(t.output, {5, 5}, t.to), UFieldSelect::DragIcon::Drop);
    EXPECT_EQ(t.output->text(), "");
    EXPECT_TRUE(Panel::Texts(t.to).contains("Flag"));
    // Items dropped on their own list stay as they were.
    const QStringList before = Panel::Texts(t.to);
    t.Select(t.to, {"Txt", "When"});
    EXPECT_EQ(t.Drag(t.to, t.At(t.to, "Txt"), t.to), UFieldSelect::DragIcon::Drag);
    EXPECT_EQ(Panel::Texts(t.to), before);
    // Any field may be ignored.
    EXPECT_EQ(t.Drag(t.to, t.At(t.to, "Txt"), t.from), UFieldSelect::DragIcon::Drop);
    EXPECT_EQ(Panel::Texts(t.to).size(), before.size() - 2);
    EXPECT_EQ(t.panel.CurrentDragIcon(), UFieldSelect::DragIcon::None);
}

TEST(FieldSelect, LayoutFollowsTheSize) {
    auto l = UFieldSelect::ComputeLayout(1400, 5115);
    EXPECT_EQ(l.from.width(), 1215);
    EXPECT_EQ(l.output.width(), 1215);
    l = UFieldSelect::ComputeLayout(2610, 5115);  // just wide enough: Back at the left
    EXPECT_EQ(l.back.left(), 120);
    l = UFieldSelect::ComputeLayout(2609, 5115);
    EXPECT_EQ(l.next.left(), 2609 - 1125);
    EXPECT_EQ(l.back.left(), 2609 - 1125 - 1125 - 120);
    l = UFieldSelect::ComputeLayout(3885, 5115);
    EXPECT_EQ(l.from.height(), 1115);  // E = 94
    EXPECT_EQ(l.to.top(), 3788 + 94);
    EXPECT_EQ(l.buttons[0].left(), 960);
    EXPECT_EQ(l.buttons[2].left(), 360);
    EXPECT_EQ(l.buttons[5].left(), 2039);  // the design's 2040, to the rule's rounding
    l = UFieldSelect::ComputeLayout(3885, 1920 + 2 * 375 + 2258);
    EXPECT_EQ(l.from.height(), 1021);
    EXPECT_EQ(l.buttons[3].top(), 3077);
    // Both button rows stay centred under the lists.
    for (int w : {1500, 3885, 9000}) {
        l = UFieldSelect::ComputeLayout(w, 6000);
        const double centre = l.from.left() + l.from.width() / 2.0;
        EXPECT_NEAR((l.buttons[0].left() + l.buttons[1].right() + 1) / 2.0, centre, 1.0);
        EXPECT_NEAR((l.buttons[2].left() + l.buttons[3].right() + 1) / 2.0, centre, 1.0);
        EXPECT_LT(l.buttons[4].left(), l.buttons[5].left());
    }
}

}  // namespace

// Keys in either list: each goes to the host as KeyDown and KeyUp first; a
// key the host takes (its code comes back 0) stops there, any other moves the
// list's current field, and each move raises FieldSelect once, as a click does.
TEST(FieldSelect, KeysReachTheHostThenMoveTheListOneClickEach) {
    Panel t;
    std::vector<std::pair<int, int>> down;
    int ups = 0;
    QObject::connect(&t.panel, &UFieldSelect::KeyDown, [&](int16_t& code, int16_t& shift) {
        down.push_back({code, shift});
        if (code == 36) code = 0;  // Home taken, as the menu bar takes a tool's key
    });
    QObject::connect(&t.panel, &UFieldSelect::KeyUp, [&](int16_t&, int16_t&) { ++ups; });
    QSignalSpy clicks(&t.panel, &UFieldSelect::FieldSelect);
    for (QListWidget* list : {t.from, t.to}) {
        SCOPED_TRACE(list->objectName().toStdString());
        down.clear();
        clicks.clear();
        list->setFocus();
        list->setCurrentRow(0);
        clicks.clear();
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Home);
        EXPECT_EQ(down, (std::vector<std::pair<int, int>>{{40, 0}, {17, 2}, {35, 2}, {36, 0}}));  // Ctrl itself too
        EXPECT_EQ(list->currentRow(), list->count() - 1);
        ASSERT_EQ(clicks.count(), 2);
        EXPECT_EQ(clicks.at(0).at(0).toInt(), list->item(1)->data(Qt::UserRole).toInt());
        EXPECT_EQ(clicks.at(1).at(0).toInt(), list->item(list->count() - 1)->data(Qt::UserRole).toInt());
    }
    EXPECT_EQ(ups, 8);
}
