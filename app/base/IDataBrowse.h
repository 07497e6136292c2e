// A browse view: formats the grid for the rows it shows.
#pragma once

class QWidget;

namespace base {

class IDataBrowse {
public:
    virtual ~IDataBrowse() = default;
    // Keeps the grid control and lays out its columns; nothing for a null grid.
    virtual void Bind(QWidget* grid) = 0;
    virtual void Refresh() = 0;
    // Releases the grid and what the view holds.
    virtual void Destroy() = 0;
};

}  // namespace base
