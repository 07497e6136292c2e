// The link label: colours by state, the click rules, the bullet's place and
// the stored properties.
#include "ULink.h"

#include "PanelTestSupport.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

using namespace paneltest;

namespace {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.resize(400, 200);
        link = new ULink(&host);
        link->SetCaption("Browse All Data");
        link->SetAutoSize(true);
        link->move(10, 10);
        host.show();
        QObject::connect(link, &ULink::Click, [this] { ++clicks; });
        QObject::connect(link, &ULink::DblClick, [this] { ++doubleClicks; });
    }
    QColor Shown() const { return link->findChild<QLabel*>("lblCaption")->palette().color(QPalette::WindowText); }
    QPoint Middle() const { return QPoint(link->width() / 2, link->height() / 2); }
    QPoint Outside() const { return QPoint(link->width() + 30, link->height() + 30); }

    WithApp app;
    QWidget host;
    ULink* link = nullptr;
    int clicks = 0;
    int doubleClicks = 0;
};

const QColor kBlue(0, 0, 255), kRed(255, 0, 0), kPurple(128, 0, 128), kGrey(128, 128, 128);

}  // namespace

TEST_F(LinkTest, ColoursFollowHoverHighlightAndEnabledState) {
    EXPECT_EQ(Shown(), kBlue);
    Move(*link, Middle());
    EXPECT_TRUE(link->Hovering());
    EXPECT_EQ(Shown(), kRed);
    Move(*link, Outside());
    EXPECT_FALSE(link->Hovering());
    EXPECT_EQ(Shown(), kBlue);

    // A highlighted link stays purple under the pointer.
    link->SetHighlight(true);
    EXPECT_EQ(Shown(), kPurple);
    Move(*link, Middle());
    EXPECT_TRUE(link->Hovering());
    EXPECT_EQ(Shown(), kPurple);

    // Switching the highlight off under the pointer shows the resting colour at once.
    link->SetHighlight(false);
    EXPECT_EQ(Shown(), kBlue);
    EXPECT_EQ(link->TextColor(), ULink::kLinkColor);

    // Setting the current value again changes nothing that shows.
    link->SetHighlight(false);
    EXPECT_EQ(Shown(), kBlue);

    link->SetEnabled(false);
    EXPECT_EQ(Shown(), kGrey);
    EXPECT_FALSE(link->Font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::ArrowCursor);
    Move(*link, Middle());
    EXPECT_EQ(Shown(), kGrey);
    link->SetHighlight(true);
    EXPECT_EQ(Shown(), kGrey);

    link->SetEnabled(true);
    EXPECT_EQ(Shown(), kPurple);
    EXPECT_TRUE(link->Font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
}

// The look and the stored Enabled follow the link's own state, also while its
// host is disabled, as the main window's frame is during every command.
TEST_F(LinkTest, ColoursFollowTheLinksOwnStateWhileItsHostIsDisabled) {
    Move(*link, Middle());
    ASSERT_EQ(Shown(), kRed);
    host.setEnabled(false);
    // The pointer leaves while the host is off: the hover look goes with it.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(Shown(), kBlue);
    link->SetHighlight(true);
    EXPECT_EQ(Shown(), kPurple);
    link->SetHighlight(false);
    EXPECT_EQ(Shown(), kBlue);
    link->SetFont(link->Font());
    EXPECT_TRUE(link->Font().underline());
    EXPECT_TRUE(link->Enabled());
    EXPECT_FALSE(link->WriteProperties(QFont(), "Browse All Data").contains("Enabled"));
    link->SetEnabled(false);
    EXPECT_EQ(Shown(), kGrey);
    link->SetHighlight(true);
    EXPECT_EQ(Shown(), kGrey);
    EXPECT_FALSE(link->WriteProperties(QFont(), "Browse All Data").value("Enabled", true).toBool());
    link->SetEnabled(true);
    host.setEnabled(true);
    EXPECT_EQ(Shown(), kPurple);
}

TEST_F(LinkTest, OnePressAndReleaseIsOneClick) {
    Click(*link, Middle());
    EXPECT_EQ(clicks, 1);
    // Still over the link: the hover look comes back after the click.
    EXPECT_TRUE(link->Hovering());
    EXPECT_FALSE(link->Pressed());

    // A double click is one Click; only the surface beside the caption raises DblClick.
    clicks = 0;
    DoubleClick(*link, Middle());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubleClicks, 0);
    link->SetBulleted(true);
    link->resize(link->width() + 20, link->height());
    DoubleClick(*link, QPoint(2, link->height() / 2));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(doubleClicks, 1);
}

