#include "MListView.h"
#include "ProjectTestSupport.h"

#include <QTreeWidget>

#include <algorithm>

namespace {

QTreeWidget* MakeList(QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setColumnCount(3);
    const char* rows[][3] = {{"a", "12", "x"}, {"b", "n/a", "x"}, {"c", "100", "x"},
                             {"d", "9", "x"},  {"e", "12", "x"},  {"f", "-3", "x"}};
    int data = 0;
    for (auto& r : rows) {
        auto* item = new QTreeWidgetItem(list, QStringList{r[0], r[1], r[2]});
        item->setData(0, Qt::UserRole, ++data);
    }
    return list;
}

QString Order(const QTreeWidget& list) {
    QString s;
    for (int i = 0; i < list.topLevelItemCount(); ++i) s += list.topLevelItem(i)->text(0);
    return s;
}

TEST(NumericSort, DescendingCountFirstTextsAsZeroStableTies) {
    testsupport::App();
    QWidget host;
    QTreeWidget* list = MakeList(&host);
    MListView::gSortColumn = 1;
    MListView::gSortOrder = 1;
    MListView::SortItems(*list);
    EXPECT_EQ(Order(*list), "caedbf");  // 100, 12, 12, 9, n/a (0), -3
    MListView::gSortOrder = 0;
    MListView::SortItems(*list);
    EXPECT_EQ(Order(*list), "fbdaec");  // numbers, not text: 9 before 12 before 100
}

TEST(NumericSort, ComparisonIsAStrictOrdering) {
    MListView::gSortOrder = 0;
    const QStringList texts = {"1", "1.4", "0.6", "x", "", "-2", "2147483647", "1e3"};
    for (const QString& a : texts) {
        EXPECT_FALSE(MListView::CompareItems(a, a)) << a.toStdString();  // irreflexive
        for (const QString& b : texts) {
            EXPECT_FALSE(MListView::CompareItems(a, b) && MListView::CompareItems(b, a));  // asymmetric
            for (const QString& c : texts) {
                if (MListView::CompareItems(a, b) && MListView::CompareItems(b, c)) {
                    EXPECT_TRUE(MListView::CompareItems(a, c));  // transitive
                }
            }
        }
    }
    EXPECT_EQ(MListView::ItemNumber("1.5"), 2);
    EXPECT_EQ(MListView::ItemNumber("2.5"), 2);  // nearest, halves to even
    EXPECT_EQ(MListView::ItemNumber("abc"), 0);
    EXPECT_EQ(MListView::ItemNumber(" 7 "), 7);
}

TEST(ListHelpers, ItemTextFullRowAndRedraw) {
    testsupport::App();
    QWidget host;
    QTreeWidget* list = MakeList(&host);
    list->topLevelItem(2)->setText(0, QString(40, QLatin1Char('z')));
    MListView::gSortColumn = 1;
    QString text;
    int32_t number = -1;
    ASSERT_TRUE(MListView::GetItemText(*list, 3, text, number));
    EXPECT_EQ(text.size(), 32);
    EXPECT_EQ(number, 100);
    ASSERT_TRUE(MListView::GetItemText(*list, 2, text, number));
    EXPECT_EQ(number, 0);
    EXPECT_FALSE(MListView::GetItemText(*list, 99, text, number));

    MListView::SetFullRowSelect(*list, true);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    MListView::SetFullRowSelect(*list, false);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectItems);
    MListView::SetRedraw(list, false);
    EXPECT_FALSE(list->updatesEnabled());
    MListView::SetRedraw(list, true);
    EXPECT_TRUE(list->updatesEnabled());
    MListView::SetRedraw(nullptr, true);
}

}  // namespace
