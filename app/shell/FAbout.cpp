#include "FAbout.h"

#include "AppServices.h"
#include "CProject.h"
#include "ErrorGuard.h"
#include "KeyCodes.h"
#include "MUtilities.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kPerson = QStringLiteral("The Tessary Team");
const QString kJob = QStringLiteral("Rule Extraction");
const QString kAddress = QStringLiteral("https://tavrel.example/");
}  // namespace

FAbout::FAbout(QWidget* mainWindow) : QDialog(mainWindow) {
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral(" About Tessary "));
    mPicture = new QLabel(this);
    mPicture->setObjectName(QStringLiteral("picAbout"));
    mPicture->setFixedSize(64, 200);
    QPixmap blank(mPicture->size());
    blank.fill(Qt::white);
    mPicture->setPixmap(blank);
    mPicture->installEventFilter(this);

    auto* title = new QLabel(QStringLiteral("Tessary 2.0"), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont tf = title->font();
    tf.setPointSize(18);
    tf.setBold(true);
    title->setFont(tf);
    auto* version = new QLabel(QStringLiteral("Version Information:"), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* number = new QLabel(QStringLiteral("%1.%2.%3")
                                  .arg(tessary::VersionMajor)
                                  .arg(tessary::VersionMinor)
                                  .arg(tessary::VersionRevision),
                              this);
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(kAddress), this);
    link->setObjectName(QStringLiteral("lblLink"));
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(link, &QLabel::linkActivated, this,
            [this](const QString& url) { base::ShowErrors("FAbout::lblLink_Click", [&] { ShellOpen(url); }); });
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addWidget(version);
    text->addWidget(number);
    text->addWidget(link);
    text->addStretch(1);
    text->addWidget(ok, 0, Qt::AlignRight);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(mPicture);
    layout->addLayout(text, 1);

    mTimer = new QTimer(this);
    mTimer->setObjectName(QStringLiteral("tmrTmp"));
    connect(mTimer, &QTimer::timeout, this, base::ShowingErrors("FAbout::tmrTmp_Timer", [this] { Tick(); }));
    adjustSize();
    if (mainWindow) {
        const QRect m = mainWindow->geometry();
        move(m.left() + (m.width() - width()) / 2, m.top() + (m.height() - height()) / 2);
    }
}

void FAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    app::Screen().SetMousePointer(app::vbDefault);
}

QVariant FAbout::ShellOpen(const QString& address) { return QDesktopServices::openUrl(QUrl(address)); }

bool FAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mPicture) return QDialog::eventFilter(watched, event);
    const auto type = event->type();
    if (type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) return false;
    auto* me = static_cast<QMouseEvent*>(event);
    const Qt::KeyboardModifiers mods = me->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (type == QEvent::MouseButtonDblClick) {
        if (mStage == 0 && mods == (Qt::ControlModifier | Qt::AltModifier)) mStage = 1;
        else if (mStage == 1 && mods == Qt::ControlModifier) mStage = 2;
        else mStage = 0;
        return true;
    }
    if (me->button() != Qt::LeftButton) return false;
    mLastModifiers = mods;
    if (mStage == 2 && mods == Qt::NoModifier) {
        QPixmap blank(mPicture->size());
        blank.fill(Qt::white);
        mPicture->setPixmap(blank);
        mFrame = 0;
        mStage = 0;
        mTimer->start(80);
    }
    return true;
}

void FAbout::Tick() {
    ++mFrame;
    if (mFrame > 27) {
        mFrame = 0;
        mTimer->stop();
        return;
    }
    QPixmap pic = mPicture->pixmap();
    QPainter p(&pic);
    QFont f = font();
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0, 0, 255));
    const bool person = mFrame <= 10;
    const QString text = person ? kPerson.left(mFrame * kPerson.size() / 10) : kJob.left(mFrame - 10);
    p.translate(person ? 2 + p.fontMetrics().ascent() : 20 + p.fontMetrics().ascent(), person ? 135 : 170);
    p.rotate(-90);
    p.fillRect(QRect(0, -p.fontMetrics().ascent(), 200, p.fontMetrics().height()), Qt::white);
    p.drawText(0, 0, text);
    p.end();
    mPicture->setPixmap(pic);
}

void FAbout::keyPressEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    MUtilities::MenuKeyDown(code, shift);
    if (code != 0) QDialog::keyPressEvent(event);
}

void FAbout::keyReleaseEvent(QKeyEvent* event) {
    int16_t code = KeyCodes::VbKeyCode(event);
    int16_t shift = KeyCodes::VbShift(event->modifiers());
    MUtilities::MenuKeyUp(code, shift);
    if (code != 0) QDialog::keyReleaseEvent(event);
}
