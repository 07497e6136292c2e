// The control's three property pages in one tabbed dialog with OK, Cancel and
// Apply; the Graphics and Events pages change the control at once, the General
// page on Apply and OK.
#pragma once

#include <QDialog>

class QTabWidget;

namespace nodars {

class CNodars32Ctrl;
class CNodars32PropPage;

class CPropertySheet : public QDialog {
public:
    explicit CPropertySheet(CNodars32Ctrl& control, QWidget* parent = nullptr);

private:
    QTabWidget* mTabs;
    CNodars32PropPage* mGeneral;
};

}  // namespace nodars
