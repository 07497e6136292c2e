// _DNodars32: every member by id, with the control's error conventions.
#include <QMessageBox>
#include <QScrollBar>

#include "CNodars32Ctrl.h"
#include "CNodars32Wnd.h"
#include "ui/HandleTable.h"

namespace nodars {

struct Reply {
    HRESULT scode = S_OK;
    std::string text;
};

namespace {

const char* const kGetNotSupported = "Get not supported";
const char* const kSetNotSupported = "Set not supported (read-only property)";

HRESULT Refuse(Reply& reply, HRESULT scode, const char* text) {
    reply.scode = scode;
    reply.text = text;
    return DISP_E_EXCEPTION;
}

int PositionalCount(const DISPPARAMS* p) { return p ? int(p->cArgs) - int(p->cNamedArgs) : 0; }

// Positional argument i in natural order (0 = first).
const VARIANT* Positional(const DISPPARAMS* p, int i) {
    if (!p || i >= PositionalCount(p)) return nullptr;
    return &p->rgvarg[p->cArgs - 1 - UINT(i)];
}

const VARIANT* PutValue(const DISPPARAMS* p) {
    if (!p || p->cArgs == 0) return nullptr;
    return &p->rgvarg[0];
}

HRESULT Convert(const VARIANT* v, VARTYPE vt, com::Variant* out) {
    if (!v) return DISP_E_PARAMNOTFOUND;
    HRESULT hr = VariantCopyInd(out, v);
    if (FAILED(hr)) return hr;
    return VariantChangeType(out, out, 0, vt);
}

HRESULT ToI2(const VARIANT* v, int32_t* out) {
    com::Variant c;
    HRESULT hr = Convert(v, VT_I2, &c);
    if (SUCCEEDED(hr)) *out = c.iVal;
    return hr;
}

HRESULT ToI4(const VARIANT* v, int32_t* out) {
    com::Variant c;
    HRESULT hr = Convert(v, VT_I4, &c);
    if (SUCCEEDED(hr)) *out = c.lVal;
    return hr;
}

HRESULT ToBool(const VARIANT* v, bool* out) {
    com::Variant c;
    HRESULT hr = Convert(v, VT_BOOL, &c);
    if (SUCCEEDED(hr)) *out = c.boolVal != 0;
    return hr;
}

// Colours are OLE_COLOR: unsigned 32-bit, passed as Long.
HRESULT ToColor(const VARIANT* v, uint32_t* out) {
    com::Variant c;
    HRESULT hr = Convert(v, VT_I4, &c);
    if (SUCCEEDED(hr)) {
        *out = uint32_t(c.lVal);
        return hr;
    }
    hr = Convert(v, VT_UI4, &c);
    if (SUCCEEDED(hr)) *out = c.ulVal;
    return hr;
}

HRESULT ToText(const VARIANT* v, std::u16string* out) {
    com::Variant c;
    HRESULT hr = Convert(v, VT_BSTR, &c);
    if (SUCCEEDED(hr) && out) *out = c.bstrVal ? std::u16string(c.bstrVal, SysStringLen(c.bstrVal)) : std::u16string();
    return hr;
}

void SetI2(VARIANT* r, int32_t v) {
    if (!r) return;
    VariantClear(r);
    // Values are 32-bit inside; one that does not fit a 16-bit Integer comes back as
    // a Long, so that a caller sees an overflow instead of a wrapped number.
    if (v >= INT16_MIN && v <= INT16_MAX) {
        r->vt = VT_I2;
        r->iVal = int16_t(v);
    } else {
        r->vt = VT_I4;
        r->lVal = v;
    }
}
void SetI4(VARIANT* r, int32_t v) {
    if (!r) return;
    VariantClear(r);
    r->vt = VT_I4;
    r->lVal = v;
}
void SetBool(VARIANT* r, bool v) {
    if (!r) return;
    VariantClear(r);
    r->vt = VT_BOOL;
    r->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
}
void SetText(VARIANT* r, const std::u16string& s) {
    if (!r) return;
    VariantClear(r);
    r->vt = VT_BSTR;
    r->bstrVal = SysAllocStringLen(s.data(), UINT(s.size()));
}

// Rectangle members: positions move the rectangle and keep its size, sizes
// move the far edge.
enum class Edge { Left, Top, Width, Height };

void SetEdge(GRect& r, Edge edge, int32_t value) {
    switch (edge) {
    case Edge::Left: r.MoveTo(value, r.top); break;
    case Edge::Top: r.MoveTo(r.left, value); break;
    case Edge::Width: r.right = r.left + value; break;
    case Edge::Height: r.bottom = r.top + value; break;
    }
}

// The entry of a member table for id, or null.
template <typename Entry, size_t N>
const Entry* FindMember(const Entry (&table)[N], DISPID id) {
    for (const Entry& e : table)
        if (e.id == id) return &e;
    return nullptr;
}

bool IsMethod(DISPID id) {
    return (id >= dispidAddItem && id <= dispidScreenToGraphY) || id == dispidRefresh || id == dispidDoClick ||
           id == dispidAboutBox;
}
bool IsIndexed(DISPID id) { return id >= dispidConnectTo && id <= dispidItemIndex; }
// Gets that work at design time.
bool GetAllowedAtDesignTime(DISPID id) {
    return (id >= dispidXSpan && id <= dispidDrawScale) || id == dispidAutoArrange || id == dispidGraphics ||
           id == dispidAutoMouseEvents || id < 0;
}
bool WriteOnly(DISPID id) {
    switch (id) {
    case dispidConnectTo: case dispidSaveAs: case dispidLoadFrom: case dispidPrintGraph:
    case dispidRemoveFrom: case dispidGraphicPath: case dispidItemIndex: case dispidZoomSelectRect:
    case dispidPrintToDC: case dispidPrintToWnd:
        return true;
    default:
        return false;
    }
}
bool Known(DISPID id) {
    return (id >= dispidXSpan && id <= dispidItemIndex) || id == dispidRefresh || id == dispidDoClick ||
           id == dispidAboutBox || id == dispidBackColor || id == dispidBorderStyle || id == dispidEnabled ||
           id == dispidFont || id == dispidForeColor || id == dispidHWnd || id == dispidAppearance;
}

}  // namespace

const std::vector<com::DispMember>& CNodars32Ctrl::Members() {
    static const std::vector<com::DispMember> members = {
        {1, "xSpan", "Returns/sets the width to be used for new nodes."},
        {2, "ySpan", "Returns/sets the height to be used for new nodes."},
        {3, "xSpace", "Returns/sets the horizontal separation between nodes."},
        {4, "ySpace", "Returns/sets the vertical separation between nodes."},
        {5, "Gap", "Returns/sets the distance between the start or end of a connection and its point of branching."},
        {6, "FillColor", "Returns/sets the color used to fill new nodes."},
        {7, "ArrangeMode", "Returns/sets the method used for laying out graph nodes and connections."},
        {8, "DrawBackLinks", "Returns/sets the method used to draw backlinks in Hierarchy and Tree graphs."},
        {9, "DrawDir", "Returns/sets the orientation for laying out the graph."},
        {10, "LineWidth", "Returns/sets the default line width for connections."},
        {11, "RubberBand", "Returns/sets options for drawing of rubber band lines."},
        {12, "DrawArrows", "Returns/sets whether arrowheads will be drawn on connections."},
        {13, "DrawColored", "Returns/sets whether the graph will be drawn in color."},
        {14, "DrawConnLabels", "Retunrs/sets whether connection labels will be drawn."},
        {15, "DrawHandles", "Returns/sets whether item handles will be drawn on flowchart graphs."},
        {16, "DrawItemLabels", "Returns/sets whether node labels will be drawn."},
        {17, "DragItems", "No longer used by Nodaris."},
        {18, "Redraw", "Returns/sets whether the graph will be updated to reflect changes."},
        {19, "GraphicAllowImport", ""},
        {20, "SelectRectEnabled", ""},
        {21, "StoreGraphics", ""},
        {22, "PrintHeader", ""},
        {23, "DrawScale", "Returns/sets the magnification level for the graph.  Setting DrawScale to 0 scales the graph to the control size."},
        {24, "ConnectionLabel", "Returns/sets the label for the current connection."},
        {25, "ListCount", "Returns the number of nodes in the graph."},
        {26, "ConnectFromHandle", ""}, {27, "ConnectToHandle", ""}, {28, "AutoArrange", ""},
        {29, "QueryData", ""}, {30, "QueryItem", ""}, {31, "QueryItemHandle", ""}, {32, "QueryState", ""},
        {33, "QueryCount", ""}, {34, "ConnectionId", ""}, {35, "ConnectFromIndex", ""},
        {36, "ConnectToIndex", ""}, {37, "ConnectionData", ""}, {38, "ConnectionArrow", ""},
        {39, "ConnectionColor", ""}, {40, "ConnectionAlign", ""}, {41, "ConnectionLineWidth", ""},
        {42, "SelectRectHeight", ""}, {43, "SelectRectLeft", ""}, {44, "SelectRectTop", ""},
        {45, "SelectRectWidth", ""}, {46, "PrintRectLeft", ""}, {47, "PrintRectTop", ""},
        {48, "PrintRectWidth", ""}, {49, "PrintRectHeight", ""}, {50, "PrintToDC", ""},
        {51, "PrintToWnd", ""}, {52, "SelectedIndex", ""}, {53, "ShapeCount", ""}, {54, "GraphicCount", ""},
        {55, "ZoomSelectRect", ""}, {56, "ShapeSelect", ""}, {57, "GraphicSelect", ""}, {58, "SaveAs", ""},
        {59, "LoadFrom", ""}, {60, "PrintGraph", ""}, {61, "Graphics", ""}, {62, "AutoMouseEvents", ""},
        {63, "IsDirty", ""}, {64, "NewIndex", ""}, {65, "AddItem", ""}, {66, "Clear", ""},
        {67, "RemoveItem", ""}, {68, "DTGraphicSelect", ""}, {69, "GraphToScreenX", ""},
        {70, "GraphToScreenY", ""}, {71, "ScreenToGraphX", ""}, {72, "ScreenToGraphY", ""},
        {73, "ConnectTo", ""}, {74, "List", ""}, {75, "ItemId", ""}, {76, "ItemData", ""},
        {77, "ShapeName", ""}, {78, "ItemShape", ""}, {79, "ItemBorderColor", ""}, {80, "ItemXPos", ""},
        {81, "ItemWidth", ""}, {82, "ItemHeight", ""}, {83, "ItemFillColor", ""}, {84, "ItemTextColor", ""},
        {85, "ItemYPos", ""}, {86, "GraphicName", ""}, {87, "ItemDrawLabel", ""}, {88, "ItemLabelLeft", ""},
        {89, "ItemLabelTop", ""}, {90, "ItemLabelWidth", ""}, {91, "ItemLabelHeight", ""},
        {92, "ItemLabelAlign", ""}, {93, "ItemGraphic", ""}, {94, "ItemGraphicLeft", ""},
        {95, "ItemGraphicTop", ""}, {96, "ItemGraphicWidth", ""}, {97, "ItemGraphicHeight", ""},
        {98, "ItemGraphicAlign", ""}, {99, "ItemGraphicStyle", ""}, {100, "RemoveFrom", ""},
        {101, "GraphicPath", ""}, {102, "AutoMouseEvent", ""}, {103, "ItemIndex", ""},
        {-550, "Refresh", ""}, {-551, "DoClick", ""}, {-552, "AboutBox", ""}, {-501, "BackColor", ""},
        {-504, "BorderStyle", ""}, {-514, "Enabled", ""}, {-512, "Font", ""}, {-513, "ForeColor", ""},
        {-515, "hWnd", ""}, {-520, "Appearance", ""},
    };
    return members;
}

HRESULT CNodars32Ctrl::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT CNodars32Ctrl::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT CNodars32Ctrl::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    return com::LookupDispIds(Members(), rgszNames, cNames, rgDispId);
}

