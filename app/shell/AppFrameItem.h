// One panel registered with the split frame.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

struct AppFrameItem {
    QString Key;    // the key as registered
    QString Title;  // the pane's caption while the panel is active
    QPointer<QWidget> Control;
    bool Pane = false;  // true: right pane
};
