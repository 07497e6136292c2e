// The tree-graph panel: the rule tree as indented rule text in a tree view or
// as a flow chart on the graph-layout control, one of the two on show. The
// panel never fills either: the tree driver does, through Tree(). The panel
// switches between them, expands and collapses the rule text, zooms the
// chart, measures its extent and turns mouse actions into node numbers.
//
// The graph control is created through the component runtime by ProgID and
// driven by member id only.
#pragma once

#include "ITreeDisplayTarget.h"
#include "ITreeGraphPanel.h"
#include "com/com.h"
#include "nodars/Nodars32.h"

#include <QPointF>

#include <cstdint>
#include <memory>

#include "CRuleTreeWidget.h"
class QTreeWidget;
class QTreeWidgetItem;

class UTreeGraph : public base::ITreeGraphPanel {
    Q_OBJECT
public:
    // Tree view nodes keep their key ("N" and the node number) under this role.
    static constexpr int kKeyRole = Qt::UserRole;

    // Fails (com::Error) when the graph control cannot be created.
    explicit UTreeGraph(QWidget* parent = nullptr);
    ~UTreeGraph() override;

    // 0 rule text, 1 flow chart. A new value empties the control that goes out
    // of view and raises Hide, then Show; the current value changes nothing.
    int32_t TreeType() const override { return mTreeType; }
    void SetTreeType(int32_t type) override;
    // The control that shows the tree now: the graph control's widget for the
    // flow chart, else the tree view.
    QWidget* Tree() const override;
    QTreeWidget* TreeView() const override { return mTreeView; }
    IDispatch* GraphControl() const override { return mGraph.Get(); }
    QWidget* GraphWidget() const;

    // The graph's drawing scale in percent, 0 fitting the whole chart.
    int16_t Zoom() const override;
    void SetZoom(int16_t percent) override;
    // Rule text only: expand every node; collapse all but the first root.
    void Expand() override;
    void Collapse() override;
    // Horizontal (vertical) extent of the chart's items: minimum and maximum
    // item edge, and their difference; whole graph units. With no items the
    // minimum is 10000000 and the maximum the item width.
    double GetXExtremes(double& minimum, double& maximum) const override;
    double GetYExtremes(double& minimum, double& maximum) const;
    // Repaints the graph control and the panel.

    // The node number of a tree-view node: its key less the first character.
    static int32_t NodeOfKey(const QString& key);

    ITreeDisplayTarget* DisplayTarget() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class EventSink;
    friend class EventSink;
    class DisplayAdapter;

    void ApplyGraphSettings();
    // The rule text's column: measured after changes, fitted to the view.
    void MeasureRuleTextLater();
    void MeasureRuleText();
    void FitRuleColumn();
    void GraphEvent(DISPID id, int32_t itemIndex);
    double Extremes(DISPID posId, DISPID spanId, double& minimum, double& maximum) const;
    int32_t GetInt(DISPID id, int16_t index = -1) const;
    void PutInt(DISPID id, int32_t value);
    void PutBool(DISPID id, bool value);
    void SetGraphVisible(bool visible);
    void PlaceControls();

    int32_t mTreeType = 0;
    CRuleTreeWidget* mTreeView;
    std::unique_ptr<DisplayAdapter> mDisplay;
    com::ComPtr<IDispatch> mGraph;
    com::ComPtr<nodars::IControlHosting> mHosting;
    EventSink* mSink = nullptr;
    DWORD mCookie = 0;
    QPointF mLastMouse;
    int mRuleTextWidth = 0;
    bool mMeasurePending = false;
};
