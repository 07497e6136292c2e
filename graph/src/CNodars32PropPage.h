// The General page: six check boxes and six lists, each bound by name to a
// property of the control; read when the page opens, written on Apply.
#pragma once

#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;

namespace nodars {

class CNodars32Ctrl;

class CNodars32PropPage : public QWidget {
public:
    explicit CNodars32PropPage(CNodars32Ctrl& control, QWidget* parent = nullptr);
    void Read();
    void Apply();

private:
    struct Check {
        QCheckBox* box;
        long id;
    };
    struct Combo {
        QComboBox* box;
        long id;
    };
    CNodars32Ctrl& mCtl;
    std::vector<Check> mChecks;
    std::vector<Combo> mCombos;
};

}  // namespace nodars
