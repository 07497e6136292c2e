// The face of a placeholder panel: its caption and a note, centred.
#pragma once

#include <QString>

class QWidget;
class QLabel;

namespace PlaceholderLook {

// Returns the label that carries the note, for panels that add to it.
QLabel* Decorate(QWidget* panel, const QString& caption);

}  // namespace PlaceholderLook
