// The two browse views on the sample project: which rows each filter and sort
// shows, the column layout, the class names, red rows, the mark toggle and the
// right-click menus.
#include "BrowseFixture.h"

#include <QHeaderView>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTableView>

using browsetest::BrowseFixture;

namespace {

std::vector<long> Range150() {
    std::vector<long> v;
    for (long k = 1; k <= 150; ++k) v.push_back(k);
    return v;
}

void Press(QWidget* w, QPoint p, Qt::MouseButton b, QEvent::Type type = QEvent::MouseButtonPress) {
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)), b, b, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

QPoint HeadingOf(QTableView* v, int col) { return {v->horizontalHeader()->sectionViewportPosition(col) + 3, 5}; }
QPoint CellOf(QTableView* v, int row, int col) { return {v->columnViewportPosition(col) + 3, v->rowViewportPosition(row) + 3}; }

}  // namespace

TEST_F(BrowseFixture, EveryViewAndFilterShowsItsRows) {
    Browse(0);
    EXPECT_EQ(GridKeys(), Keys(""));
    EXPECT_EQ(grid->RecordCount(), 150);

    sql->SetMarkView(1);
    Show();
    EXPECT_EQ(Sorted(GridKeys()), (std::vector<long>{3, 5, 101, 120, 150}));
    sql->SetMarkView(2);
    Show();
    EXPECT_EQ(Sorted(GridKeys()), Keys("Mark=0"));
    EXPECT_EQ(grid->RecordCount(), 145);

    // The class filters do nothing in the all-rows view.
    sql->SetMarkView(0);
    sql->SetPredictType(2);
    Show();
    EXPECT_EQ(GridKeys().size(), 150u);

    Browse(1);
    sql->SetPredictType(0);
    Show();
    EXPECT_EQ(Sorted(GridKeys()), Keys("MainPrimaryKey>=101"));
    sql->SetMarkView(1);
    Show();
    EXPECT_EQ(Sorted(GridKeys()), (std::vector<long>{101, 120, 150}));
    sql->SetMarkView(0);
    sql->SetPredictType(1);
    Show();
    const auto right = Keys("MainPrimaryKey>=101 AND Actual>0 AND Predicted=Actual");
    EXPECT_EQ(Sorted(GridKeys()), right);
    sql->SetPredictType(2);
    Show();
    const auto wrong = Keys("MainPrimaryKey>=101 AND Actual>0 AND Predicted<>Actual");
    EXPECT_EQ(Sorted(GridKeys()), wrong);
    EXPECT_EQ(right.size() + wrong.size(), 50u);
    sql->SetPredictType(0);
    sql->SetActual(2);
    Show();
    EXPECT_EQ(Sorted(GridKeys()), Keys("MainPrimaryKey>=101 AND Actual=2"));
    sql->SetActual(-1);
    sql->SetPredicted(3);
    Show();
    EXPECT_EQ(Sorted(GridKeys()), Keys("MainPrimaryKey>=101 AND Predicted=3"));
}

TEST_F(BrowseFixture, SortingOrdersTheRowsAndUnderlinesTheColumn) {
    Browse(0);
    QObject::connect(grid.get(), &base::IGridPanel::AddSort, [this](const QString& field, bool desc) {
        sql->AddSort(field.toStdString(), desc);
        grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
    });
    const int col = ColumnOf(QStringLiteral("PetalLength"));
    grid->Grid()->SetRow(0);
    grid->Grid()->SetCol(col);
    grid->SortDESC();
    EXPECT_EQ(sql->SortFields(), "[PetalLength]");
    ASSERT_EQ(Model()->Count(), 150);
    for (int r = 1; r < 150; ++r) EXPECT_GE(Model()->Value(r - 1, col).toDouble(), Model()->Value(r, col).toDouble());
    EXPECT_EQ(Sorted(GridKeys()), Keys(""));
    EXPECT_TRUE(Model()->headerData(col, Qt::Horizontal, Qt::FontRole).value<QFont>().underline());
    EXPECT_EQ(grid->Grid()->Col(), col);

    // Another column takes the underline; ascending order.
    const int other = ColumnOf(QStringLiteral("SepalWidth"));
    grid->Grid()->SetCol(other);
    grid->SortASC();
    for (int r = 1; r < 150; ++r)
        EXPECT_LE(Model()->Value(r - 1, other).toDouble(), Model()->Value(r, other).toDouble());
    EXPECT_FALSE(Model()->headerData(col, Qt::Horizontal, Qt::FontRole).value<QFont>().underline());
    EXPECT_TRUE(Model()->headerData(other, Qt::Horizontal, Qt::FontRole).value<QFont>().underline());

    // Sorting the test view by its predicted class.
    Browse(1);
    QObject::disconnect(grid.get(), &base::IGridPanel::AddSort, nullptr, nullptr);
    sql->AddSort("Predicted", false);
    Show();
    for (int r = 1; r < Model()->Count(); ++r) EXPECT_LE(Model()->Value(r - 1, 2).toDouble(), Model()->Value(r, 2).toDouble());
}

