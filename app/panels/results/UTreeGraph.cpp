#include "UTreeGraph.h"

#include "CRuleTreeWidget.h"
#include "ErrorGuard.h"

#include <QHeaderView>
#include <QHideEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <cstdio>

using namespace nodars;

// Hears the graph control's events and hands the ones the panel uses to it.
// The panel detaches it before letting go, so a late event reaches nobody.
class UTreeGraph::EventSink final : public com::RefCounted<IDispatch> {
public:
    explicit EventSink(UTreeGraph* panel) : mPanel(panel) {}
    void Detach() { mPanel = nullptr; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__DNodars32Events) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (!mPanel) return S_OK;
        int32_t item = -1;
        if (const VARIANT* first = com::ArgAt(params, 0)) {
            com::Variant v;
            if (SUCCEEDED(VariantChangeType(&v, first, 0, VT_I4))) item = v.lVal;
        }
        mPanel->GraphEvent(id, item);
        return S_OK;
    }

private:
    ~EventSink() = default;
    UTreeGraph* mPanel;
};

namespace {

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char text[96];
        snprintf(text, sizeof text, "graph control: %s failed (0x%08X)", what, unsigned(hr));
        throw com::Error(hr, text);
    }
}

}  // namespace

// The tree driver's view of the panel: its TreeType is 16-bit where the
// shell's is 32-bit, so the panel hands out this small adapter.
class UTreeGraph::DisplayAdapter : public ITreeDisplayTarget {
public:
    explicit DisplayAdapter(UTreeGraph& panel) : mPanel(panel) {}
    int16_t TreeType() const override { return mPanel.mTreeType == 1 ? 1 : 0; }
    ITreeView* TreeView() override { return mPanel.mTreeView; }
    IDispatch* GraphControl() override { return mPanel.mGraph.Get(); }
    void SetGraphVisible(bool visible) override { mPanel.SetGraphVisible(visible); }

private:
    UTreeGraph& mPanel;
};

ITreeDisplayTarget* UTreeGraph::DisplayTarget() { return mDisplay.get(); }

UTreeGraph::UTreeGraph(QWidget* parent)
    : base::ITreeGraphPanel(parent),
      mTreeView(new CRuleTreeWidget(this)),
      mDisplay(std::make_unique<DisplayAdapter>(*this)) {
    mTreeView->setObjectName("treeMain");
    mTreeView->setHeaderHidden(true);
    mTreeView->setColumnCount(1);
    mTreeView->setMouseTracking(true);
    mTreeView->viewport()->setMouseTracking(true);
    mTreeView->viewport()->installEventFilter(this);
    // The panel answers double clicks itself.
    mTreeView->setExpandsOnDoubleClick(false);
    // Every rule line shows whole, however narrow the window: the column is as
    // wide as the longest line open, at least the view's width, and the view
    // scrolls sideways to it. Measured once after a batch of changes, not at
    // each of them: a tree of thousands of lines opens line by line.
    QHeaderView* header = mTreeView->header();
    header->setStretchLastSection(false);
    header->setResizeContentsPrecision(-1);
    connect(mTreeView, &QTreeWidget::itemExpanded, this, &UTreeGraph::MeasureRuleTextLater);
    connect(mTreeView, &QTreeWidget::itemCollapsed, this, &UTreeGraph::MeasureRuleTextLater);
    QAbstractItemModel* model = mTreeView->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &UTreeGraph::MeasureRuleTextLater);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &UTreeGraph::MeasureRuleTextLater);
    connect(model, &QAbstractItemModel::dataChanged, this, &UTreeGraph::MeasureRuleTextLater);
    connect(model, &QAbstractItemModel::modelReset, this, &UTreeGraph::MeasureRuleTextLater);

    Check(com::CreateInstance(kProgId, IID_IDispatch, mGraph.PutVoid()), "creating the control");
    Check(mGraph.As(IID_IControlHosting, &mHosting), "asking for hosting");
    QFont font("Arial");
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    Check(mHosting->SetAmbient(TRUE, &font), "setting the font");
    Check(mHosting->SetParentWidget(this), "embedding");
    if (QWidget* w = GraphWidget()) w->setObjectName("NDMain");
    mSink = new EventSink(this);
    Check(com::Advise(mGraph.Get(), DIID__DNodars32Events, mSink, &mCookie), "connecting the events");
    ApplyGraphSettings();
    // Rule text at first.
    SetGraphVisible(false);
    PlaceControls();
}

