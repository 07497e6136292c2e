// The table dialog: the graphics table for editing ("Nodaris Graphic Table"),
// or the graphics or shape table for choosing one entry.
#pragma once

#include <QDialog>

namespace nodars {

class CNodars32Ctrl;
class GraphicsPropPage;

class CGraphicTableDialog : public QDialog {
public:
    // choose false: edit mode (graphics only). initial: the entry selected first.
    CGraphicTableDialog(CNodars32Ctrl& control, bool choose, bool shapes, int initial, QWidget* parent = nullptr);

    // Choose mode: the accepted entry, -1 after Cancel. Edit mode: whether
    // anything changed.
    int Chosen() const { return mChosen; }
    bool Changed() const;

private:
    GraphicsPropPage* mPage;
    int mChosen = -1;
};

}  // namespace nodars
