// What the all-rows and the test-rows views share: the column layout, the mark
// toggle, the right-click menus, the cell tips, the format hook and the locked
// widths. The two views differ only in the figures of their Layout.
#pragma once

#include "IDataBrowse.h"

#include <QColor>
#include <QVariant>

#include <memory>
#include <string>

class CBrowseGrid;
class CDataDef;
class UGrid;

class CBrowseView : public base::IDataBrowse {
public:
    ~CBrowseView() override;

    void Bind(QWidget* grid) override;
    void Refresh() override;
    void Destroy() override;

    // Grid event handlers (public so that the grid's events can be driven directly).
    void DblClick();
    void KeyPress(int key);
    void MouseDown(Qt::MouseButton button, int col, int row, bool heading);
    void ColResize(int col, bool& cancel);
    void FormatText(int col, QVariant& value) const;
    QString FetchCellTips(int row) const;

protected:
    struct Layout {
        int fixedColumns;       // columns of split 0
        int rowMenuFixedLast;   // a right click on a row uses split 0 up to this column
        int lockedLast;         // resizing is refused up to this column
        int formatFirst, formatLast;
        bool rightClickNeedsRow;
    };
    explicit CBrowseView(const Layout& layout) : mLayout(layout) {}

    // The view's own steps of the layout, after the shared ones.
    virtual void SetupSplits() {}
    virtual void FinishLayout(const std::string& outputName) { (void)outputName; }
    UGrid* Panel() const;
    void SetupGrid();

    CBrowseGrid* mTG = nullptr;
    std::shared_ptr<CDataDef> mDataDef;
    int16_t mColumn = 0;
    bool mHeaderClick = false;

private:
    Layout mLayout;
};