UTreeGraph::~UTreeGraph() {
    // The control goes before the child widgets do.
    if (mSink) mSink->Detach();
    if (mCookie) com::Unadvise(mGraph.Get(), DIID__DNodars32Events, mCookie);
    if (mSink) mSink->Release();
    mHosting.Reset();
    mGraph.Reset();
}

void UTreeGraph::ApplyGraphSettings() {
    PutInt(dispidArrangeMode, 3);    // tree
    PutInt(dispidDrawDir, 3);        // top to bottom
    PutInt(dispidDrawBackLinks, 2);  // dashed
    PutBool(dispidDrawArrows, true);
    PutBool(dispidDrawColored, true);
    PutBool(dispidDrawConnLabels, true);
    PutBool(dispidDrawHandles, true);
    PutBool(dispidDrawItemLabels, true);
    PutInt(dispidDrawScale, 100);
    Check(com::PropertyPut(mGraph.Get(), dispidFillColor, com::Variant::I4(0xFFFFFF)), "FillColor");
    PutInt(dispidGap, 10);
    PutInt(dispidLineWidth, 0);
    PutInt(dispidRubberBand, 0);
    PutBool(dispidSelectRectEnabled, false);
    PutInt(dispidStoreGraphics, 2);
    PutInt(dispidXSpace, 20);
    PutInt(dispidXSpan, 120);
    PutInt(dispidYSpace, 20);
    PutInt(dispidYSpan, 50);
}

QWidget* UTreeGraph::GraphWidget() const { return mHosting ? mHosting->Widget() : nullptr; }

QWidget* UTreeGraph::Tree() const { return mTreeType == 0 ? static_cast<QWidget*>(mTreeView) : GraphWidget(); }

void UTreeGraph::SetTreeType(int32_t type) {
    if (type == mTreeType) return;
    if (type != 1) {
        SetGraphVisible(false);
        Check(com::Invoke(mGraph.Get(), dispidClear, DISPATCH_METHOD, {}, nullptr), "Clear");
        mTreeView->show();
    } else {
        mTreeView->hide();
        mTreeView->clear();
        SetGraphVisible(true);
    }
    emit Hide();
    mTreeType = type;
    emit Show();
}

int16_t UTreeGraph::Zoom() const { return int16_t(GetInt(dispidDrawScale)); }

void UTreeGraph::SetZoom(int16_t percent) { PutInt(dispidDrawScale, percent); }

void UTreeGraph::Expand() {
    if (mTreeType != 0) return;
    mTreeView->hide();
    for (QTreeWidgetItemIterator it(mTreeView); *it; ++it) (*it)->setExpanded(true);
    mTreeView->show();
    MeasureRuleText();
}

void UTreeGraph::MeasureRuleTextLater() {
    if (mMeasurePending) return;
    mMeasurePending = true;
    QTimer::singleShot(0, this, [this] {
        if (mMeasurePending) MeasureRuleText();
    });
}

void UTreeGraph::MeasureRuleText() {
    mMeasurePending = false;
    base::RecordErrors("UTreeGraph::MeasureRuleText", [&] {
        mRuleTextWidth = 0;
        if (mTreeView->topLevelItemCount() == 0) return;
        mTreeView->resizeColumnToContents(0);
        mRuleTextWidth = mTreeView->header()->sectionSize(0);
    });
    FitRuleColumn();
}

void UTreeGraph::FitRuleColumn() {
    base::RecordErrors("UTreeGraph::FitRuleColumn", [&] {
        const int width = std::max(mRuleTextWidth, mTreeView->viewport()->width());
        if (mTreeView->header()->sectionSize(0) != width) mTreeView->header()->resizeSection(0, width);
    });
}

