#include "MCaptionFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTextDocument>
#include <QToolButton>

#include <algorithm>

namespace MCaptionFit {

namespace {

constexpr int kShowMnemonic = Qt::TextShowMnemonic;

int LabelWidth(const QLabel* label) {
    const QString text = label->text();
    if (text.isEmpty() || !label->pixmap().isNull() || Qt::mightBeRichText(text) ||
        label->textFormat() == Qt::RichText)
        return 0;
    const QFontMetrics fm(label->font());
    const int chrome = label->width() - label->contentsRect().width() +
                       (label->indent() < 0 && label->frameWidth() > 0 ? fm.horizontalAdvance(QLatin1Char('x')) / 2 : 0) +
                       std::max(label->indent(), 0);
    const int flags = label->buddy() ? kShowMnemonic : 0;
    if (label->wordWrap()) {
        // Wrapped text needs no more width while it fits the height it has.
        const int room = std::max(label->width() - chrome, 1);
        const QRect wrapped = fm.boundingRect(QRect(0, 0, room, 1 << 20), Qt::TextWordWrap | flags, text);
        if (wrapped.width() <= room && wrapped.height() <= label->contentsRect().height()) return 0;
    }
    return fm.size(flags, text).width() + chrome;
}

int ButtonWidth(const QAbstractButton* button) {
    const QString text = button->text();
    if (text.isEmpty()) return 0;
    if (qobject_cast<const QCheckBox*>(button) || qobject_cast<const QRadioButton*>(button))
        return button->sizeHint().width();
    if (auto* tool = qobject_cast<const QToolButton*>(button))
        return tool->toolButtonStyle() == Qt::ToolButtonIconOnly ? 0 : tool->sizeHint().width();
    if (!qobject_cast<const QPushButton*>(button)) return 0;
    const QStyle* style = button->style();
    // The frame and two pixels of air on each side.
    int width = QFontMetrics(button->font()).size(kShowMnemonic, text).width() +
                2 * (style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button) + 2);
    if (!button->icon().isNull()) width += button->iconSize().width() + 4;
    return width;
}

int GroupBoxWidth(const QGroupBox* box) {
    if (box->title().isEmpty()) return 0;
    QStyleOptionGroupBox opt;
    opt.initFrom(box);
    opt.text = box->title();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.textAlignment = box->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (box->isCheckable()) opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    opt.features = box->isFlat() ? QStyleOptionFrame::Flat : QStyleOptionFrame::None;
    const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
    const QRect check = box->isCheckable()
                            ? box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxCheckBox, box)
                            : QRect();
    const int left = check.isNull() ? label.left() : std::min(label.left(), check.left());
    // The same margin on the right as on the left.
    return label.right() + 1 + std::max(left, 0);
}

}  // namespace

int NeededWidth(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) return LabelWidth(label);
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) return ButtonWidth(button);
    if (auto* box = qobject_cast<const QGroupBox*>(w)) return GroupBoxWidth(box);
    return 0;
}

void Fit(QWidget* w) {
    const int need = NeededWidth(w);
    if (need <= w->width()) return;
    const int grow = need - w->width();
    Qt::Alignment align = Qt::AlignLeft;
    if (auto* label = qobject_cast<const QLabel*>(w)) align = label->alignment();
    QRect g = w->geometry();
    if (align & Qt::AlignRight) g.setLeft(g.left() - grow);
    else if (align & Qt::AlignHCenter) g.adjust(-grow / 2, 0, grow - grow / 2, 0);
    else g.setRight(g.right() + grow);
    if (QWidget* parent = w->isWindow() ? nullptr : w->parentWidget()) {
        // Within the parent: a group box grows with what it holds, any other
        // parent cuts what sticks out, so that is no room to take.
        if (g.left() < 0) g.moveLeft(0);
        if (!qobject_cast<QGroupBox*>(parent) && g.right() >= parent->width())
            g.setRight(std::max(w->geometry().right(), parent->width() - 1));
    }
    w->setGeometry(g);
}

void FitAll(QWidget* root) {
    const auto children = root->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->isWindow()) continue;
        FitAll(child);
    }
    Fit(root);
    // A group box holds what it shows, with the margin on the right that its
    // contents keep on the left.
    if (auto* box = qobject_cast<QGroupBox*>(root)) {
        int right = 0, margin = box->width();
        for (QWidget* child : children) {
            if (child->isWindow()) continue;
            right = std::max(right, child->geometry().right() + 1);
            margin = std::min(margin, child->x());
        }
        right += std::clamp(margin, 2, 12);
        if (!children.isEmpty() && right > box->width()) box->resize(right, box->height());
    }
}

QString Breakable(const QString& text) {
    QString out;
    out.reserve(text.size() + 4);
    for (int i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == QLatin1Char('_') && i + 1 < text.size()) out += QChar(0x200B);  // zero-width space
    }
    return out;
}

int TextWidthInLines(const QFont& font, const QString& text, int lines) {
    const QFontMetrics fm(font);
    const QString breakable = Breakable(text);
    const int whole = fm.horizontalAdvance(breakable);
    const auto fits = [&](int width) {
        const QRect r = fm.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, breakable);
        return r.width() <= width && r.height() <= lines * fm.lineSpacing() + fm.leading() + 1;
    };
    // The smallest width that fits, found by halving the range.
    int lo = 1, hi = std::max(whole, 1);
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (fits(mid)) hi = mid;
        else lo = mid + 1;
    }
    return hi;
}

int HeaderPadding(const QHeaderView* header) {
    return 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
}

}  // namespace MCaptionFit
