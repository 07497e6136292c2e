#include "CBrowseHeader.h"

#include "MCaptionFit.h"

#include <QStyleOptionHeader>

#include <algorithm>

CBrowseHeader::CBrowseHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    // Wrapped, never elided to one line.
    setTextElideMode(Qt::ElideNone);
}

void CBrowseHeader::SetLines(int lines) {
    mLines = std::max(lines, 1);
    updateGeometry();
    // The view takes the header's height from its size hint.
    emit geometriesChanged();
}

QFont CBrowseHeader::HeadingFont() const {
    QFont f = font();
    f.setBold(true);
    return f;
}

int CBrowseHeader::HeadingWidth(const QString& caption) const {
    return MCaptionFit::TextWidthInLines(HeadingFont(), caption, mLines) + MCaptionFit::HeaderPadding(this);
}

QSize CBrowseHeader::sizeHint() const {
    QSize s = QHeaderView::sizeHint();
    const int margin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
    s.setHeight(std::max(s.height(), mLines * QFontMetrics(HeadingFont()).lineSpacing() + margin));
    return s;
}

void CBrowseHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    if (mLines < 2) return;
    option->text = MCaptionFit::Breakable(option->text);
    option->textAlignment = Qt::Alignment(QFlag(int(option->textAlignment) | Qt::TextWordWrap));
}