TEST_F(BrowseFixture, EachBrowseTypeGetsItsView) {
    EXPECT_TRUE(std::dynamic_pointer_cast<CBrowseAll>(MBrowseViews::NewBrowseView(0, def, project)));
    EXPECT_TRUE(std::dynamic_pointer_cast<CBrowseTest>(MBrowseViews::NewBrowseView(1, def, project)));
    EXPECT_FALSE(MBrowseViews::NewBrowseView(2, def, project));
    // A view dropped after another was bound leaves the new one's handlers in place.
    Browse(0);
    auto first = grid->DataBrowse();
    auto second = MBrowseViews::NewBrowseView(0, def, project);
    grid->SetDataBrowse(second);
    first.reset();
    EXPECT_EQ(grid->Grid()->BoundView(), second.get());
    EXPECT_TRUE(grid->Grid()->events.dblClick);
    EXPECT_EQ(Model()->Text(0, 2), Model()->Value(0, 2).toString());
}

TEST_F(BrowseFixture, AllRowsLayout) {
    ExecData("UPDATE iris SET SepalLength = -123.456 WHERE IndexCounter1 = 7;");
    ExecData("UPDATE iris SET SepalLength = Null WHERE IndexCounter1 = 8;");
    Browse(0);
    const auto& cols = Model()->Columns();
    ASSERT_EQ(cols.size(), 7u);
    EXPECT_EQ(cols[0].caption, "*");
    EXPECT_EQ(cols[1].caption, "Species");
    EXPECT_EQ(cols[2].caption, "IndexCounter1");
    EXPECT_EQ(grid->Grid()->Splits(), 2);
    QTableView* left = grid->Grid()->SplitView(0);
    QTableView* right = grid->Grid()->SplitView(1);
    EXPECT_FALSE(left->isColumnHidden(0));
    EXPECT_FALSE(left->isColumnHidden(1));
    EXPECT_TRUE(left->isColumnHidden(2));
    EXPECT_TRUE(right->isColumnHidden(1));
    EXPECT_FALSE(right->isColumnHidden(6));
    // The key is not used: grey; the split starts at the first used field.
    EXPECT_EQ(cols[2].foreColor, QColor(0x80, 0x80, 0x80));
    EXPECT_FALSE(cols[3].foreColor.isValid());
    EXPECT_EQ(grid->Grid()->LeftCol(1), 3);
    EXPECT_EQ(cols[0].backColor, QColor(0xC8, 0xC8, 0xC8));
    EXPECT_EQ(cols[1].headColor, QColor(0xFF, 0xFF, 0));

    const auto keys = GridKeys();
    for (int r = 0; r < 150; ++r) {
        const bool marked = keys[size_t(r)] == 3 || keys[size_t(r)] == 5 || keys[size_t(r)] == 101;
        const QVariant pic = Model()->data(Model()->index(r, 0), Qt::DecorationRole);
        if (keys[size_t(r)] == 3 || keys[size_t(r)] == 4 || keys[size_t(r)] == 101) {
            EXPECT_EQ(pic.isValid(), marked);
        }
        EXPECT_EQ(Model()->Text(r, 0), "");
        if (keys[size_t(r)] == 7) {
            EXPECT_EQ(Model()->Text(r, 3), "N/A");
        }
        if (keys[size_t(r)] == 8) {
            EXPECT_EQ(Model()->Text(r, 3), "N/A");
        }
        if (keys[size_t(r)] == 9) {
            EXPECT_EQ(Model()->Text(r, 3), "6");
        }
        // The output field as stored.
        if (keys[size_t(r)] == 1) {
            EXPECT_EQ(Model()->Text(r, 1), "versicolor");
        }
    }
    EXPECT_EQ(Model()->data(Model()->index(0, 4), Qt::ToolTipRole).toString(), "Double Click Or Space Bar To Set Mark");
    EXPECT_EQ(Model()->headerData(4, Qt::Horizontal, Qt::ToolTipRole).toString(), "Right Click Column Header To Sort");

    // Fixed columns keep their width; data columns can be resized.
    const int w1 = left->columnWidth(1);
    left->horizontalHeader()->resizeSection(1, w1 + 30);
    EXPECT_EQ(left->columnWidth(1), w1);
    right->horizontalHeader()->resizeSection(2, 140);
    EXPECT_EQ(right->columnWidth(2), 140);
}

