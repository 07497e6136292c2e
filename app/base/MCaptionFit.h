// Captions and the room they take in the font they are drawn with. The fixed
// layouts were drawn for a narrower font than many systems use; a control whose
// caption would be cut gets the room it needs and keeps its place.
#pragma once

#include <QString>

class QFont;
class QHeaderView;
class QWidget;

namespace MCaptionFit {

// The width a caption-bearing control (label, button, check box, option, group
// box) needs to show its caption whole; 0 for other widgets and empty captions.
int NeededWidth(const QWidget* w);

// Widens w to NeededWidth, growing away from the edge its caption is aligned to.
void Fit(QWidget* w);

// Fits every caption-bearing control in root (root included); a group box grows
// with what it holds.
void FitAll(QWidget* root);

// A heading text that may also break after an underscore (field names).
QString Breakable(const QString& text);
// The narrowest width at which text, in font, takes at most `lines` lines.
int TextWidthInLines(const QFont& font, const QString& text, int lines);
// The room a header section needs around its text.
int HeaderPadding(const QHeaderView* header);

}  // namespace MCaptionFit
