#include "PlaceholderLook.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace PlaceholderLook {

QLabel* Decorate(QWidget* panel, const QString& caption) {
    auto* layout = new QVBoxLayout(panel);
    auto* title = new QLabel(caption, panel);
    QFont f = title->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 2);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    auto* note = new QLabel(QStringLiteral("A stand-in of the shell's tests."), panel);
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addStretch(1);
    layout->addWidget(title);
    layout->addWidget(note);
    layout->addStretch(1);
    panel->setAutoFillBackground(true);
    return note;
}

}  // namespace PlaceholderLook