HRESULT CNodars32Ctrl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* excep, UINT* argErr) {
    if (argErr) *argErr = 0;
    if (result) VariantInit(result);
    // A sink may call back from inside a mouse event: whatever reorders or
    // frees items ends the mouse operation, whose indexes would go stale.
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    return com::GuardInvoke(kProgId, excep, [&] {
        if ((!put && (id == dispidClear || id == dispidRemoveItem)) ||
            (put && (id == dispidItemIndex || id == dispidLoadFrom)) ||
            (put && id == dispidSelectedIndex && mMouse.op == MouseOp::Resize))
            EndMouseOperation();
        Reply reply;
        const HRESULT hr = Dispatch(id, flags, params, result, reply);
        if (hr != DISP_E_EXCEPTION) return hr;
        com::SetErrorInfoText(GUID_NULL, kProgId, reply.text);
        // Without an EXCEPINFO the caller gets the control error itself.
        if (!excep) return reply.scode;
        const std::u16string source = com::ToU16(kProgId), text = com::ToU16(reply.text);
        *excep = EXCEPINFO{};
        excep->scode = reply.scode;
        excep->bstrSource = SysAllocString(source.c_str());
        excep->bstrDescription = SysAllocString(text.c_str());
        return DISP_E_EXCEPTION;
    });
}