void UTreeGraph::Collapse() {
    // An empty view has no first root to keep open.
    if (mTreeType != 0 || mTreeView->topLevelItemCount() == 0) return;
    mTreeView->hide();
    QTreeWidgetItem* root = mTreeView->topLevelItem(0);
    for (QTreeWidgetItemIterator it(mTreeView); *it; ++it) (*it)->setExpanded(false);
    root->setExpanded(true);
    mTreeView->show();
    MeasureRuleText();
}

double UTreeGraph::GetXExtremes(double& minimum, double& maximum) const {
    return Extremes(dispidItemXPos, dispidXSpan, minimum, maximum);
}

double UTreeGraph::GetYExtremes(double& minimum, double& maximum) const {
    return Extremes(dispidItemYPos, dispidYSpan, minimum, maximum);
}

double UTreeGraph::Extremes(DISPID posId, DISPID spanId, double& minimum, double& maximum) const {
    const int32_t n = GetInt(dispidListCount);
    int32_t lo = 10000000, hi = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t p = GetInt(posId, int16_t(i));
        if (p < lo) lo = p;
        if (p > hi) hi = p;
    }
    minimum = lo;
    maximum = double(hi) + GetInt(spanId);
    return maximum - minimum;
}

int32_t UTreeGraph::NodeOfKey(const QString& key) { return key.mid(1).toInt(); }

int32_t UTreeGraph::GetInt(DISPID id, int16_t index) const {
    com::Variant v;
    std::vector<VARIANT> args;
    if (index >= 0) args.push_back(com::Variant::I2(index));
    Check(com::PropertyGet(mGraph.Get(), id, &v, args), "reading a property");
    com::Variant c;
    Check(VariantChangeType(&c, &v, 0, VT_I4), "reading a number");
    return c.lVal;
}

void UTreeGraph::PutInt(DISPID id, int32_t value) {
    Check(com::PropertyPut(mGraph.Get(), id, com::Variant::I2(int16_t(value))), "setting a property");
}

void UTreeGraph::PutBool(DISPID id, bool value) {
    Check(com::PropertyPut(mGraph.Get(), id, com::Variant::Bool(value)), "setting a property");
}

void UTreeGraph::SetGraphVisible(bool visible) {
    if (QWidget* w = GraphWidget()) w->setVisible(visible);
}

void UTreeGraph::PlaceControls() {
    // Each fills the panel; a failure here changes nothing.
    base::RecordErrors("UTreeGraph::PlaceControls", [&] {
        mTreeView->setGeometry(0, 0, width(), height());
        if (mHosting) mHosting->SetBounds(0, 0, width(), height());
    });
}

void UTreeGraph::resizeEvent(QResizeEvent*) { PlaceControls(); }

void UTreeGraph::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) emit Show();
}

void UTreeGraph::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) emit Hide();
}

void UTreeGraph::GraphEvent(DISPID id, int32_t itemIndex) {
    base::ShowErrors("UTreeGraph::NDMain_Event", [&] {
        switch (id) {
        case eventItemMouseMove: emit NodeOver(itemIndex); break;
        case eventItemDblClick: emit ItemClick(itemIndex); break;
        case eventSelectRect: PutBool(dispidZoomSelectRect, true); break;
        default: break;  // a single click does nothing
        }
    });
}

bool UTreeGraph::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mTreeView->viewport()) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Resize) FitRuleColumn();
    bool consumed = false;
    base::ShowErrors("UTreeGraph::treeMain_Mouse", [&] {
        if (event->type() == QEvent::MouseMove) {
            mLastMouse = static_cast<QMouseEvent*>(event)->position();
            QTreeWidgetItem* item = mTreeView->itemAt(mLastMouse.toPoint());
            emit NodeOver(item ? NodeOfKey(item->data(0, kKeyRole).toString()) : -1);
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            // Hit-tested where the pointer last moved.
            if (QTreeWidgetItem* item = mTreeView->itemAt(mLastMouse.toPoint()))
                emit ItemClick(NodeOfKey(item->data(0, kKeyRole).toString()));
            consumed = true;
        }
    });
    return consumed || QWidget::eventFilter(watched, event);
}
