#include "FSplash.h"

#include "ErrorGuard.h"
#include "KeyCodes.h"
#include "MUtilities.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

FSplash::FSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("FSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(420, 240);
    mTimer = new QTimer(this);
    mTimer->setObjectName(QStringLiteral("Timer1"));
    connect(mTimer, &QTimer::timeout, this, base::ShowingErrors("FSplash::Timer1_Timer", [this] { TimerTick(); }));
}

FSplash::~FSplash() {
    if (mFiltering) qApp->removeEventFilter(this);
}

int32_t FSplash::WaitTime() const { return mTimer->interval(); }
void FSplash::SetWaitTime(int32_t ms) { mTimer->setInterval(ms); }

void FSplash::Load() {
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect g = s->geometry();
        move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
    }
    show();
    repaint();
    mTimer->setInterval(8000);
    mTimer->start();
    // A press anywhere in the program closes the splash.
    qApp->installEventFilter(this);
    mFiltering = true;
}

void FSplash::TimerTick() {
    mTimer->stop();
    close();
}

bool FSplash::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (watched->isWidgetType()) {
                qApp->removeEventFilter(this);
                mFiltering = false;
                QTimer::singleShot(0, this, [this] { TimerTick(); });
                return true;  // the press only closes the splash
            }
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (watched == this) {
                auto* ke = static_cast<QKeyEvent*>(event);
                int16_t code = KeyCodes::VbKeyCode(ke);
                int16_t shift = KeyCodes::VbShift(ke->modifiers());
                if (event->type() == QEvent::KeyPress) MUtilities::MenuKeyDown(code, shift);
                else MUtilities::MenuKeyUp(code, shift);
                return true;
            }
            break;
        default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void FSplash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0x1F, 0x3A, 0x5F));
    g.setColorAt(1, QColor(0x3C, 0x6E, 0x9E));
    p.fillRect(r, g);
    p.setPen(Qt::white);
    QFont big = font();
    big.setPointSize(28);
    big.setBold(true);
    p.setFont(big);
    p.drawText(r.adjusted(0, 0, 0, -40), Qt::AlignCenter, QStringLiteral("Tessary"));
    QFont small = font();
    small.setPointSize(10);
    p.setFont(small);
    p.drawText(r.adjusted(0, 60, 0, 0), Qt::AlignCenter, QStringLiteral("Rules from your data"));
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawRect(r.adjusted(0, 0, -1, -1));
}