TEST_F(BrowseFixture, TestRowsLayoutClassNamesAndRedRows) {
    Exec("UPDATE Test SET Predicted = -1 WHERE MainPrimaryKey = 102;");
    Exec("UPDATE Test SET Actual = -1, Predicted = 2 WHERE MainPrimaryKey = 103;");
    Browse(1);
    const auto& cols = Model()->Columns();
    EXPECT_EQ(cols[1].caption, "Species");
    EXPECT_EQ(cols[2].caption, "Predicted");
    EXPECT_EQ(grid->Grid()->LeftCol(1), 4);
    const auto keys = GridKeys();
    const auto wrong = Keys("Actual>0 AND Predicted<>Actual");
    auto names = project->OpenProject(false)->OpenRecordset(
        "SELECT Test.MainPrimaryKey, LinkDataSource.Species FROM Test INNER JOIN LinkDataSource ON "
        "Test.MainPrimaryKey = LinkDataSource.IndexCounter1 WHERE MainPrimaryKey >= 101;",
        dao::RecordsetType::Snapshot);
    std::map<long, QString> species;
    for (; !names->Eof(); names->MoveNext()) species[names->Fields(0).AsLong()] = QString::fromStdString(names->Fields(1).AsString());
    for (int r = 0; r < int(keys.size()); ++r) {
        const long k = keys[size_t(r)];
        const bool red = std::find(wrong.begin(), wrong.end(), k) != wrong.end();
        const QVariant style = Model()->data(Model()->index(r, 1), CBrowseModel::RowStyleRole);
        EXPECT_EQ(style.isValid(), red) << k;
        if (k == 102) {
            EXPECT_EQ(Model()->Text(r, 2), "N/A");
        }
        if (k == 103) {
            EXPECT_EQ(Model()->Text(r, 1), "N/A");
            EXPECT_FALSE(style.isValid());
        }
        if (k != 103) {
            EXPECT_EQ(Model()->Text(r, 1), species[k]) << k;
        }
    }
    // Columns 0-3 keep their width, the first data column included.
    QTableView* right = grid->Grid()->SplitView(1);
    const int w3 = right->columnWidth(3);
    right->horizontalHeader()->resizeSection(3, w3 + 40);
    EXPECT_EQ(right->columnWidth(3), w3);
}

TEST_F(BrowseFixture, LongClassNamesAreCutToTheWidth) {
    Exec("UPDATE DValues_5 SET DValues = 'virginica-with-a-name-far-too-long-for-a-column' WHERE ValueNum = 3;");
    Browse(1);
    const auto& items = Model()->Columns()[1].valueItems;
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].display, "N/A");
    EXPECT_EQ(items[1].display, "N/A");
    const QString cut = items[4].display;
    EXPECT_TRUE(QString("virginica-with-a-name-far-too-long-for-a-column").startsWith(cut));
    EXPECT_LT(cut.size(), 50);
    EXPECT_LE(QFontMetrics(grid->Grid()->font()).horizontalAdvance(cut), 100);
}