HRESULT CNodars32Ctrl::Dispatch(DISPID id, WORD flags, const DISPPARAMS* params, VARIANT* result, Reply& reply) {
    if (!Known(id)) return DISP_E_MEMBERNOTFOUND;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (IsMethod(id)) return DISP_E_MEMBERNOTFOUND;
        if (!PutValue(params) || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
        if (IsIndexed(id) && PositionalCount(params) < 1) return DISP_E_BADPARAMCOUNT;
        return PutMember(id, params, reply);
    }
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (IsMethod(id)) return CallMethod(id, params, result, reply);
    if (WriteOnly(id)) return Refuse(reply, CTL_E_GETNOTSUPPORTED, kGetNotSupported);
    if (!mUserMode && !GetAllowedAtDesignTime(id)) return Refuse(reply, CTL_E_GETNOTSUPPORTED, kGetNotSupported);
    if (IsIndexed(id)) {
        if (PositionalCount(params) < 1) return DISP_E_BADPARAMCOUNT;
        int32_t ix = 0;
        HRESULT hr = ToI2(Positional(params, 0), &ix);
        if (FAILED(hr)) return hr;
        return GetItemMember(id, ix, result);
    }
    return GetMember(id, params, result, reply);
}

HRESULT CNodars32Ctrl::GetMember(DISPID id, const DISPPARAMS*, VARIANT* r, Reply& reply) {
    const CGraphConnection* c = mCurrent;
    switch (id) {
    case dispidXSpan: SetI2(r, mXSpan); break;
    case dispidYSpan: SetI2(r, mYSpan); break;
    case dispidXSpace: SetI2(r, mXSpace); break;
    case dispidYSpace: SetI2(r, mYSpace); break;
    case dispidGap: SetI2(r, mGap); break;
    case dispidFillColor: SetI4(r, int32_t(mFillColor)); break;
    case dispidArrangeMode: SetI2(r, mArrangeMode); break;
    case dispidDrawBackLinks: SetI2(r, mDrawBackLinks); break;
    case dispidDrawDir: SetI2(r, mDrawDir); break;
    case dispidLineWidth: SetI2(r, mLineWidth); break;
    case dispidRubberBand: SetI2(r, mRubberBand); break;
    case dispidDrawArrows: SetBool(r, mDrawArrows); break;
    case dispidDrawColored: SetBool(r, mDrawColored); break;
    case dispidDrawConnLabels: SetBool(r, mDrawConnLabels); break;
    case dispidDrawHandles: SetBool(r, mDrawHandles); break;
    case dispidDrawItemLabels: SetBool(r, mDrawItemLabels); break;
    case dispidDragItems: SetBool(r, mDragItems); break;
    case dispidRedraw: SetBool(r, mRedraw); break;
    case dispidGraphicAllowImport: SetI2(r, mGraphicAllowImport); break;
    case dispidSelectRectEnabled: SetBool(r, mSelectRectEnabled); break;
    case dispidStoreGraphics: SetI2(r, mStoreGraphics); break;
    case dispidPrintHeader: SetText(r, mPrintHeader); break;
    case dispidDrawScale: SetI2(r, mDrawScale); break;
    case dispidConnectionLabel: SetText(r, c && c->Label ? *c->Label : std::u16string()); break;
    case dispidListCount: SetI2(r, int32_t(mItems.size())); break;
    case dispidConnectFromHandle: SetI2(r, c ? c->FromHandle : -1); break;
    case dispidConnectToHandle: SetI2(r, c ? c->ToHandle : -1); break;
    case dispidAutoArrange: SetI2(r, mAutoArrange); break;
    case dispidQueryData: SetI4(r, mQueryData); break;
    case dispidQueryItem: SetI2(r, mQueryItem); break;
    case dispidQueryItemHandle: SetI2(r, mQueryHandle); break;
    case dispidQueryState: SetI2(r, mQueryKind != 0 ? 1 : 0); break;
    case dispidQueryCount: SetI2(r, mQueryKind != 0 ? mQueryCount : 0); break;
    case dispidConnectionId: SetI4(r, c ? c->ConnectionId : 0); break;
    case dispidConnectFromIndex: SetI2(r, c ? IndexOf(c->From) : -1); break;
    case dispidConnectToIndex: SetI2(r, c ? IndexOf(c->To) : -1); break;
    case dispidConnectionData: SetI4(r, c ? c->Data : 0); break;
    case dispidConnectionArrow: SetI2(r, c ? c->Arrow : -1); break;
    case dispidConnectionColor: SetI4(r, c ? int32_t(c->Color) : -1); break;
    case dispidConnectionAlign: SetI2(r, c ? c->Align : -1); break;
    case dispidConnectionLineWidth: SetI2(r, c ? c->LineWidth : -1); break;
    case dispidSelectRectHeight: SetI2(r, mSelectRect.Height()); break;
    case dispidSelectRectLeft: SetI2(r, mSelectRect.left); break;
    case dispidSelectRectTop: SetI2(r, mSelectRect.top); break;
    case dispidSelectRectWidth: SetI2(r, mSelectRect.Width()); break;
    case dispidPrintRectLeft: SetI2(r, mPrintRect.left); break;
    case dispidPrintRectTop: SetI2(r, mPrintRect.top); break;
    case dispidPrintRectWidth: SetI2(r, mPrintRect.Width()); break;
    case dispidPrintRectHeight: SetI2(r, mPrintRect.Height()); break;
    case dispidSelectedIndex: SetI2(r, mSelectedIndex); break;
    case dispidShapeCount: SetI2(r, int32_t(mShapes.size())); break;
    case dispidGraphicCount: SetI2(r, int32_t(mGraphics.size())); break;
    case dispidShapeSelect: SetI2(r, mShapeSelect); break;
    case dispidGraphicSelect: SetI2(r, mGraphicSelect); break;
    case dispidGraphics:
    case dispidAutoMouseEvents:
        if (mUserMode) return Refuse(reply, CTL_E_ILLEGALFUNCTIONCALL, "AutoMouseEvents not available at run-time.");
        SetI4(r, 0);
        break;
    case dispidIsDirty: SetBool(r, mDirty); break;
    case dispidNewIndex: SetI2(r, mNewIndex); break;
    case dispidBackColor: SetI4(r, int32_t(mBackColor)); break;
    case dispidForeColor: SetI4(r, int32_t(mForeColor)); break;
    case dispidBorderStyle: SetI2(r, mBorderStyle); break;
    case dispidEnabled: SetBool(r, mEnabled); break;
    case dispidAppearance: SetI2(r, mAppearance); break;
    case dispidFont: SetText(r, mFont.toString().toStdU16String()); break;
    case dispidHWnd:
        // A handle other members (PrintToWnd) and the host can map back to the widget.
        if (mWnd && !mWindowHandle) mWindowHandle = ui::HandleTable::AddWindow(mWnd->viewport());
        SetI4(r, mWnd ? int32_t(mWindowHandle) : 0);
        break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
}

HRESULT CNodars32Ctrl::GetItemMember(DISPID id, int32_t ix, VARIANT* r) {
    const CGraphItem* it = ValidItem(ix) ? mItems[ix].get() : nullptr;
    switch (id) {
    case dispidList: SetText(r, it && it->Name ? *it->Name : std::u16string()); break;
    case dispidItemId: SetI4(r, it ? it->ItemId : -1); break;
    case dispidItemData: SetI4(r, it ? it->ItemData : 0); break;
    case dispidShapeName:
        SetText(r, ix >= 0 && ix < int32_t(mShapes.size()) ? mShapes[ix].Name : std::u16string());
        break;
    case dispidItemShape: SetI2(r, it ? it->Shape : 0); break;
    case dispidItemBorderColor: SetI4(r, it ? int32_t(it->BorderColor) : -1); break;
    case dispidItemXPos: SetI2(r, it ? it->Rect.left : 0); break;
    case dispidItemWidth: SetI2(r, it ? it->Rect.Width() : 0); break;
    case dispidItemHeight: SetI2(r, it ? it->Rect.Height() : 0); break;
    case dispidItemFillColor: SetI4(r, it ? int32_t(it->FillColor) : -1); break;
    case dispidItemTextColor: SetI4(r, it ? int32_t(it->TextColor) : -1); break;
    case dispidItemYPos: SetI2(r, it ? it->Rect.top : 0); break;
    case dispidGraphicName:
        SetText(r, ix >= 0 && ix < int32_t(mGraphics.size()) ? mGraphics[ix].Name : std::u16string());
        break;
    case dispidItemDrawLabel: SetBool(r, it ? it->DrawLabel != 0 : false); break;
    case dispidItemLabelLeft: SetI2(r, it ? it->LabelRect.left : 0); break;
    case dispidItemLabelTop: SetI2(r, it ? it->LabelRect.top : 0); break;
    case dispidItemLabelWidth: SetI2(r, it ? it->LabelRect.Width() : 0); break;
    case dispidItemLabelHeight: SetI2(r, it ? it->LabelRect.Height() : 0); break;
    case dispidItemLabelAlign: SetI2(r, it ? it->LabelAlign : 0); break;
    case dispidItemGraphic: SetI2(r, it ? it->Graphic : 0); break;
    case dispidItemGraphicLeft: SetI2(r, it ? it->GraphicRect.left : 0); break;
    case dispidItemGraphicTop: SetI2(r, it ? it->GraphicRect.top : 0); break;
    case dispidItemGraphicWidth: SetI2(r, it ? it->GraphicRect.Width() : 0); break;
    case dispidItemGraphicHeight: SetI2(r, it ? it->GraphicRect.Height() : 0); break;
    case dispidItemGraphicAlign: SetI2(r, it ? it->GraphicAlign : 0); break;
    case dispidItemGraphicStyle: SetI2(r, it ? it->GraphicStyle : 0); break;
    case dispidAutoMouseEvent: SetI2(r, ix >= 0 && ix < 24 ? mAutoMouseEvents[ix] : -1); break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
}

HRESULT CNodars32Ctrl::PutMember(DISPID id, const DISPPARAMS* params, Reply& reply) {
    const VARIANT& v = *PutValue(params);
    if (IsIndexed(id)) {
        int32_t ix = 0;
        HRESULT hr = ToI2(Positional(params, 0), &ix);
        if (FAILED(hr)) return hr;
        return PutItemMember(id, ix, v, reply);
    }
    if (id == dispidConnectionLabel || id == dispidConnectFromHandle || id == dispidConnectToHandle ||
        (id >= dispidConnectionData && id <= dispidConnectionLineWidth))
        return PutConnectionMember(id, v, reply);
    switch (id) {
    case dispidListCount:
    case dispidNewIndex:
    case dispidHWnd:
        return Refuse(reply, CTL_E_SETNOTSUPPORTED, kSetNotSupported);
    case dispidGraphics:
    case dispidAutoMouseEvents:
        if (mUserMode) return Refuse(reply, CTL_E_ILLEGALFUNCTIONCALL, "AutoMouseEvents not available at run-time.");
        SetModified();
        return S_OK;
    case dispidQueryCount:
    case dispidConnectionId:
    case dispidConnectFromIndex:
    case dispidConnectToIndex:
    case dispidShapeCount:
    case dispidGraphicCount:
        // Nothing to store: the value is dropped, but the graph counts as changed.
        SetModified();
        return S_OK;
    default: break;
    }
    // Each group answers DISP_E_MEMBERNOTFOUND for the ids that are not its own.
    using Putter = HRESULT (CNodars32Ctrl::*)(DISPID, const VARIANT&);
    for (Putter put : {&CNodars32Ctrl::PutSetting, &CNodars32Ctrl::PutQueryMember, &CNodars32Ctrl::PutRectMember,
                       &CNodars32Ctrl::PutActionMember, &CNodars32Ctrl::PutStockMember}) {
        const HRESULT hr = (this->*put)(id, v);
        if (hr != DISP_E_MEMBERNOTFOUND) return hr;
    }
    return DISP_E_MEMBERNOTFOUND;
}

// Settings 1-23 and AutoArrange: stored, then repainted or laid out again
// where the picture shows them.
HRESULT CNodars32Ctrl::PutSetting(DISPID id, const VARIANT& v) {
    struct ShortSetting {
        DISPID id;
        int32_t CNodars32Ctrl::*field;
        bool repaint;
    };
    struct BoolSetting {
        DISPID id;
        bool CNodars32Ctrl::*field;
        bool repaint;
    };
    static const ShortSetting shorts[] = {
        {dispidXSpan, &CNodars32Ctrl::mXSpan, true},
        {dispidYSpan, &CNodars32Ctrl::mYSpan, true},
        {dispidXSpace, &CNodars32Ctrl::mXSpace, true},
        {dispidYSpace, &CNodars32Ctrl::mYSpace, true},
        {dispidGap, &CNodars32Ctrl::mGap, true},
        {dispidArrangeMode, &CNodars32Ctrl::mArrangeMode, true},
        {dispidDrawBackLinks, &CNodars32Ctrl::mDrawBackLinks, true},
        {dispidDrawDir, &CNodars32Ctrl::mDrawDir, false},
        {dispidLineWidth, &CNodars32Ctrl::mLineWidth, false},
        {dispidRubberBand, &CNodars32Ctrl::mRubberBand, false},
        {dispidGraphicAllowImport, &CNodars32Ctrl::mGraphicAllowImport, false},
        {dispidStoreGraphics, &CNodars32Ctrl::mStoreGraphics, false},
    };
    static const BoolSetting bools[] = {
        {dispidDrawArrows, &CNodars32Ctrl::mDrawArrows, true},
        {dispidDrawColored, &CNodars32Ctrl::mDrawColored, true},
        {dispidDrawConnLabels, &CNodars32Ctrl::mDrawConnLabels, true},
        {dispidDrawHandles, &CNodars32Ctrl::mDrawHandles, true},
        {dispidDrawItemLabels, &CNodars32Ctrl::mDrawItemLabels, true},
        {dispidDragItems, &CNodars32Ctrl::mDragItems, false},
        {dispidRedraw, &CNodars32Ctrl::mRedraw, false},
        {dispidSelectRectEnabled, &CNodars32Ctrl::mSelectRectEnabled, false},
    };
    auto store = [&](auto& field, auto value, bool repaint) {
        field = value;
        if (repaint) InvalidateControl();
        SetModified();
    };
    int32_t i = 0;
    bool b = false;
    HRESULT hr = S_OK;
    if (const ShortSetting* s = FindMember(shorts, id)) {
        hr = ToI2(&v, &i);
        if (SUCCEEDED(hr)) store(this->*s->field, i, s->repaint);
        return hr;
    }
    if (const BoolSetting* s = FindMember(bools, id)) {
        hr = ToBool(&v, &b);
        if (SUCCEEDED(hr)) store(this->*s->field, b, s->repaint);
        return hr;
    }
    switch (id) {
    case dispidFillColor: {
        uint32_t colour = 0;
        hr = ToColor(&v, &colour);
        if (SUCCEEDED(hr)) store(mFillColor, colour, true);
        break;
    }
    case dispidPrintHeader: {
        std::u16string s;
        hr = ToText(&v, &s);
        if (SUCCEEDED(hr)) store(mPrintHeader, s, false);
        break;
    }
    case dispidDrawScale:
        hr = ToI2(&v, &i);
        if (SUCCEEDED(hr)) i = ClampScale(i);
        if (SUCCEEDED(hr) && i != mDrawScale) {
            mDrawScale = i;
            SetModified();
            RecalcGraph(0, 1, 0, 1);
        }
        break;
    case dispidAutoArrange:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        mAutoArrange = i;
        if (i != 0) RecalcGraph(4, 0, -1, 1);
        SetModified();
        break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

// Setting what a query looks for ends the query under way; QueryState runs one.
HRESULT CNodars32Ctrl::PutQueryMember(DISPID id, const VARIANT& v) {
    int32_t i = 0;
    HRESULT hr = S_OK;
    switch (id) {
    case dispidQueryData:
        hr = ToI4(&v, &i);
        if (FAILED(hr)) break;
        mQueryItem = -1;
        mQueryData = i;
        mQueryHandle = 0;
        EndQuery();
        break;
    case dispidQueryItem:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        mQueryData = 0;
        mQueryItem = i;
        mQueryHandle = 0;
        EndQuery();
        break;
    case dispidQueryItemHandle:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        mQueryData = 0;
        mQueryHandle = i;
        EndQuery();
        break;
    case dispidQueryState:
        hr = ToI2(&v, &i);
        if (SUCCEEDED(hr)) RunQuery(int16_t(i));
        break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

HRESULT CNodars32Ctrl::PutRectMember(DISPID id, const VARIANT& v) {
    struct RectEdge {
        DISPID id;
        GRect CNodars32Ctrl::*rect;
        Edge edge;
    };
    static const RectEdge edges[] = {
        {dispidSelectRectLeft, &CNodars32Ctrl::mSelectRect, Edge::Left},
        {dispidSelectRectTop, &CNodars32Ctrl::mSelectRect, Edge::Top},
        {dispidSelectRectWidth, &CNodars32Ctrl::mSelectRect, Edge::Width},
        {dispidSelectRectHeight, &CNodars32Ctrl::mSelectRect, Edge::Height},
        {dispidPrintRectLeft, &CNodars32Ctrl::mPrintRect, Edge::Left},
        {dispidPrintRectTop, &CNodars32Ctrl::mPrintRect, Edge::Top},
        {dispidPrintRectWidth, &CNodars32Ctrl::mPrintRect, Edge::Width},
        {dispidPrintRectHeight, &CNodars32Ctrl::mPrintRect, Edge::Height},
    };
    const RectEdge* e = FindMember(edges, id);
    if (!e) return DISP_E_MEMBERNOTFOUND;
    int32_t i = 0;
    const HRESULT hr = ToI4(&v, &i);
    if (SUCCEEDED(hr)) SetEdge(this->*e->rect, e->edge, i);
    return hr;
}

// Members whose setting does something at once: print, select, zoom, file.
HRESULT CNodars32Ctrl::PutActionMember(DISPID id, const VARIANT& v) {
    int32_t i = 0;
    bool b = false;
    HRESULT hr = S_OK;
    switch (id) {
    case dispidPrintToDC:
    case dispidPrintToWnd:
        hr = ToI4(&v, &i);
        if (FAILED(hr)) break;
        // 0 prepares printing: the whole drawing becomes the part to render.
        if (i == 0) mSelectRect = mDrawingBounds;
        (id == dispidPrintToDC ? mPrintToDC : mPrintToWnd) = i;
        if (i != 0) PrintFitted(id == dispidPrintToDC ? uint32_t(i) : 0, id == dispidPrintToWnd ? uint32_t(i) : 0);
        break;
    case dispidSelectedIndex:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        // The marks reach 8 pixels beyond the box; those of the item selected
        // before go too.
        RepaintSelection(mSelectedIndex);
        if (ValidItem(i)) {
            mSelectedIndex = i;
            RepaintSelection(i);
        } else {
            mSelectedIndex = -1;
        }
        break;
    case dispidZoomSelectRect:
        hr = ToBool(&v, &b);
        if (SUCCEEDED(hr)) ZoomSelectRect(b);
        break;
    case dispidShapeSelect:
    case dispidGraphicSelect:
        // The value is the entry chosen first; the one accepted (or -1) stays.
        hr = ToI4(&v, &i);
        if (FAILED(hr)) break;
        (id == dispidShapeSelect ? mShapeSelect : mGraphicSelect) = RunTableDialog(true, id == dispidShapeSelect, i);
        break;
    case dispidSaveAs:
    case dispidLoadFrom: {
        std::u16string path;
        hr = ToText(&v, &path);
        if (FAILED(hr)) break;
        if (id == dispidSaveAs)
            SaveAs(QString::fromStdU16String(path));
        else
            LoadFrom(QString::fromStdU16String(path));
        break;
    }
    case dispidPrintGraph:
        hr = ToI4(&v, &i);
        if (SUCCEEDED(hr)) PrintDocument(uint32_t(i));
        break;
    case dispidIsDirty:
        hr = ToBool(&v, &b);
        if (SUCCEEDED(hr)) mDirty = b;
        break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

// The stock properties every control has: colours, border, enabled, font.
HRESULT CNodars32Ctrl::PutStockMember(DISPID id, const VARIANT& v) {
    int32_t i = 0;
    HRESULT hr = S_OK;
    switch (id) {
    case dispidBackColor:
    case dispidForeColor: {
        uint32_t colour = 0;
        hr = ToColor(&v, &colour);
        if (FAILED(hr)) break;
        (id == dispidBackColor ? mBackColor : mForeColor) = colour;
        SetModified();
        InvalidateControl();
        break;
    }
    case dispidBorderStyle:
    case dispidAppearance:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        (id == dispidBorderStyle ? mBorderStyle : mAppearance) = int16_t(i);
        SetModified();
        InvalidateControl();
        break;
    case dispidEnabled: {
        bool b = false;
        hr = ToBool(&v, &b);
        if (FAILED(hr)) break;
        mEnabled = b;
        if (mWnd) mWnd->setEnabled(b);
        SetModified();
        break;
    }
    case dispidFont: {
        std::u16string s;
        hr = ToText(&v, &s);
        if (FAILED(hr)) break;
        QFont font;
        if (!font.fromString(QString::fromStdU16String(s))) return E_INVALIDARG;
        mFont = font;
        if (mWnd) mWnd->setFont(font);
        SetModified();
        InvalidateControl();
        break;
    }
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

HRESULT CNodars32Ctrl::PutConnectionMember(DISPID id, const VARIANT& v, Reply&) {
    CGraphConnection* c = mCurrent;
    int32_t i = 0;
    HRESULT hr = S_OK;
    switch (id) {
    case dispidConnectionLabel: {
        std::u16string s;
        hr = ToText(&v, &s);
        if (FAILED(hr) || !c) break;
        if (!c->Label || *c->Label != s) {
            c->Label = s;
            SetModified();
            InvalidateControl();
        }
        break;
    }
    case dispidConnectFromHandle:
    case dispidConnectToHandle: {
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        if (c && (id == dispidConnectFromHandle ? c->FromHandle : c->ToHandle) != i) {
            (id == dispidConnectFromHandle ? c->FromHandle : c->ToHandle) = int16_t(i);
            UpdateConnectionGeometry(c);
            RecalcGraph(4, 0, -1, 1);
        }
        SetModified();
        break;
    }
    case dispidConnectionData:
        hr = ToI4(&v, &i);
        if (SUCCEEDED(hr) && c && c->Data != i) {
            c->Data = i;
            SetModified();
        }
        break;
    case dispidConnectionColor: {
        uint32_t colour = 0;
        hr = ToColor(&v, &colour);
        if (SUCCEEDED(hr) && c && c->Color != colour) {
            c->Color = colour;
            SetModified();
            InvalidateControl();
        }
        break;
    }
    case dispidConnectionArrow:
    case dispidConnectionAlign:
    case dispidConnectionLineWidth: {
        hr = ToI2(&v, &i);
        if (FAILED(hr) || !c) break;
        int16_t& field = id == dispidConnectionArrow ? c->Arrow : id == dispidConnectionAlign ? c->Align : c->LineWidth;
        if (field != i) {
            field = int16_t(i);
            SetModified();
            InvalidateControl();
        }
        break;
    }
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

HRESULT CNodars32Ctrl::PutItemMember(DISPID id, int32_t ix, const VARIANT& v, Reply&) {
    HRESULT hr = PutItemField(id, ix, v);
    if (hr != DISP_E_MEMBERNOTFOUND) return hr;
    CGraphItem* it = ValidItem(ix) ? mItems[ix].get() : nullptr;
    int32_t i = 0;
    hr = S_OK;
    switch (id) {
    case dispidConnectTo:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        ConnectItems(ix, i);
        SetModified();
        break;
    case dispidList: {
        std::u16string s;
        hr = ToText(&v, &s);
        if (FAILED(hr)) break;
        if (it) {
            it->Name = s;
            RepaintItem(ix);
        }
        SetModified();
        break;
    }
    case dispidItemId:
    case dispidShapeName:
        SetModified();
        break;
    case dispidItemData:
        hr = ToI4(&v, &i);
        if (FAILED(hr)) break;
        if (it) it->ItemData = i;
        SetModified();
        break;
    case dispidGraphicName: return PutGraphicName(ix, v);
    case dispidItemDrawLabel: {
        bool b = false;
        hr = ToBool(&v, &b);
        if (FAILED(hr)) break;
        if (it) {
            it->DrawLabel = b ? 1 : 0;
            RepaintItem(ix);
        }
        SetModified();
        break;
    }
    case dispidRemoveFrom:
        hr = ToI2(&v, &i);
        if (FAILED(hr)) break;
        RemoveConnection(ix, i);
        InvalidateControl();
        SetModified();
        break;
    case dispidGraphicPath: {
        std::u16string s;
        hr = ToText(&v, &s);
        if (FAILED(hr)) break;
        if (ix >= 1 && ix < int32_t(mGraphics.size())) LoadGraphicFile(ix, QString::fromStdU16String(s));
        SetModified();
        break;
    }
    case dispidAutoMouseEvent:
        hr = ToI2(&v, &i);
        if (SUCCEEDED(hr) && ix >= 0 && ix < 24) {
            mAutoMouseEvents[ix] = int16_t(i);
            SetModified();
        }
        break;
    case dispidItemIndex:
        hr = ToI2(&v, &i);
        if (SUCCEEDED(hr)) MoveItem(ix, i);
        break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

// An item's style, colours and boxes: stored when the index names an item and
// repainted (a new item box lays the graph out again); modified either way.
HRESULT CNodars32Ctrl::PutItemField(DISPID id, int32_t ix, const VARIANT& v) {
    struct Style {
        DISPID id;
        int16_t CGraphItem::*field;
    };
    struct Colour {
        DISPID id;
        uint32_t CGraphItem::*field;
    };
    struct Box {
        DISPID id;
        GRect CGraphItem::*rect;
        Edge edge;
    };
    static const Style styles[] = {
        {dispidItemShape, &CGraphItem::Shape},
        {dispidItemLabelAlign, &CGraphItem::LabelAlign},
        {dispidItemGraphic, &CGraphItem::Graphic},
        {dispidItemGraphicAlign, &CGraphItem::GraphicAlign},
        {dispidItemGraphicStyle, &CGraphItem::GraphicStyle},
    };
    static const Colour colours[] = {
        {dispidItemBorderColor, &CGraphItem::BorderColor},
        {dispidItemFillColor, &CGraphItem::FillColor},
        {dispidItemTextColor, &CGraphItem::TextColor},
    };
    static const Box boxes[] = {
        {dispidItemXPos, &CGraphItem::Rect, Edge::Left},
        {dispidItemYPos, &CGraphItem::Rect, Edge::Top},
        {dispidItemWidth, &CGraphItem::Rect, Edge::Width},
        {dispidItemHeight, &CGraphItem::Rect, Edge::Height},
        {dispidItemLabelLeft, &CGraphItem::LabelRect, Edge::Left},
        {dispidItemLabelTop, &CGraphItem::LabelRect, Edge::Top},
        {dispidItemLabelWidth, &CGraphItem::LabelRect, Edge::Width},
        {dispidItemLabelHeight, &CGraphItem::LabelRect, Edge::Height},
        {dispidItemGraphicLeft, &CGraphItem::GraphicRect, Edge::Left},
        {dispidItemGraphicTop, &CGraphItem::GraphicRect, Edge::Top},
        {dispidItemGraphicWidth, &CGraphItem::GraphicRect, Edge::Width},
        {dispidItemGraphicHeight, &CGraphItem::GraphicRect, Edge::Height},
    };
    CGraphItem* it = ValidItem(ix) ? mItems[ix].get() : nullptr;
    int32_t i = 0;
    HRESULT hr = S_OK;
    if (const Style* s = FindMember(styles, id)) {
        hr = ToI2(&v, &i);
        if (FAILED(hr)) return hr;
        if (it) {
            it->*s->field = int16_t(i);
            RepaintItem(ix);
        }
    } else if (const Colour* c = FindMember(colours, id)) {
        uint32_t colour = 0;
        hr = ToColor(&v, &colour);
        if (FAILED(hr)) return hr;
        if (it) {
            it->*c->field = colour;
            RepaintItem(ix);
        }
    } else if (const Box* b = FindMember(boxes, id)) {
        hr = ToI4(&v, &i);
        if (FAILED(hr)) return hr;
        const bool relayout = b->rect == &CGraphItem::Rect;
        if (it && relayout) {
            SetEdge(it->*b->rect, b->edge, i);
            RecalcGraph(2, 1, 2, 1);
        } else if (it) {
            RepaintItem(ix);
            SetEdge(it->*b->rect, b->edge, i);
            RepaintItem(ix);
        }
    } else {
        return DISP_E_MEMBERNOTFOUND;
    }
    SetModified();
    return hr;
}

// Naming entry ix of the picture table: the entry one past the end adds a
// picture, an empty name removes one (items showing it show none).
HRESULT CNodars32Ctrl::PutGraphicName(int32_t ix, const VARIANT& v) {
    std::u16string s;
    const HRESULT hr = ToText(&v, &s);
    if (FAILED(hr)) return hr;
    const int32_t size = int32_t(mGraphics.size());
    if (ix == size && !s.empty()) {
        CGraphic g;
        g.Name = s;
        mGraphics.push_back(std::move(g));
    } else if (ix >= 1 && ix < size && !s.empty()) {
        mGraphics[ix].Name = s;
    } else if (ix >= 1 && ix < size) {
        mGraphics.erase(mGraphics.begin() + ix);
        for (auto& item : mItems) {
            if (item->Graphic == ix) item->Graphic = 0;
            else if (item->Graphic > ix) --item->Graphic;
        }
        InvalidateControl();
    }
    SetModified();
    return hr;
}

HRESULT CNodars32Ctrl::CallMethod(DISPID id, const DISPPARAMS* params, VARIANT* r, Reply& reply) {
    int32_t i = 0;
    HRESULT hr = S_OK;
    auto convertCoord = [&](bool toScreen, bool xAxis) {
        hr = ToI4(Positional(params, 0), &i);
        if (FAILED(hr)) return;
        ComputeZoom();
        const int32_t border = mBorderStyle != 0 ? 2 : 1;
        GPoint p = xAxis ? GPoint{i, 0} : GPoint{0, i};
        GPoint q = toScreen ? GraphToScreen(p) : ScreenToGraph(p);
        int32_t value = xAxis ? q.x : q.y;
        SetI2(r, toScreen ? value + border : value - border);
    };
    switch (id) {
    case dispidAddItem: {
        const VARIANT* a = Positional(params, 0);
        std::optional<std::u16string> name;
        if (a && !(a->vt == VT_ERROR || a->vt == VT_EMPTY || a->vt == VT_NULL)) {
            std::u16string s;
            hr = ToText(a, &s);
            if (FAILED(hr)) return hr;
            name = s;
        }
        int32_t ix = InsertItem(std::move(name), -1);
        RecalcGraph(4, 0, 2, 1);
        SetI2(r, ix);
        break;
    }
    case dispidClear: ClearGraph(); break;
    case dispidRemoveItem:
        hr = ToI2(Positional(params, 0), &i);
        if (FAILED(hr)) break;
        if (ValidItem(i)) {
            RemoveItem(i);
            RecalcGraph(4, 0, 2, 1);
        }
        break;
    case dispidDTGraphicSelect:
        if (mUserMode) return Refuse(reply, CTL_E_ILLEGALFUNCTIONCALL, "DTGraphicSelect not available at run-time.");
        if (RunTableDialog(false, false, 0) != 0) SetModified();
        break;
    case dispidGraphToScreenX: convertCoord(true, true); break;
    case dispidGraphToScreenY: convertCoord(true, false); break;
    case dispidScreenToGraphX: convertCoord(false, true); break;
    case dispidScreenToGraphY: convertCoord(false, false); break;
    case dispidRefresh:
        if (mWnd) mWnd->viewport()->repaint();
        break;
    case dispidDoClick: FireEvent(eventClick, {}); break;
    case dispidAboutBox:
        QMessageBox::about(mWnd, QStringLiteral("About Nodaris"),
                           QStringLiteral("Nodaris graph-layout control, version 1.2"));
        break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    return hr;
}

}  // namespace nodars
