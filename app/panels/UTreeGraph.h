// The tree-graph panel: the rule tree as indented rule text in a tree view or
// as a flow chart on the graph-layout control, one of the two on show. The
// panel never fills either: the tree driver does, through Tree(). The panel
// switches between them, expands and collapses the rule text, zooms the
// chart, measures its extent and turns mouse actions into node numbers.
//
// The graph control is created through the component runtime by ProgID and
// driven by member id only.
#pragma once

#include "com/com.h"
#include "nodars/Nodars32.h"

#include <QPointF>
#include <QWidget>

#include <cstdint>

class QTreeWidget;
class QTreeWidgetItem;

class UTreeGraph : public QWidget {
    Q_OBJECT
public:
    // Tree view nodes keep their key ("N" and the node number) under this role.
    static constexpr int kKeyRole = Qt::UserRole;

    // Fails (com::Error) when the graph control cannot be created.
    explicit UTreeGraph(QWidget* parent = nullptr);
    ~UTreeGraph() override;

    // 0 rule text, 1 flow chart. A new value empties the control that goes out
    // of view and raises Hide, then Show; the current value changes nothing.
    int32_t TreeType() const { return mTreeType; }
    void SetTreeType(int32_t type);
    // The control that shows the tree now: the graph control's widget for the
    // flow chart, else the tree view.
    QWidget* Tree() const;
    QTreeWidget* TreeView() const { return mTreeView; }
    IDispatch* Graph() const { return mGraph.Get(); }
    QWidget* GraphWidget() const;

    // The graph's drawing scale in percent, 0 fitting the whole chart.
    int16_t Zoom() const;
    void SetZoom(int16_t percent);
    // Rule text only: expand every node; collapse all but the first root.
    void Expand();
    void Collapse();
    // Horizontal (vertical) extent of the chart's items: minimum and maximum
    // item edge, and their difference. With no items the minimum is 10000000.
    int32_t GetXExtremes(int32_t& minimum, int32_t& maximum) const;
    int32_t GetYExtremes(int32_t& minimum, int32_t& maximum) const;
    // Repaints the graph control and the panel.
    void Refresh();

    // The node number of a tree-view node: its key less the first character.
    static int32_t NodeOfKey(const QString& key);

signals:
    void NodeOver(int32_t node);  // -1 over no node of the tree view
    void ItemClick(int32_t node);
    void Show();
    void Hide();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class EventSink;
    friend class EventSink;

    void ApplyGraphSettings();
    void GraphEvent(DISPID id, int32_t itemIndex);
    int32_t Extremes(DISPID posId, DISPID spanId, int32_t& minimum, int32_t& maximum) const;
    int32_t GetInt(DISPID id, int16_t index = -1) const;
    void PutInt(DISPID id, int32_t value);
    void PutBool(DISPID id, bool value);
    void SetGraphVisible(bool visible);
    void PlaceControls();

    int32_t mTreeType = 0;
    QTreeWidget* mTreeView;
    com::ComPtr<IDispatch> mGraph;
    com::ComPtr<nodars::IControlHosting> mHosting;
    EventSink* mSink = nullptr;
    DWORD mCookie = 0;
    QPointF mLastMouse;
};