TEST_F(BrowseFixture, DoubleClickAndSpaceToggleTheMark) {
    Exec("UPDATE Test SET Mark = Null WHERE MainPrimaryKey = 2;");
    Browse(0);
    const auto keys = GridKeys();
    const int row2 = int(std::find(keys.begin(), keys.end(), 2) - keys.begin());
    const int row3 = int(std::find(keys.begin(), keys.end(), 3) - keys.begin());
    QTableView* right = grid->Grid()->SplitView(1);
    grid->show();
    QApplication::processEvents();

    // Other keys move no row: the grid is searched with its Find dialog, not
    // row by row through the whole table at each key.
    grid->Grid()->SetRow(row2);
    grid->Grid()->SetCol(4);
    QKeyEvent four(QEvent::KeyPress, Qt::Key_4, Qt::NoModifier, QStringLiteral("4"));
    QApplication::sendEvent(right, &four);
    EXPECT_EQ(grid->Grid()->Row(), row2);
    grid->Grid()->SetCol(1);
    QKeyEvent v(QEvent::KeyPress, Qt::Key_V, Qt::NoModifier, QStringLiteral("v"));
    QApplication::sendEvent(grid->Grid()->SplitView(0), &v);
    EXPECT_EQ(grid->Grid()->Row(), row2);

    Press(right->viewport(), CellOf(right, row2, 4), Qt::LeftButton, QEvent::MouseButtonDblClick);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{2, 3, 5, 101, 120, 150}));  // Null becomes marked
    EXPECT_TRUE(Model()->data(Model()->index(row2, 0), Qt::DecorationRole).isValid());

    grid->Grid()->SetRow(row3);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(right, &space);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{2, 5, 101, 120, 150}));  // -1 becomes 0

    // After a press on the headings neither changes a mark, until a press below them.
    Press(right->horizontalHeader()->viewport(), HeadingOf(right, 4), Qt::LeftButton);
    QApplication::sendEvent(right, &space);
    Press(right->viewport(), CellOf(right, row3, 4), Qt::LeftButton, QEvent::MouseButtonDblClick);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{2, 5, 101, 120, 150}));
    Press(right->viewport(), CellOf(right, row3, 4), Qt::LeftButton);
    QApplication::sendEvent(right, &space);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{2, 3, 5, 101, 120, 150}));  // 0 becomes -1

    // A source without the mark of Test: the toggle writes nothing, not even the first column.
    grid->SetRecordSource("SELECT Test.MainPrimaryKey, Test.Actual FROM Test");
    ASSERT_TRUE(grid->RecordSet()->Updatable());
    grid->Grid()->SetRow(0);
    QApplication::sendEvent(right->isColumnHidden(1) ? grid->Grid()->SplitView(0) : right, &space);
    EXPECT_EQ(Keys(""), Range150());
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{2, 3, 5, 101, 120, 150}));
    Show();

    // A read-only record set leaves the marks alone, silently.
    grid->SetReadOnly(true);
    grid->Refresh();
    grid->Grid()->SetRow(row2);
    QApplication::sendEvent(right, &space);
    EXPECT_EQ(Keys("Mark=-1"), (std::vector<long>{2, 3, 5, 101, 120, 150}));
    EXPECT_TRUE(dialogs.Messages().empty());
}

// The model is searched as any of Qt's models: exact or by start, letter case
// ignored unless asked, from a start row and wrapping round.
TEST_F(BrowseFixture, TheModelMatchesAsQtModelsDo) {
    Browse(0);
    const int species = ColumnOf(QStringLiteral("Species")), key = ColumnOf(QStringLiteral("IndexCounter1"));
    ASSERT_GE(species, 0);
    std::vector<int> virginica;
    for (int r = 0; r < Model()->Count(); ++r)
        if (Model()->Text(r, species) == QLatin1String("virginica")) virginica.push_back(r);
    ASSERT_EQ(virginica.size(), 50u);
    const auto rows = [](const QModelIndexList& hits) {
        std::vector<int> r;
        for (const QModelIndex& i : hits) r.push_back(i.row());
        return r;
    };
    const QModelIndex top = Model()->index(0, species);
    EXPECT_EQ(rows(Model()->match(top, Qt::DisplayRole, QStringLiteral("virginica"), -1, Qt::MatchExactly)), virginica);
    EXPECT_EQ(rows(Model()->match(top, Qt::DisplayRole, QStringLiteral("VIRG"), 2, Qt::MatchStartsWith)),
              (std::vector<int>{virginica[0], virginica[1]}));
    EXPECT_TRUE(Model()
                    ->match(top, Qt::DisplayRole, QStringLiteral("VIRG"), 1,
                            Qt::MatchStartsWith | Qt::MatchCaseSensitive)
                    .isEmpty());
    const QModelIndex last = Model()->index(virginica.back(), species);
    EXPECT_EQ(rows(Model()->match(last, Qt::DisplayRole, QStringLiteral("virginica"), 2,
                                  Qt::MatchExactly | Qt::MatchWrap)),
              (std::vector<int>{virginica.back(), virginica[0]}));
    const auto keys = GridKeys();
    const int row42 = int(std::find(keys.begin(), keys.end(), 42) - keys.begin());
    EXPECT_EQ(rows(Model()->match(Model()->index(0, key), Qt::DisplayRole, 42, 1, Qt::MatchExactly)),
              std::vector<int>{row42});
}

