// The rule-tree / flow-chart view as the shell and the tree display see it.
#pragma once

#include "UPanel.h"

#include <cstdint>

class ITreeDisplayTarget;
class QTreeWidget;
struct IDispatch;

namespace base {

class ITreeGraphPanel : public UPanel {
    Q_OBJECT
public:
    explicit ITreeGraphPanel(QWidget* parent = nullptr);
    ~ITreeGraphPanel() override;

    // 0 rule tree in the tree view, 1 flow chart on the graph control.
    virtual int32_t TreeType() const = 0;
    virtual void SetTreeType(int32_t type) = 0;
    // The control that shows the tree now (graph control's widget or the tree view).
    virtual QWidget* Tree() const = 0;
    // What the tree display fills: the rule-text view and the graph control,
    // driven by member id through its dispatch interface (not owned).
    virtual QTreeWidget* TreeView() const = 0;
    virtual IDispatch* GraphControl() const = 0;
    // The graph's drawing scale in percent, 0 meaning fitted.
    virtual int16_t Zoom() const = 0;
    virtual void SetZoom(int16_t percent) = 0;
    virtual void Expand() = 0;
    virtual void Collapse() = 0;
    // Smallest and largest item x; the result is the horizontal span.
    virtual double GetXExtremes(double& minX, double& maxX) const = 0;
    // This panel as the tree driver fills it (CTRX::Display, SetContrast);
    // none when the panel has nothing for the driver to fill.
    virtual ITreeDisplayTarget* DisplayTarget() = 0;

signals:
    void NodeOver(int32_t node);   // -1 over no node
    void ItemClick(int32_t node);  // double click on a node
    void Show();
    void Hide();
};

}  // namespace base
