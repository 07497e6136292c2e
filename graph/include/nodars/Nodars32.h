// What a host needs to create, embed and drive the graph-layout control NODARS32.
//
// The host creates the control through the component runtime by CLSID or ProgID
// ("Nodaris.Nodars32Ctrl.1"), asks it for IControlHosting to embed it, and drives it
// through IDispatch by the member ids below; it hears _DNodars32Events through the
// connection point of DIID__DNodars32Events.
#pragma once

#include "com/com.h"
#include "nodars/PropertyBag.h"

class QWidget;
class QFont;

namespace nodars {

constexpr CLSID CLSID_Nodaris = {0x905925E3, 0xAE72, 0x11CF, {0x88, 0x3A, 0x00, 0xA0, 0x24, 0x00, 0x27, 0xBB}};
constexpr GUID LIBID_NodarisLib = {0x54D8EE64, 0x47B5, 0x11D0, {0x8E, 0x04, 0x00, 0xA0, 0x24, 0xBB, 0xD1, 0xB6}};
constexpr IID DIID__DNodars32 = {0x54D8EE65, 0x47B5, 0x11D0, {0x8E, 0x04, 0x00, 0xA0, 0x24, 0xBB, 0xD1, 0xB6}};
constexpr IID DIID__DNodars32Events = {0x54D8EE66, 0x47B5, 0x11D0, {0x8E, 0x04, 0x00, 0xA0, 0x24, 0xBB, 0xD1, 0xB6}};
// {6A1F3C20-5B7E-4D2A-9C41-8E0B2F7D1A53}
constexpr IID IID_IControlHosting = {0x6A1F3C20, 0x5B7E, 0x4D2A, {0x9C, 0x41, 0x8E, 0x0B, 0x2F, 0x7D, 0x1A, 0x53}};
// The three property pages, creatable on their own through the runtime.
constexpr CLSID CLSID_Nodars32PropPage = {0x54D8EE67, 0x47B5, 0x11D0, {0x8E, 0x04, 0x00, 0xA0, 0x24, 0xBB, 0xD1, 0xB6}};
constexpr CLSID CLSID_GraphicsPropPage = {0xCAC0524B, 0xFFA6, 0x11D0, {0x95, 0xA4, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr CLSID CLSID_CAMEPropPage = {0xCAC0524E, 0xFFA6, 0x11D0, {0x95, 0xA4, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {3C8E2F51-7A0D-4B6E-A1F2-5D9C0E4B7A26}
constexpr IID IID_IControlPropertyPage = {0x3C8E2F51, 0x7A0D, 0x4B6E, {0xA1, 0xF2, 0x5D, 0x9C, 0x0E, 0x4B, 0x7A, 0x26}};
constexpr const char* kProgId = "Nodaris.Nodars32Ctrl.1";
constexpr const char* kVersionIndependentProgId = "Nodaris.Nodars32Ctrl";

// Embedding a control object. The control owns its widget and deletes it when the
// object goes away; a parent widget that dies first takes the widget with it and
// the control simply has none any more.
//
// Threading: the user-interface thread only (QApplication must exist before
// SetParentWidget).
struct IControlHosting : IUnknown {
    // Creates the control's widget as a child of `parent` on the first call and
    // re-parents it on later ones; null detaches it into a top-level widget.
    virtual HRESULT SetParentWidget(QWidget* parent) = 0;
    // The control's widget; null before SetParentWidget.
    virtual QWidget* Widget() = 0;
    // Ambient properties of the container. userMode false is design time, where
    // most property reads refuse (error 394) and the layout does not run. A null
    // font leaves the control's font unchanged. Defaults: user mode, the
    // application font.
    virtual HRESULT SetAmbient(BOOL userMode, const QFont* font) = 0;
    // Moves and sizes the widget inside its parent (pixels).
    virtual HRESULT SetBounds(int left, int top, int width, int height) = 0;
    // Stored properties: Save writes every stored property into `bag`; Load reads
    // them back (absent names take their defaults); Reset gives every stored
    // property its default, as a fresh control has before a host loads a bag.
    virtual HRESULT SaveProperties(CPropertyBag* bag) = 0;
    virtual HRESULT LoadProperties(const CPropertyBag* bag) = 0;
    virtual HRESULT ResetProperties() = 0;
    // Shows the control's property pages (General, Graphics, Events) as one
    // modal dialog through the program's dialog seam.
    virtual HRESULT ShowPropertyPages() = 0;

protected:
    ~IControlHosting() = default;
};

// One property page of the control, created by its class id or ProgID and
// shown inside a host's own window. The page works on the control given to
// SetObject (it must be a control of this module). The General page writes
// its values on Apply; the Graphics and Events pages change the control at once.
//
// Threading: the user-interface thread only.
struct IControlPropertyPage : IUnknown {
    // The control the page works on; null lets it go (and removes the page's widget).
    virtual HRESULT SetObject(IUnknown* control) = 0;
    // Makes the page's widget as a child of parent, filled from the control.
    // E_UNEXPECTED without a control.
    virtual HRESULT Activate(QWidget* parent) = 0;
    // The page's widget; null before Activate.
    virtual QWidget* Widget() = 0;
    virtual HRESULT Apply() = 0;
    // The page's caption: "General", "Graphics" or "Events".
    virtual const char* Title() = 0;

protected:
    ~IControlPropertyPage() = default;
};

// {6A1F3C21-5B7E-4D2A-9C41-8E0B2F7D1A53}
constexpr IID IID_IGraphGeometry = {0x6A1F3C21, 0x5B7E, 0x4D2A, {0x9C, 0x41, 0x8E, 0x0B, 0x2F, 0x7D, 0x1A, 0x53}};

// Read-only view of what the layout computed, for code that draws or prints the
// graph outside the control and for checking a layout: connection routes, the
// bounds and the view transform. Coordinates are 32-bit graph units.
struct IGraphGeometry : IUnknown {
    enum Bounds : int { kGraphBounds = 0, kDrawingBounds = 1, kViewRect = 2, kClientRect = 3 };
    // The route of the connection from item `from` to item `to` (indexes): up to six
    // points as x, y pairs in `xy`; *count 0 and S_FALSE when there is no such connection.
    virtual HRESULT GetRoute(int from, int to, int* count, int32_t xy[12]) = 0;
    // left, top, right, bottom of one of the rectangles above.
    virtual HRESULT GetBounds(int which, int32_t rect[4]) = 0;
    // Zoom ratio and scroll positions (pixels) as the last recalculation left them.
    virtual HRESULT GetView(int32_t* zoomNum, int32_t* zoomDen, int32_t* hScroll, int32_t* vScroll) = 0;

protected:
    ~IGraphGeometry() = default;
};

// Member ids of _DNodars32 (fixed: hosts call by id).
enum DispId : DISPID {
    dispidXSpan = 1, dispidYSpan, dispidXSpace, dispidYSpace, dispidGap, dispidFillColor,
    dispidArrangeMode, dispidDrawBackLinks, dispidDrawDir, dispidLineWidth, dispidRubberBand,
    dispidDrawArrows, dispidDrawColored, dispidDrawConnLabels, dispidDrawHandles,
    dispidDrawItemLabels, dispidDragItems, dispidRedraw, dispidGraphicAllowImport,
    dispidSelectRectEnabled, dispidStoreGraphics, dispidPrintHeader,
    dispidDrawScale = 23, dispidConnectionLabel, dispidListCount, dispidConnectFromHandle,
    dispidConnectToHandle, dispidAutoArrange, dispidQueryData, dispidQueryItem,
    dispidQueryItemHandle, dispidQueryState, dispidQueryCount, dispidConnectionId,
    dispidConnectFromIndex, dispidConnectToIndex, dispidConnectionData, dispidConnectionArrow,
    dispidConnectionColor, dispidConnectionAlign, dispidConnectionLineWidth,
    dispidSelectRectHeight, dispidSelectRectLeft, dispidSelectRectTop, dispidSelectRectWidth,
    dispidPrintRectLeft, dispidPrintRectTop, dispidPrintRectWidth, dispidPrintRectHeight,
    dispidPrintToDC, dispidPrintToWnd, dispidSelectedIndex, dispidShapeCount, dispidGraphicCount,
    dispidZoomSelectRect, dispidShapeSelect, dispidGraphicSelect, dispidSaveAs, dispidLoadFrom,
    dispidPrintGraph, dispidGraphics, dispidAutoMouseEvents, dispidIsDirty, dispidNewIndex,
    dispidAddItem = 65, dispidClear, dispidRemoveItem, dispidDTGraphicSelect, dispidGraphToScreenX,
    dispidGraphToScreenY, dispidScreenToGraphX, dispidScreenToGraphY,
    dispidConnectTo = 73, dispidList, dispidItemId, dispidItemData, dispidShapeName, dispidItemShape,
    dispidItemBorderColor, dispidItemXPos, dispidItemWidth, dispidItemHeight, dispidItemFillColor,
    dispidItemTextColor, dispidItemYPos, dispidGraphicName, dispidItemDrawLabel, dispidItemLabelLeft,
    dispidItemLabelTop, dispidItemLabelWidth, dispidItemLabelHeight, dispidItemLabelAlign,
    dispidItemGraphic, dispidItemGraphicLeft, dispidItemGraphicTop, dispidItemGraphicWidth,
    dispidItemGraphicHeight, dispidItemGraphicAlign, dispidItemGraphicStyle, dispidRemoveFrom,
    dispidGraphicPath, dispidAutoMouseEvent, dispidItemIndex,
    // stock members
    dispidRefresh = -550, dispidDoClick = -551, dispidAboutBox = -552, dispidBackColor = -501,
    dispidBorderStyle = -504, dispidEnabled = -514, dispidFont = -512, dispidForeColor = -513,
    dispidHWnd = -515, dispidAppearance = -520,
};

// Member ids of _DNodars32Events.
enum EventId : DISPID {
    eventItemDrag = 1, eventItemResize, eventSelectRect, eventItemConnect, eventLineClick,
    eventLineDblClick, eventItemClick, eventItemDblClick, eventItemMouseMove, eventNDRClick,
    eventNDRDblClick,
    eventClick = -600, eventDblClick = -601, eventKeyDown = -602, eventKeyPress = -603,
    eventKeyUp = -604, eventMouseDown = -605, eventMouseUp = -607,
};

}  // namespace nodars
