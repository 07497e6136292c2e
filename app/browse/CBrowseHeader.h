// Column headings of the browse grid over a fixed number of lines: a caption
// breaks between words and after an underscore, so that long field names show
// whole in narrow columns.
#pragma once

#include <QHeaderView>

class CBrowseHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit CBrowseHeader(QWidget* parent = nullptr);

    int Lines() const { return mLines; }
    void SetLines(int lines);
    // The headings' font (bold, as the model gives it).
    QFont HeadingFont() const;
    // The width a column needs for its caption to show whole in Lines() lines.
    int HeadingWidth(const QString& caption) const;

    QSize sizeHint() const override;

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;

private:
    int mLines = 1;
};