TEST_F(LinkTest, ReleaseAwayFromTheLinkOrAfterARightPressRaisesNothing) {
    Press(*link, Middle());
    Release(*link, Outside());
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(link->Inside());
    EXPECT_EQ(Shown(), kBlue);

    // A right press clears the pressed state, so the left release that follows is no click.
    Press(*link, Middle());
    Press(*link, Middle(), Qt::RightButton);
    Release(*link, Middle());
    EXPECT_EQ(clicks, 0);

    // A disabled link gets no mouse at all.
    link->SetEnabled(false);
    Click(*link, Middle());
    EXPECT_EQ(clicks, 0);
}

TEST_F(LinkTest, AClickHandlerThatHidesTheLinkLeavesItAtRest) {
    QObject::connect(link, &ULink::Click, link, [this] { link->hide(); });
    Move(*link, Middle());
    ASSERT_TRUE(link->Hovering());
    Click(*link, Middle());
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(link->Inside());
    EXPECT_FALSE(link->Hovering());
    EXPECT_FALSE(link->Pressed());
    EXPECT_EQ(Shown(), kBlue);
}

TEST_F(LinkTest, TheBulletSitsLeftOfTheCaptionOnItsMiddleLine) {
    QFont font = link->Font();
    font.setPointSizeF(9.75);
    link->SetFont(font);
    EXPECT_DOUBLE_EQ(link->CaptionPos().x(), 0);
    link->SetBulleted(true);
    EXPECT_TRUE(link->BulletVisible());
    EXPECT_DOUBLE_EQ(link->BulletRect().width(), 97.5);
    EXPECT_DOUBLE_EQ(link->BulletRect().height(), ULink::kBulletBoxHeight);
    EXPECT_DOUBLE_EQ(link->CaptionPos().x(), 146.25);
    const double captionMiddle = link->CaptionPos().y() + link->findChild<QLabel*>("lblCaption")->sizeHint().height() * 15 / 2.0;
    EXPECT_DOUBLE_EQ(link->BulletRect().center().y(), captionMiddle);
    // The bullet takes the caption's colour.
    EXPECT_EQ(link->grab().toImage().pixelColor(3, link->height() / 2), kBlue);

    // A bigger font widens the bullet and moves the caption along.
    font.setPointSizeF(12);
    link->SetFont(font);
    EXPECT_DOUBLE_EQ(link->BulletRect().width(), 120);
    EXPECT_DOUBLE_EQ(link->CaptionPos().x(), 180);

    link->SetBulleted(false);
    EXPECT_FALSE(link->BulletVisible());
    EXPECT_DOUBLE_EQ(link->CaptionPos().x(), 0);
}

TEST_F(LinkTest, StoredPropertiesRoundTripAndSkipBadValues) {
    const QFont ambient = QApplication::font();
    link->SetBulleted(true);
    link->SetHighlight(true);
    link->SetBackColor(0x00FFFF);
    QVariantMap bag = link->WriteProperties(ambient, "lnkNavMain");
    EXPECT_EQ(bag.value("Caption").toString(), "Browse All Data");
    EXPECT_TRUE(bag.value("AutoSize").toBool());
    EXPECT_FALSE(bag.contains("Enabled"));  // equal to its default

    ULink copy;
    copy.resize(33, 22);
    // Keys are matched without regard to case; a value of the wrong type is skipped.
    QVariantMap loaded;
    for (auto it = bag.cbegin(); it != bag.cend(); ++it) loaded.insert(it.key().toUpper(), it.value());
    loaded.insert("ENABLED", QVariant::fromValue(QSize(1, 1)));
    copy.ReadProperties(loaded, ambient, "lnkCopy");
    EXPECT_EQ(copy.Caption(), "Browse All Data");
    EXPECT_TRUE(copy.AutoSize());
    EXPECT_TRUE(copy.Bulleted());
    EXPECT_TRUE(copy.Highlight());
    EXPECT_TRUE(copy.Enabled());
    EXPECT_EQ(copy.BackColor(), 0x00FFFFu);
    EXPECT_EQ(copy.TextColor(), ULink::kHighlightColor);
    // Loading does not size the control; the next caption does.
    EXPECT_EQ(copy.size(), QSize(33, 22));
    copy.SetCaption("Flow Chart");
    EXPECT_NE(copy.size(), QSize(33, 22));
    EXPECT_EQ(copy.width(), qRound((copy.CaptionPos().x() + copy.findChild<QLabel*>("lblCaption")->sizeHint().width() * 15) / 15));

    // Missing keys take their defaults.
    ULink fresh;
    fresh.SetHighlight(true);
    fresh.ReadProperties({}, ambient, "lnkFresh");
    EXPECT_EQ(fresh.Caption(), "lnkFresh");
    EXPECT_FALSE(fresh.Highlight());
    EXPECT_EQ(fresh.BackColor(), ULink::kDefaultBackColor);
    EXPECT_TRUE(fresh.WriteProperties(ambient, "lnkFresh").isEmpty());
}
