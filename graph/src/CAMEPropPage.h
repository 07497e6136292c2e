// The Events page: the 24 entries of the mouse-action table (button x 8 +
// Alt 4 + Ctrl 2 + Shift 1), each a mask of six actions. A change is written
// into the control at once.
#pragma once

#include <QWidget>
#include <array>

class QCheckBox;
class QListWidget;
class QRadioButton;

namespace nodars {

class CNodars32Ctrl;

class CAMEPropPage : public QWidget {
public:
    explicit CAMEPropPage(CNodars32Ctrl& control, QWidget* parent = nullptr);

    // The list text of one entry.
    static QString RowText(int entry, int mask);

private:
    int Entry(int i) const;
    void Rebuild();
    void Show(int entry);
    void ChooseFromBoxes();
    void ActionToggled(int bit);

    CNodars32Ctrl& mCtl;
    QListWidget* mList;
    std::array<QRadioButton*, 3> mButtons{};
    std::array<QCheckBox*, 3> mModifiers{};  // Alt, Ctrl, Shift
    std::array<QCheckBox*, 6> mActions{};    // bits 1 .. 32
    int mCurrent = -1;
    bool mGuard = false;
};

}  // namespace nodars