TEST_F(BrowseFixture, RightClicksShowTheirMenus) {
    Browse(1);
    grid->show();
    QApplication::processEvents();
    QTableView* left = grid->Grid()->SplitView(0);
    QTableView* right = grid->Grid()->SplitView(1);
    grid->Grid()->SetRow(0);

    Press(right->horizontalHeader()->viewport(), HeadingOf(right, 5), Qt::RightButton);
    EXPECT_EQ(grid->LastPopup(), "popGrid");
    EXPECT_EQ(grid->Grid()->Col(), 5);
    grid->ActiveBar("popGrid")->hide();

    // A band the bar does not hold shows nothing; an empty name means popGrid.
    grid->ShowPopup("popNone");
    EXPECT_EQ(grid->LastPopup(), "popGrid");
    grid->ShowPopup("popCopy");
    grid->ActiveBar("popCopy")->hide();
    grid->ShowPopup("");
    EXPECT_EQ(grid->LastPopup(), "popGrid");
    grid->ActiveBar("popGrid")->hide();
    // Past the last column: no menu.
    Press(right->horizontalHeader()->viewport(), QPoint(right->horizontalHeader()->length() + 50, 5), Qt::RightButton);
    EXPECT_EQ(grid->Grid()->Col(), 5);

    Press(left->viewport(), CellOf(left, 3, 1), Qt::RightButton);
    EXPECT_EQ(grid->LastPopup(), "popCopy");
    EXPECT_EQ(grid->Grid()->Row(), 3);
    EXPECT_EQ(grid->Grid()->Col(), 1);
    EXPECT_EQ(grid->Grid()->Split(), 0);
    grid->ActiveBar("popCopy")->hide();
    EXPECT_FALSE(grid->ActiveBar("popCopy")->actions().at(2)->isEnabled());  // live prediction off at start
    grid->SetSpecialSelectEnable(true);
    EXPECT_TRUE(grid->SpecialSelectEnable());
}

// With TESSARY_SCREENSHOTS set ("1" for build/screenshots, or a folder), the
// two views over the sample are written as PNG files for a person to look at.
TEST_F(BrowseFixture, Screenshots) {
    QString out = qEnvironmentVariable("TESSARY_SCREENSHOTS");
    if (out.isEmpty()) GTEST_SKIP() << "TESSARY_SCREENSHOTS not set";
    if (out == "1") out = qEnvironmentVariable("TESSARY_BINARY_DIR") + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(out));
    grid->resize(1000, 420);
    grid->show();
    Browse(0);
    grid->Grid()->SetRow(2);
    grid->Grid()->SetCol(4);
    QApplication::processEvents();
    const QImage all = grid->grab().toImage();
    ASSERT_EQ(all.size(), grid->size() * grid->devicePixelRatio());
    EXPECT_TRUE(all.save(out + "/grid_all_rows.png"));
    Browse(1);
    QObject::connect(grid.get(), &base::IGridPanel::AddSort, [this](const QString& field, bool desc) {
        sql->AddSort(field.toStdString(), desc);
        grid->SetRecordSource(QString::fromStdString(sql->GetSql()));
    });
    grid->Grid()->SetRow(0);
    grid->Grid()->SetCol(2);
    grid->SortDESC();
    QApplication::processEvents();
    EXPECT_TRUE(grid->grab().toImage().save(out + "/grid_test_rows.png"));
}
