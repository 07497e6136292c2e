// The spin button, the range bar, the numeric spin box and the text forms
// they show.
#include "MFormat.h"
#include "PanelTestSupport.h"
#include "URecordSelect.h"
#include "USpin.h"
#include "UTextSpin.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>

using namespace paneltest;

namespace {

// ---------------------------------------------------------------- text forms

TEST(Format, PatternsNumbersAndLocaleIndependence) {
    App();
    EXPECT_EQ(MFormat::Pattern(0.25, "0.000"), "0.250");
    EXPECT_EQ(MFormat::Pattern(0.6, "0.00%"), "60.00%");
    EXPECT_EQ(MFormat::Pattern(89.6, "0"), "90");
    EXPECT_EQ(MFormat::Pattern(-0.001, "0.0"), "0.0");
    EXPECT_EQ(MFormat::Grouped(1234567), "1,234,567");
    EXPECT_EQ(MFormat::General(10), "10");
    EXPECT_EQ(MFormat::General(0.1), "0.1");
    EXPECT_EQ(MFormat::General(double(4.3f)), "4.3");  // a statistic stored in single precision
    EXPECT_EQ(MFormat::General(1234567.891), "1234567.891");
    EXPECT_EQ(MFormat::General(1e20), "1e+20");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(MFormat::Fixed(1.5, 2), "1.50");  // never "1,50"
    EXPECT_EQ(MFormat::ParseNumber("2.5").value(), 2.5);
    EXPECT_FALSE(MFormat::ParseNumber("2,5"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_FALSE(MFormat::ParseNumber(""));
    EXPECT_FALSE(MFormat::ParseNumber("1,000"));
    EXPECT_FALSE(MFormat::ParseNumber("abc"));
}

TEST(Format, DatesAndDataSourceNames) {
    App();
    EXPECT_EQ(MFormat::ShortDate(2), "1/1/1900");
    EXPECT_EQ(MFormat::ShortDate(45000.5), "3/15/2023 12:00:00");
    EXPECT_EQ(MFormat::ParseDate("3/15/2023").value(), 45000);
    EXPECT_EQ(MFormat::ParseDate("2023-03-15 12:00").value(), 45000.5);
    EXPECT_DOUBLE_EQ(MFormat::ParseDate(MFormat::ShortDate(-700.25)).value(), -700.25);
    EXPECT_FALSE(MFormat::ParseDate("13/45/2023"));
    EXPECT_FALSE(MFormat::ParseDate("tomorrow"));
    EXPECT_EQ(MFormat::DsnName("ODBC;DSN=Sales;DATABASE=Shop"), "Sales");
    EXPECT_EQ(MFormat::DsnName("ODBC;DATABASE=Shop;DSN=Last"), "Last");
    EXPECT_EQ(MFormat::DsnName("ODBC;DATABASE=Shop"), "");
}

// ---------------------------------------------------------------- spin button

TEST(Spin, ClicksKeysAndButtons) {
    App();
    USpin spin;
    spin.resize(14, 31);
    QSignalSpy spy(&spin, &USpin::Change);
    Press(&spin, {7, 4});
    Release(&spin, {7, 4});
    ASSERT_EQ(spy.count(), 1);
    EXPECT_FALSE(spy.takeFirst().at(0).toBool());
    Press(&spin, {7, 27});
    Release(&spin, {7, 27});
    ASSERT_EQ(spy.count(), 1);
    EXPECT_TRUE(spy.takeFirst().at(0).toBool());
    EXPECT_FALSE(spin.Repeating());

    Mouse(&spin, QEvent::MouseButtonPress, {7, 4}, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(spy.count(), 0);

    DoubleClick(&spin, {7, 4});
    ASSERT_EQ(spy.count(), 2);
    EXPECT_FALSE(spy.at(0).at(0).toBool());
    EXPECT_FALSE(spy.at(1).at(0).toBool());
    EXPECT_FALSE(spin.Repeating());
    spy.clear();

    QTest::keyClick(&spin, Qt::Key_PageDown);
    ASSERT_EQ(spy.count(), 5);
    for (const auto& args : spy) EXPECT_TRUE(args.at(0).toBool());
    spy.clear();
    QTest::keyClick(&spin, Qt::Key_Home);
    QTest::keyClick(&spin, Qt::Key_End);
    EXPECT_EQ(spy.count(), 0);
    QTest::keyClick(&spin, Qt::Key_Up);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_FALSE(spy.at(0).at(0).toBool());
}

TEST(Spin, HoldRepeatsAfterADelayAtAFollowableRate) {
    App();
    USpin spin;
    spin.resize(14, 31);
    std::vector<qint64> times;
    QElapsedTimer clock;
    QObject::connect(&spin, &USpin::Change, [&](bool down) {
        EXPECT_TRUE(down);
        times.push_back(clock.elapsed());
    });
    for (int round = 0; round < 2; ++round) {
        times.clear();
        clock.start();
        Press(&spin, {7, 27});
        // The pointer leaving the control changes nothing while the button is held.
        Move(&spin, {7, 2});
        QTest::qWait(700);
        Release(&spin, {7, 2});
        const size_t held = times.size();
        QTest::qWait(100);
        EXPECT_EQ(times.size(), held);  // nothing after the release
        ASSERT_GE(times.size(), 3u);
        EXPECT_LT(times[0], 50);
        EXPECT_GE(times[1], USpin::kFirstDelayMs - 5);
        // Repeats at most once per kRepeatMs: a 400 ms fast phase gives no more than 26.
        EXPECT_LE(times.size(), 2u + 400u / USpin::kRepeatMs + 2u);
        for (size_t i = 2; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], USpin::kRepeatMs - 6);
    }
}

TEST(Spin, FocusOutline) {
    App();
    QWidget host;
    auto* a = new QLineEdit(&host);
    auto* spin = new USpin(&host);
    host.show();
    QApplication::setActiveWindow(&host);
    a->setFocus();
    EXPECT_FALSE(spin->OutlineShown());
    spin->setFocus();
    EXPECT_TRUE(spin->OutlineShown());
    a->setFocus();
    EXPECT_FALSE(spin->OutlineShown());
}

// ---------------------------------------------------------------- range bar

TEST(RangeBar, DragMapIsTheExactInverseOfTheDrawingMap) {
    const int32_t mins[] = {1, 1, 1, -50, 7};
    const int32_t maxes[] = {1, 2, 1000, 50, 1000000};
    for (int height = 10; height <= 1200; height += 7) {
        const double top = height >= 45 ? 20 : 2;
        const double length = height - 2 * top - 1;
        if (length <= 0) continue;
        for (int k = 0; k < 5; ++k) {
            const int32_t mn = mins[k], mx = maxes[k];
            const int64_t step = std::max<int64_t>(1, (int64_t(mx) - mn) / 500);
            for (int64_t v = mn; v <= mx; v += step)
                ASSERT_EQ(URecordSelect::ValueAt(URecordSelect::PositionOf(v, mn, mx, top, length), mn, mx, top, length), v)
                    << "height " << height << " range " << mn << ".." << mx;
        }
    }
}

struct Bar : AppFirst {
    Bar(int height = 340) {
        bar.resize(120, height);
    }
    // Presses at the centre of a hit rectangle and moves vertically to the position of value v.
    QPointF Grab(bool low) const {
        const QRect r = low ? bar.LowHandleRect() : bar.HighHandleRect();
        return {r.left() + r.width() / 2.0, bar.PositionOf(low ? bar.LowValue() : bar.HighValue())};
    }
    URecordSelect bar;
};

TEST(RangeBar, SettersClampAndRaiseNothing) {
    Bar b;
    URecordSelect& bar = b.bar;
    QSignalSpy spy(&bar, &URecordSelect::Change);
    EXPECT_EQ(bar.RangeMax(), 201);
    bar.SetRangeMax(0);
    bar.SetLowValue(0);
    EXPECT_EQ(bar.LowValue(), 1);
    bar.SetLowValue(400);
    bar.SetMax(300);
    EXPECT_EQ(bar.HighValue(), 300);
    EXPECT_EQ(bar.LowValue(), 300);
    bar.SetMax(1000);
    bar.SetHighValue(600);
    bar.SetLowValue(400);
    bar.SetRangeMax(50);
    EXPECT_EQ(bar.HighValue(), 449);
    bar.SetMin(2000);  // above Max: Min becomes Max and pulls both values up
    EXPECT_EQ(bar.Min(), 1000);
    EXPECT_EQ(bar.LowValue(), 1000);
    EXPECT_EQ(bar.HighValue(), 1000);
    EXPECT_EQ(spy.count(), 0);
}

TEST(RangeBar, StoredPropertiesUseTheStoresDefaultsAndLoadUnchecked) {
    Bar b;
    URecordSelect& bar = b.bar;
    // A new control's range limit is not the store's default.
    EXPECT_EQ(bar.WriteProperties(), (QVariantMap{{"RangeMax", 201}}));
    QSignalSpy changed(&bar, &URecordSelect::PropertyChanged);
    bar.SetRangeMax(0);
    bar.SetMax(900);
    bar.SetMin(5);
    bar.SetLowValue(10);
    bar.SetHighValue(50);
    bar.SetFillColor(QColor(255, 0, 0));
    bar.SetForeColor(QColor(0, 128, 0));
    EXPECT_EQ(changed.count(), 3);
    const QVariantMap bag = bar.WriteProperties();
    EXPECT_EQ(bag.value("FillColor").toUInt(), 0x0000FFu);
    EXPECT_EQ(bag.value("ForeColor").toUInt(), 0x008000u);
    EXPECT_FALSE(bag.contains("BackColor"));
    URecordSelect copy;
    copy.ReadProperties(bag);
    EXPECT_EQ(copy.WriteProperties(), bag);
    EXPECT_EQ(copy.Min(), 5);
    EXPECT_EQ(copy.Max(), 900);
    EXPECT_EQ(copy.LowValue(), 10);
    EXPECT_EQ(copy.HighValue(), 50);
    EXPECT_EQ(copy.RangeMax(), 0);
    EXPECT_EQ(copy.FillColor(), QColor(255, 0, 0));
    // Missing keys take the store's defaults; keys are case-blind; values stay as stored.
    URecordSelect loaded;
    loaded.ReadProperties({{"low", 700}, {"HIGH", 20}, {"backcolor", 0x00FFFF}});
    EXPECT_EQ(loaded.RangeMax(), 100);
    EXPECT_EQ(loaded.LowValue(), 700);
    EXPECT_EQ(loaded.HighValue(), 20);
    EXPECT_EQ(loaded.BackColor(), QColor(255, 255, 0));
    EXPECT_EQ(loaded.FillColor(), QColor(0, 0, 255));
}

TEST(RangeBar, DragsClampAtTheTrackAndTheOtherHandle) {
    Bar b(340);  // track 300 pixels long
    URecordSelect& bar = b.bar;
    ASSERT_EQ(bar.TrackLength(), 299);
    bar.SetRangeMax(0);
    QSignalSpy spy(&bar, &URecordSelect::Change);
    QPointF p = b.Grab(true);
    Press(&bar, p);
    Move(&bar, {p.x(), -200});
    EXPECT_EQ(bar.LowValue(), 1);
    Move(&bar, {p.x(), 5000});
    EXPECT_EQ(bar.LowValue(), 600);  // stops at the high value
    Release(&bar, {p.x(), 5000});
    EXPECT_EQ(spy.count(), 2);

    // The filled range keeps its span.
    bar.SetLowValue(400);
    p = {double(bar.TrackLeft() + 6), bar.PositionOf(500)};
    Press(&bar, p);
    Move(&bar, {p.x(), 1e6});
    EXPECT_EQ(bar.LowValue(), 800);
    EXPECT_EQ(bar.HighValue(), 1000);
    Move(&bar, {p.x(), -1e6});
    EXPECT_EQ(bar.LowValue(), 1);
    EXPECT_EQ(bar.HighValue(), 201);
    Release(&bar, p);
}

TEST(RangeBar, RangeLimitStopsTheHandles) {
    Bar b;
    URecordSelect& bar = b.bar;
    bar.SetRangeMax(0);
    bar.SetLowValue(1);
    bar.SetHighValue(100);
    bar.SetRangeMax(100);
    QPointF p = b.Grab(false);
    Press(&bar, p);
    Move(&bar, {p.x(), 330});
    EXPECT_EQ(bar.HighValue(), 100);
    Release(&bar, p);
    bar.SetRangeMax(0);
    bar.SetHighValue(300);
    bar.SetLowValue(50);
    bar.SetRangeMax(100);  // 50..300 spans more than 100: the high value follows
    EXPECT_EQ(bar.HighValue(), 149);
    bar.SetHighValue(300);  // at most 100 values: 50..149 stays
    EXPECT_EQ(bar.HighValue(), 149);
    bar.SetRangeMax(0);
    bar.SetHighValue(300);
    bar.SetLowValue(250);
    bar.SetRangeMax(100);
    QSignalSpy spy(&bar, &URecordSelect::Change);
    p = b.Grab(true);
    Press(&bar, p);
    Move(&bar, {p.x(), -100});  // towards 1: stops at 201
    EXPECT_EQ(bar.LowValue(), 201);
    EXPECT_EQ(spy.count(), 1);
    Release(&bar, p);
}

TEST(RangeBar, PressAndSidewaysNudgeChangeNothingAtAnySize) {
    for (int height : {60, 137, 340, 611, 1000}) {
        Bar b(height);
        URecordSelect& bar = b.bar;
        bar.SetRangeMax(0);
        for (int32_t low : {1, 2, 333, 400, 599}) {
            bar.SetLowValue(low);
            QSignalSpy spy(&bar, &URecordSelect::Change);
            for (bool isLow : {true, false}) {
                const QPointF p = b.Grab(isLow);
                Press(&bar, p);
                Move(&bar, {p.x() + 3, p.y()});
                Move(&bar, {p.x() - 2, p.y()});
                Release(&bar, p);
            }
            EXPECT_EQ(spy.count(), 0) << "height " << height << " low " << low;
            EXPECT_EQ(bar.LowValue(), low);
            EXPECT_EQ(bar.HighValue(), 600);
        }
    }
}

TEST(RangeBar, EachPressStartsFromTheDraggedValue) {
    // The first step of a new drag that lands on the value the previous drag
    // ended with still moves the handle.
    Bar b;
    URecordSelect& bar = b.bar;
    bar.SetRangeMax(0);
    QPointF p = b.Grab(true);
    Press(&bar, p);
    Move(&bar, {p.x(), bar.PositionOf(500)});
    Release(&bar, p);
    ASSERT_EQ(bar.LowValue(), 500);
    bar.SetLowValue(100);
    QSignalSpy spy(&bar, &URecordSelect::Change);
    p = b.Grab(true);
    Press(&bar, p);
    Move(&bar, {p.x(), bar.PositionOf(500)});
    EXPECT_EQ(bar.LowValue(), 500);
    EXPECT_EQ(spy.count(), 1);
    Move(&bar, {p.x(), bar.PositionOf(500) + 0.1});  // same value: nothing
    EXPECT_EQ(spy.count(), 1);
    Release(&bar, p);
}

TEST(RangeBar, EditBoxTakesDigitsAndClamps) {
    Bar b;
    URecordSelect& bar = b.bar;
    bar.SetRangeMax(0);
    bar.SetMax(650);
    bar.show();
    auto* edit = bar.findChild<QLineEdit*>("txtNumber");
    ASSERT_TRUE(edit);
    QSignalSpy spy(&bar, &URecordSelect::Change);
    const QPointF high = b.Grab(false);
    DoubleClick(&bar, high);
    ASSERT_TRUE(edit->isVisible());
    EXPECT_EQ(edit->text(), "600");
    edit->selectAll();
    QTest::keyClicks(edit, "7a-0x0");
    EXPECT_EQ(edit->text(), "700");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(edit->isVisible());
    EXPECT_EQ(bar.HighValue(), 650);
    EXPECT_EQ(spy.count(), 1);

    DoubleClick(&bar, b.Grab(false));
    edit->clear();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(spy.count(), 1);  // empty text: nothing
    DoubleClick(&bar, b.Grab(true));
    edit->setText("2");
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(edit->isVisible());
    EXPECT_EQ(bar.LowValue(), 400);
    DoubleClick(&bar, b.Grab(true));
    edit->setText("99999999999");  // beyond 32 bits counts as 0, then Min
    QTest::keyClick(edit, Qt::Key_Enter);
    EXPECT_EQ(bar.LowValue(), 1);
    EXPECT_EQ(spy.count(), 2);
    DoubleClick(&bar, {2, 2});  // not on a number
    EXPECT_FALSE(edit->isVisible());
}

// The panel is hidden with the edit box open (a command moving to another
// step): the box loses the keyboard while shown by its own switch, so the
// number typed is taken over.
TEST(RangeBar, EditBoxTakesItsNumberWhenThePanelIsHidden) {
    App();
    QWidget window;
    auto* panel = new QWidget(&window);
    panel->resize(120, 340);
    auto* bar = new URecordSelect(panel);
    bar->resize(120, 340);
    auto* other = new QLineEdit(&window);
    other->move(130, 0);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    bar->SetRangeMax(0);
    bar->SetMax(650);
    QSignalSpy spy(bar, &URecordSelect::Change);
    const QRect r = bar->HighHandleRect();
    DoubleClick(bar, {r.left() + r.width() / 2.0, bar->PositionOf(bar->HighValue())});
    auto* edit = bar->findChild<QLineEdit*>("txtNumber");
    ASSERT_TRUE(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, "620");
    panel->hide();
    EXPECT_NE(QApplication::focusWidget(), edit);
    EXPECT_EQ(bar->HighValue(), 620);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(edit->isHidden());
}

TEST(RangeBar, DrawnFillAndSmallControls) {
    Bar b;
    URecordSelect& bar = b.bar;
    bar.SetRangeMax(0);
    bar.SetLowValue(500);
    bar.SetHighValue(500);
    QImage img = bar.grab().toImage();
    const int x = bar.TrackLeft() + 6;
    const int y = int(std::nearbyint(bar.PositionOf(500)));
    EXPECT_EQ(img.pixelColor(x, y), QColor(0, 0, 255));
    EXPECT_NE(img.pixelColor(x, y + 1), QColor(0, 0, 255));
    EXPECT_NE(img.pixelColor(x, y - 1), QColor(0, 0, 255));

    Bar small(40);
    EXPECT_EQ(small.bar.TrackTop(), 2);
    img = small.bar.grab().toImage();
    // No Min or Max number above or below the track: nothing blue but the fill.
    int blue = 0;
    for (int yy = 0; yy < img.height(); ++yy)
        for (int xx = 0; xx < img.width(); ++xx)
            if (img.pixelColor(xx, yy) == QColor(0, 0, 255) && (xx < small.bar.TrackLeft() || xx >= small.bar.TrackLeft() + 13)) ++blue;
    EXPECT_EQ(blue, 0);
    Bar flat(3);  // no track at all: drags are ignored
    QSignalSpy spy(&flat.bar, &URecordSelect::Change);
    Press(&flat.bar, {60, 1});
    Move(&flat.bar, {60, 300});
    EXPECT_EQ(spy.count(), 0);
}

// ---------------------------------------------------------------- numeric spin box

struct Box : AppFirst {
    Box() {
        host.resize(300, 80);
        box = new UTextSpin(&host);
        other = new QLineEdit(&host);
        other->move(0, 40);
        host.show();
        QApplication::setActiveWindow(&host);
        text = box->findChild<QLineEdit*>("txtValue");
        spin = box->findChild<USpin*>("uspValue");
    }
    void Type(const QString& s) {
        text->setFocus();
        text->selectAll();
        QTest::keyClicks(text, s);
    }
    QWidget host;
    UTextSpin* box;
    QLineEdit* other;
    QLineEdit* text;
    USpin* spin;
};

TEST(TextSpin, DefaultsStepsAndClamping) {
    Box b;
    EXPECT_EQ(b.text->text(), "1");
    EXPECT_EQ(b.box->Min(), 0);
    EXPECT_EQ(b.box->Max(), 10);
    QSignalSpy spy(b.box, &UTextSpin::Change);
    b.box->SetValue(9.5);
    spy.clear();
    emit b.spin->Change(false);
    EXPECT_EQ(b.box->Value(), 10);
    EXPECT_EQ(spy.count(), 1);
    emit b.spin->Change(false);  // at Max: nothing
    EXPECT_EQ(spy.count(), 1);
    b.box->SetMin(-3);
    b.box->SetSmallChange(4);
    for (int i = 0; i < 4; ++i) emit b.spin->Change(true);  // 6, 2, -2, -3
    EXPECT_EQ(b.box->Value(), -3);
    EXPECT_EQ(spy.count(), 5);
    EXPECT_EQ(b.text->text(), "-3");
    b.box->SetLargeChange(100);
    emit b.spin->Change(false);
    EXPECT_EQ(b.box->Value(), 1);

    // Setters keep Min <= Max and pull the value in without raising Change.
    spy.clear();
    b.box->SetMin(20);
    EXPECT_EQ(b.box->Max(), 20);
    EXPECT_EQ(b.box->Value(), 20);
    b.box->SetMax(5);
    EXPECT_EQ(b.box->Min(), 5);
    EXPECT_EQ(b.box->Value(), 5);
    EXPECT_EQ(b.text->text(), "1");  // text not refreshed
    EXPECT_EQ(spy.count(), 0);
    b.box->SetMax(10);
    b.box->SetValue(50);  // outside: kept, shown again, Change all the same
    EXPECT_EQ(b.box->Value(), 5);
    EXPECT_EQ(b.text->text(), "5");
    EXPECT_EQ(spy.count(), 1);
}

TEST(TextSpin, TypingCommitsOnEnterAndFocusLoss) {
    Box b;
    QSignalSpy spy(b.box, &UTextSpin::Change);
    b.box->SetDecimalPlaces(2);
    b.Type("12");
    QTest::keyClick(b.text, Qt::Key_Return);
    EXPECT_EQ(b.box->Value(), 1);
    EXPECT_EQ(b.text->text(), "1.00");
    EXPECT_EQ(spy.count(), 0);
    b.Type("5");
    QTest::keyClick(b.text, Qt::Key_Enter);
    EXPECT_EQ(b.box->Value(), 5);
    EXPECT_EQ(b.text->text(), "5.00");
    EXPECT_EQ(spy.count(), 1);
    b.Type("7.25");
    b.other->setFocus();
    EXPECT_EQ(b.box->Value(), 7.25);
    EXPECT_EQ(spy.count(), 2);
    // Escape drops typed text.
    b.Type("3");
    QTest::keyClick(b.text, Qt::Key_Escape);
    EXPECT_EQ(b.text->text(), "7.25");
    EXPECT_EQ(b.text->selectedText(), "7.25");
    b.other->setFocus();
    EXPECT_EQ(spy.count(), 2);
}

TEST(TextSpin, TabAndBacktabLeaveTheBoxAndTakeTheValueOver) {
    Box b;
    QSignalSpy spy(b.box, &UTextSpin::Change);
    b.Type("5");
    QTest::keyClick(b.text, Qt::Key_Tab);
    EXPECT_FALSE(b.text->hasFocus());
    EXPECT_EQ(b.box->Value(), 5);
    EXPECT_EQ(spy.count(), 1);
    // The next keystroke goes to the next box, past the arrows.
    ASSERT_EQ(QApplication::focusWidget(), b.other);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_3, Qt::NoModifier);
    EXPECT_EQ(b.text->text(), "5");
    EXPECT_EQ(b.other->text(), "3");
    QTest::keyClick(b.other, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), b.text);
    b.Type("7");
    QTest::keyClick(b.text, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(b.text->hasFocus());
    EXPECT_EQ(b.box->Value(), 7);
    EXPECT_EQ(spy.count(), 2);
    // A click on an arrow steps and leaves the keyboard in the box.
    b.text->setFocus();
    QTest::mouseClick(b.spin, Qt::LeftButton, Qt::NoModifier, QPoint(b.spin->width() / 2, b.spin->height() / 4));
    EXPECT_EQ(b.box->Value(), 8);
    EXPECT_EQ(QApplication::focusWidget(), b.text);
}

// Enabled is the box's own state, whatever its host's.
TEST(TextSpin, EnabledIsTheBoxsOwnInADisabledHost) {
    Box b;
    b.host.setEnabled(false);
    EXPECT_TRUE(b.box->Enabled());
    EXPECT_FALSE(b.box->WriteProperties(b.box->Font()).contains("Enabled"));
    b.box->SetEnabled(false);
    EXPECT_FALSE(b.box->Enabled());
}

TEST(TextSpin, StoredPropertiesRoundTripAndLoadUnchecked) {
    Box b;
    const QFont ambient = b.text->font();
    EXPECT_TRUE(b.box->WriteProperties(ambient).isEmpty());
    QSignalSpy changed(b.box, &UTextSpin::PropertyChanged);
    b.box->SetValue(80);  // outside the bounds: not a change
    EXPECT_EQ(changed.count(), 0);
    b.box->SetMax(50);
    b.box->SetMin(-5);
    b.box->SetDecimalPlaces(2);
    b.box->SetValue(7.5);
    b.box->SetSmallChange(0.5);
    b.box->SetLargeChange(3);
    b.box->SetForeColor(QColor(255, 0, 0));
    b.box->SetEnabled(false);
    EXPECT_EQ(changed.count(), 8);
    const QVariantMap bag = b.box->WriteProperties(ambient);
    EXPECT_EQ(bag.value("ForeColor").toUInt(), 0x0000FFu);
    EXPECT_EQ(bag.value("Enabled"), QVariant(false));
    EXPECT_FALSE(bag.contains("BackColor"));
    UTextSpin copy;
    copy.ReadProperties(bag, ambient);
    EXPECT_EQ(copy.WriteProperties(ambient), bag);
    EXPECT_EQ(copy.Value(), 7.5);
    EXPECT_EQ(copy.Min(), -5);
    EXPECT_EQ(copy.LargeChange(), 3);
    EXPECT_EQ(copy.Text(), "7.50");  // shown after reading
    EXPECT_FALSE(copy.Enabled());
    // Keys are case-blind; a stored value outside the bounds stays as stored.
    UTextSpin loaded;
    loaded.ReadProperties({{"value", 99}, {"showasdate", false}}, ambient);
    EXPECT_EQ(loaded.Value(), 99);
    EXPECT_EQ(loaded.Max(), 10);
    EXPECT_EQ(loaded.Text(), "99");
}

TEST(TextSpin, TheStoredSelectionComesBackAndAShownValueStoresNone) {
    AppFirst app;
    const QFont ambient = QApplication::font();
    // A value shown by code leaves the cursor at the start, as stored by default.
    for (double value : {1.0, 7.0, 2.5}) {
        UTextSpin box;
        box.SetDecimalPlaces(3);
        box.SetValue(value);
        EXPECT_FALSE(box.WriteProperties(ambient).contains("SelStart")) << value;
    }
    struct Case {
        int start, length;
        const char* selected;
    };
    for (const Case& c : {Case{1, 0, ""}, Case{3, 0, ""}, Case{2, 3, ".34"}, Case{0, 6, "12.345"}}) {
        QVariantMap bag{{"Max", 100.0}, {"Value", 12.345}};
        if (c.start) bag.insert("SelStart", c.start);
        if (c.length) bag.insert("SelLength", c.length);
        if (*c.selected) bag.insert("SelText", c.selected);
        UTextSpin box;
        box.ReadProperties(bag, ambient);
        EXPECT_EQ(box.Text(), "12.345");
        EXPECT_EQ(box.SelStart(), c.start);
        EXPECT_EQ(box.SelText(), c.selected);
        EXPECT_EQ(box.WriteProperties(ambient), bag) << c.start << "+" << c.length;
    }
}

TEST(TextSpin, TypingFilterRefusesSignsSecondPointAndLetters) {
    Box b;
    b.Type("-1e2,5.5.3x");
    EXPECT_EQ(b.text->text(), "125.53");
    b.text->setText("4.5");
    b.text->selectAll();
    QTest::keyClicks(b.text, ".");  // refused although the text with the point is selected
    EXPECT_EQ(b.text->text(), "4.5");
    // Bad texts put in by other means revert without a Change.
    QSignalSpy spy(b.box, &UTextSpin::Change);
    for (const char* bad : {"", "abc", "1..2", "1,5", "--3"}) {
        b.text->setFocus();
        b.text->setText(bad);
        QTest::keyClick(b.text, Qt::Key_Backspace);
        b.text->setText(bad);
        QTest::keyClick(b.text, Qt::Key_Return);
    }
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(b.box->Value(), 1);
    EXPECT_EQ(b.text->text(), "1");
}

TEST(TextSpin, ContainerSeesKeysAndMouseFirst) {
    Box b;
    QSignalSpy change(b.box, &UTextSpin::Change);
    // The container takes Enter away: nothing is committed.
    auto enter = QObject::connect(b.box, &UTextSpin::KeyDown, [](int16_t& code, int16_t&) {
        if (code == 13) code = 0;
    });
    b.Type("5");
    QTest::keyClick(b.text, Qt::Key_Return);
    EXPECT_EQ(change.count(), 0);
    QObject::disconnect(enter);
    // ... or drops a character.
    auto seven = QObject::connect(b.box, &UTextSpin::KeyPress, [](int16_t& ascii) {
        if (ascii == '7') ascii = 0;
    });
    b.Type("172");
    EXPECT_EQ(b.text->text(), "12");
    QObject::disconnect(seven);
    int16_t button = 0;
    float x = 0;
    QObject::connect(b.box, &UTextSpin::MouseDown, [&](int16_t& bt, int16_t&, float& xx, float&) {
        button = bt;
        x = xx;
    });
    Press(b.text, {4, 3});
    Release(b.text, {4, 3});
    EXPECT_EQ(button, 1);
    EXPECT_EQ(x, 60.0f);
}

TEST(TextSpin, PointWhateverTheLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Box b;
    b.box->SetDecimalPlaces(1);
    b.box->SetValue(2.5);
    EXPECT_EQ(b.text->text(), "2.5");
    b.Type("3.5");
    QTest::keyClick(b.text, Qt::Key_Return);
    EXPECT_EQ(b.box->Value(), 3.5);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

TEST(TextSpin, DatesAndTheirRange) {
    Box b;
    b.box->SetShowAsDate(true);
    b.box->SetMax(3e6);  // outside the serial range: ignored
    EXPECT_EQ(b.box->Max(), 10);
    b.box->SetMax(45010);
    b.box->SetMin(45000);
    EXPECT_EQ(b.box->Value(), 45000);
    b.box->SetValue(45000);
    EXPECT_EQ(b.text->text(), "3/15/2023");
    QSignalSpy spy(b.box, &UTextSpin::Change);
    b.Type("3/17/2023");
    QTest::keyClick(b.text, Qt::Key_Return);
    EXPECT_EQ(b.box->Value(), 45002);
    b.box->SetSmallChange(1.0 / 24 / 60);
    emit b.spin->Change(false);
    EXPECT_EQ(b.text->text(), "3/17/2023 00:01:00");
    b.Type("45005");  // a bare number is a serial
    QTest::keyClick(b.text, Qt::Key_Return);
    EXPECT_EQ(b.box->Value(), 45005);
    b.Type("2/30/2023");
    QTest::keyClick(b.text, Qt::Key_Return);
    EXPECT_EQ(b.box->Value(), 45005);
    EXPECT_EQ(spy.count(), 3);
}

}  // namespace
