// The graph-layout control object: holds one graph (items, connections, shapes,
// graphics), lays it out, and serves _DNodars32 by member id. It owns a widget
// (CNodars32Wnd) that a host embeds through IControlHosting.
#pragma once

#include <QFont>
#include <QHash>
#include <QSize>
#include <QString>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "CGraphConnection.h"
#include "CGraphItem.h"
#include "CGraphic.h"
#include "CShape.h"
#include "GraphGeometry.h"
#include "com/com.h"
#include "nodars/Nodars32.h"

class QPainter;

namespace nodars {

class CNodars32Wnd;
class CGraphRenderer;
struct Reply;
class CGraphFile;

class CNodars32Ctrl final
    : public com::RefCounted<IDispatch, IConnectionPointContainer, IControlHosting, IGraphGeometry, ISupportErrorInfo> {
public:
    CNodars32Ctrl();
    CNodars32Ctrl(const CNodars32Ctrl&) = delete;
    CNodars32Ctrl& operator=(const CNodars32Ctrl&) = delete;

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    // IDispatch
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    // ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;
    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    // IControlHosting
    HRESULT SetParentWidget(QWidget* parent) override;
    QWidget* Widget() override;
    HRESULT SetAmbient(BOOL userMode, const QFont* font) override;
    HRESULT SetBounds(int left, int top, int width, int height) override;
    HRESULT SaveProperties(CPropertyBag* bag) override;
    HRESULT LoadProperties(const CPropertyBag* bag) override;
    HRESULT ResetProperties() override;
    HRESULT ShowPropertyPages() override;
    // IGraphGeometry
    HRESULT GetRoute(int from, int to, int* count, int32_t xy[12]) override;
    HRESULT GetBounds(int which, int32_t rect[4]) override;
    HRESULT GetView(int32_t* zoomNum, int32_t* zoomDen, int32_t* hScroll, int32_t* vScroll) override;

    // Called by the widget.
    void OnSize();
    void OnShowWindow();
    void FireEvent(DISPID id, std::vector<com::Variant> args);  // natural order
    uint32_t BackColorRgb() const;
    // Paints the control: view centre and background, then the graph, then the
    // feedback of a running mouse operation. bounds: the control's area;
    // invalid: the part to repaint (device pixels of the viewport).
    void OnDraw(QPainter& painter, const QRect& bounds, const QRect& invalid);
    // Mouse input in client (viewport) coordinates. button: 0 left, 2 right;
    // shift: Shift 1, Ctrl 2, Alt 4.
    void OnButtonDown(int button, int16_t shift, QPoint client);
    void OnButtonUp(int button, QPoint client);
    void OnDoubleClick(int button, int16_t shift, QPoint client);
    void OnMouseMove(QPoint client, bool fromTimer);
    void OnMouseTimer();

    // What the property pages and dialogs read; they change the control only
    // through its dispatch interface.
    const std::vector<CGraphic>& GraphicsTable() const { return mGraphics; }
    const std::vector<CShape>& ShapesTable() const { return mShapes; }
    bool UserMode() const { return mUserMode; }
    int32_t GraphicAllowImport() const { return mGraphicAllowImport; }
    QWidget* DialogParent() const;
    int16_t AutoMouseEntry(int i) const { return i >= 0 && i < 24 ? mAutoMouseEvents[size_t(i)] : 0; }
    void SetAutoMouseEntry(int i, int16_t mask) {
        if (i < 0 || i >= 24) return;
        mAutoMouseEvents[size_t(i)] = mask;
        SetModified();
    }
    // Runs the property sheet (General, Graphics, Events) or a table dialog.
    void RunPropertySheet();
    int32_t RunTableDialog(bool choose, bool shapes, int32_t initial);

    // The member table (GetIDsOfNames and the help strings).
    static const std::vector<com::DispMember>& Members();

private:
    ~CNodars32Ctrl();

    // ---- graph operations (the data model)
    int32_t InsertItem(std::optional<std::u16string> name, int32_t position);
    void ConnectItems(int32_t from, int32_t to);
    void RemoveItem(int32_t ix);
    void RemoveConnection(int32_t from, int32_t to);
    void MoveItem(int32_t oldIx, int32_t newIx);
    void ClearGraph();
    // Frees every item and connection; the graphics table stays.
    void FreeItems();
    void FreeConnection(CGraphConnection* c);
    void Renumber();
    bool ValidItem(int32_t ix) const { return ix >= 0 && ix < int32_t(mItems.size()); }
    int32_t IndexOf(const CGraphItem* item) const;
    void SetModified() { mDirty = true; }
    void InvalidateControl();
    void RepaintItem(int32_t ix);
    uint32_t TranslateColor(uint32_t oleColor) const;
    void InitGraphicsPlaceholder();
    void SetStoredDefaults();
    void SetAutoMouseDefaults();

    // The property bag work behind SaveProperties/LoadProperties.
    HRESULT WriteProperties(CPropertyBag* bag);
    HRESULT ReadProperties(const CPropertyBag* bag);

    // ---- graph file and pictures
    bool SaveAs(const QString& path);
    bool LoadFrom(const QString& path);
    void TakeFileSettings(const CGraphFile& f);
    void TakeFilePictures(CGraphFile& f);
    void TakeFileItems(const CGraphFile& f);
    // Whether StoreGraphics lets entry i go into a graph file.
    bool StoresGraphic(int32_t i) const;
    void LoadGraphicFile(int32_t idx, const QString& path);

    // ---- printing
    void PrintFitted(uint32_t dc, uint32_t wnd);
    void PrintDocument(uint32_t dc);

    // ---- dispatch
    HRESULT Dispatch(DISPID id, WORD flags, const DISPPARAMS* params, VARIANT* result, Reply& reply);
    HRESULT GetMember(DISPID id, const DISPPARAMS* params, VARIANT* result, Reply& reply);
    HRESULT PutMember(DISPID id, const DISPPARAMS* params, Reply& reply);
    HRESULT CallMethod(DISPID id, const DISPPARAMS* params, VARIANT* result, Reply& reply);
    HRESULT GetItemMember(DISPID id, int32_t ix, VARIANT* result);
    HRESULT PutItemMember(DISPID id, int32_t ix, const VARIANT& value, Reply& reply);
    HRESULT PutConnectionMember(DISPID id, const VARIANT& value, Reply& reply);
    HRESULT PutSetting(DISPID id, const VARIANT& value);
    HRESULT PutQueryMember(DISPID id, const VARIANT& value);
    HRESULT PutRectMember(DISPID id, const VARIANT& value);
    HRESULT PutActionMember(DISPID id, const VARIANT& value);
    HRESULT PutStockMember(DISPID id, const VARIANT& value);
    HRESULT PutItemField(DISPID id, int32_t ix, const VARIANT& value);
    HRESULT PutGraphicName(int32_t ix, const VARIANT& value);

    // ---- layout (automatic layout, view, zoom)
public:
    void RecalcGraph(int autoLevel, int autoKeep, int manualLevel, int manualKeep);
private:
    void ComputeZoom();
    void UpdateConnectionGeometry(CGraphConnection* c);
    int RouteConnection(const CGraphConnection* c, GPoint* pts) const;
    void ComputeDrawingBounds();
    void ComputeView(int level, int keep);
    void ComputeScrollBars();
    void ZoomSelectRect(bool zoom);
    // DrawScale is a 16-bit percentage: 0 (fit) or 1..32767.
    static int32_t ClampScale(int32_t scale);
    GPoint GraphToScreen(GPoint p) const;
    GPoint ScreenToGraph(GPoint p) const;
    GRect ScreenToGraph(const GRect& r) const;
    GRect ClientInGraphUnits() const;
    int32_t ScrollBarWidth() const;
    int32_t ScrollBarHeight() const;

    // ---- arrangements and grid placement
    void ArrangeHierarchy();
    void ArrangeTree();
    void ArrangeCompact();
    void ArrangeFlowChart();
    void PositionGrid();
    void PlaceItem(CGraphItem* item, int32_t cellW, int32_t cellH);
    void PlaceTree();

    // ---- mouse interaction
    enum class MouseOp { None, Resize, Drag, ConnectBody, ConnectHandle, Select };
    struct MouseState {
        MouseOp op = MouseOp::None;
        int button = -1;          // the pressing button: 0 left, 2 right; -1 none
        int16_t shift = 0;        // modifier mask taken at the press
        int16_t mask = 0;         // action mask chosen at the press
        int32_t pressedItem = -1;
        int16_t pressedHandle = 0;
        int32_t resizeHandle = -1;
        int32_t grab[4] = {};     // pointer to left, top, right, bottom of the resized box
        int constraint = 0;       // 0 free, 1 undecided, 2 horizontal, 3 vertical
        GPoint start, current;    // client coordinates plus scroll position
        GRect feedback;           // same coordinates
        bool pushedRange = false; // a drag grew a scroll range
    };
    int32_t HitItem(QPoint client, int16_t* handle) const;
    int32_t HitResizeHandle(QPoint client) const;
    bool HitConnection(GPoint graph, int32_t* from, int32_t* to) const;
    int16_t ActionMask(int button, int16_t shift) const;
    GPoint ClientToGraph(QPoint client) const;
    GPoint ScrollPoint(QPoint client) const;
    void EndMouseOperation();
    void ClickAt(QPoint client);
    bool AutoScroll(QPoint client);
    void UpdateCursor(QPoint client);
    GRect ItemScreenRect(int32_t ix) const;
    void RepaintSelection(int32_t ix);

    // ---- query engine
    void ResetQuery();
    void RunQuery(int16_t kind);
    void QueryStep();
    void EndQuery();
    int16_t CountQuery(int16_t kind) const;
    bool ConnectionMatchesQuery(const CGraphConnection* c, bool incomingList) const;

    com::ConnectionPoint mEventPoint;
    com::ConnectionPointList mPoints;

    // host and window
    QPointer<CNodars32Wnd> mWnd;
    uint32_t mWindowHandle = 0;  // the widget's entry in the process's window table
    std::vector<QPointer<QObject>> mOverlays;  // PrintToWnd drawings waiting for a paint
    bool mUserMode = true;
    bool mShown = false;
    QFont mFont;

    // tables
    std::vector<std::unique_ptr<CGraphItem>> mItems;
    std::vector<CShape> mShapes;
    std::vector<CGraphic> mGraphics;

    // stock properties
    uint32_t mBackColor = 0xFFFFFF;
    uint32_t mForeColor = 0;
    int16_t mBorderStyle = 0;
    bool mEnabled = true;
    int16_t mAppearance = 0;

    // member properties 1-22 (16-bit values kept in 32 bits)
    int32_t mXSpan = 120, mYSpan = 50, mXSpace = 20, mYSpace = 20, mGap = 10;
    uint32_t mFillColor = 0xFFFFFF;
    int32_t mArrangeMode = 0, mDrawBackLinks = 2, mDrawDir = 3, mLineWidth = 0, mRubberBand = 0;
    bool mDrawArrows = true, mDrawColored = true, mDrawConnLabels = true, mDrawHandles = true;
    bool mDrawItemLabels = true, mDragItems = false, mRedraw = false;
    int32_t mGraphicAllowImport = 0;
    bool mSelectRectEnabled = false;
    int32_t mStoreGraphics = 2;
    std::u16string mPrintHeader;

    // scalar state
    int32_t mDrawScale = 100;
    int32_t mAutoArrange = 0;
    bool mDirty = false;
    int32_t mNextItemId = 1;
    int32_t mNextConnectionId = 1;
    int32_t mNewIndex = -1;
    int32_t mSelectedIndex = -1;
    CGraphConnection* mCurrent = nullptr;
    GRect mSelectRect;
    GRect mPrintRect;
    int32_t mShapeSelect = -1;
    int32_t mGraphicSelect = -1;
    int32_t mPrintToDC = 0;
    int32_t mPrintToWnd = 0;
    std::array<int16_t, 24> mAutoMouseEvents{};

    // query state
    int32_t mQueryItem = -1;
    int32_t mQueryData = 0;
    int32_t mQueryHandle = 0;
    int16_t mQueryKind = 0;
    int16_t mQueryPhase = 0;
    int16_t mQueryCount = 0;
    const std::vector<CGraphConnection*>* mQueryList = nullptr;
    size_t mQueryPos = 0;        // next position in mQueryList
    int32_t mQueryWalkItem = 0;  // item walked by the item and connection-match queries

    // layout state
    int32_t mMaxLayer = 0;
    int32_t mMaxSlot = 0;
    GRect mGraphBounds;
    GRect mDrawingBounds;
    GRect mViewRect;
    GPoint mViewCentre;
    GRect mClientRect;
    int32_t mZoomNum = 1;
    int32_t mZoomDen = 1;
    int32_t mHScroll = 0;
    int32_t mVScroll = 0;
    int mPendingAuto = 0, mPendingAutoKeep = 1, mPendingManual = -1, mPendingManualKeep = 1;
    bool mInRecalc = false;

    // mouse state
    MouseState mMouse;

    // Laid-out item labels (the text's box within its measuring width) by font,
    // width, alignment and text: the same labels are measured again on every repaint.
    mutable QHash<QString, QRect> mLabelSizes;

    friend class CNodars32Wnd;
    friend class CGraphRenderer;
};

}  // namespace nodars
