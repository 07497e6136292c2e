// Stored properties: what the host keeps with its own data.
#include <QFont>

#include "ByteIO.h"
#include "CNodars32Ctrl.h"
#include "CNodars32Wnd.h"

namespace nodars {

namespace {

constexpr int32_t kPropVersion = 0x00010002;  // 1.2

void Put16(std::vector<uint8_t>& out, int32_t v) {
    ByteWriter w;
    w.I16(v);
    out.insert(out.end(), w.out.begin(), w.out.end());
}
void Put32(std::vector<uint8_t>& out, int32_t v) {
    ByteWriter w;
    w.I32(v);
    out.insert(out.end(), w.out.begin(), w.out.end());
}
using Reader = ByteReader;

struct BagReader {
    const CPropertyBag* bag;
    // A value that is absent or does not convert takes the default.
    int32_t Int(const char* name, int32_t def, VARTYPE vt = VT_I2) const {
        const VARIANT* v = bag ? bag->ReadValue(name) : nullptr;
        if (!v) return def;
        com::Variant c;
        if (FAILED(VariantChangeType(&c, v, 0, vt))) return def;
        return vt == VT_I2 ? c.iVal : c.lVal;
    }
    bool Bool(const char* name, bool def) const {
        const VARIANT* v = bag ? bag->ReadValue(name) : nullptr;
        if (!v) return def;
        com::Variant c;
        if (FAILED(VariantChangeType(&c, v, 0, VT_BOOL))) return def;
        return c.boolVal != 0;
    }
};

}  // namespace

void CNodars32Ctrl::SetStoredDefaults() {
    LoadProperties(nullptr);
}

HRESULT CNodars32Ctrl::ResetProperties() { return LoadProperties(nullptr); }

HRESULT CNodars32Ctrl::SaveProperties(CPropertyBag* bag) {
    return com::Guard(kProgId, [&] { return WriteProperties(bag); });
}

HRESULT CNodars32Ctrl::LoadProperties(const CPropertyBag* bag) {
    return com::Guard(kProgId, [&] { return ReadProperties(bag); });
}

HRESULT CNodars32Ctrl::WriteProperties(CPropertyBag* bag) {
    if (!bag) return E_POINTER;
    bag->WriteValue("_Version", com::Variant::I4(kPropVersion));
    bag->WriteValue("BackColor", com::Variant::I4(int32_t(mBackColor)));
    bag->WriteValue("ForeColor", com::Variant::I4(int32_t(mForeColor)));
    bag->WriteValue("Font", com::Variant::Str(mFont.toString().toStdU16String()));
    bag->WriteValue("Enabled", com::Variant::Bool(mEnabled));
    bag->WriteValue("BorderStyle", com::Variant::I2(int16_t(mBorderStyle)));
    bag->WriteValue("Appearance", com::Variant::I2(int16_t(mAppearance)));
    auto i2 = [&](const char* name, int32_t v) { bag->WriteValue(name, com::Variant::I2(int16_t(v))); };
    auto b = [&](const char* name, bool v) { bag->WriteValue(name, com::Variant::Bool(v)); };
    i2("ArrangeMode", mArrangeMode);
    i2("AutoArrange", mAutoArrange);
    b("DragItems", mDragItems);
    b("DrawArrows", mDrawArrows);
    i2("DrawBackLinks", mDrawBackLinks);
    b("DrawColored", mDrawColored);
    b("DrawConnLabels", mDrawConnLabels);
    i2("DrawDir", mDrawDir);
    b("DrawHandles", mDrawHandles);
    b("DrawItemLabels", mDrawItemLabels);
    i2("DrawScale", mDrawScale);
    bag->WriteValue("FillColor", com::Variant::I4(int32_t(mFillColor)));
    i2("Gap", mGap);
    i2("GraphicAllowImport", mGraphicAllowImport);
    i2("LineWidth", mLineWidth);
    i2("RubberBand", mRubberBand);
    b("SelectRectEnabled", mSelectRectEnabled);
    i2("StoreGraphics", mStoreGraphics);
    i2("xSpace", mXSpace);
    i2("xSpan", mXSpan);
    i2("ySpace", mYSpace);
    i2("ySpan", mYSpan);

    std::vector<uint8_t> events;
    Put32(events, 48);
    for (int16_t e : mAutoMouseEvents) Put16(events, e);
    bag->WriteBlob("AutoMouseEvents", std::move(events));

    // Graphics: byte count, entry count, then per entry type, name, bounds, size, bytes.
    std::vector<uint8_t> body;
    Put16(body, int32_t(mGraphics.size()));
    for (const CGraphic& g : mGraphics) {
        std::string name = ToNarrow(g.Name);
        Put16(body, g.Type);
        Put16(body, int32_t(name.size()));
        body.insert(body.end(), name.begin(), name.end());
        Put32(body, g.Bounds.left);
        Put32(body, g.Bounds.top);
        Put32(body, g.Bounds.right);
        Put32(body, g.Bounds.bottom);
        const bool none = g.Type == 0;
        Put32(body, none ? 0 : int32_t(g.Data.size()));
        if (!none) body.insert(body.end(), g.Data.begin(), g.Data.end());
    }
    std::vector<uint8_t> graphics;
    Put32(graphics, int32_t(body.size()));
    graphics.insert(graphics.end(), body.begin(), body.end());
    bag->WriteBlob("Graphics", std::move(graphics));
    return S_OK;
}

// A null bag resets every stored property to its default and treats both blobs as absent.
HRESULT CNodars32Ctrl::ReadProperties(const CPropertyBag* bag) {
    BagReader r{bag};
    mBackColor = uint32_t(r.Int("BackColor", 0xFFFFFF, VT_I4));
    mForeColor = uint32_t(r.Int("ForeColor", 0, VT_I4));
    if (const VARIANT* f = bag ? bag->ReadValue("Font") : nullptr; f && f->vt == VT_BSTR) {
        QFont font;
        if (font.fromString(QString::fromStdU16String(
                std::u16string(f->bstrVal, SysStringLen(f->bstrVal))))) {
            mFont = font;
            if (mWnd) mWnd->setFont(mFont);
        }
    }
    mEnabled = r.Bool("Enabled", true);
    mBorderStyle = int16_t(r.Int("BorderStyle", 0));
    mAppearance = int16_t(r.Int("Appearance", 0));
    mArrangeMode = r.Int("ArrangeMode", 0);
    mAutoArrange = r.Int("AutoArrange", 0);
    mDragItems = r.Bool("DragItems", false);
    mDrawArrows = r.Bool("DrawArrows", true);
    mDrawBackLinks = r.Int("DrawBackLinks", 2);
    mDrawColored = r.Bool("DrawColored", true);
    mDrawConnLabels = r.Bool("DrawConnLabels", true);
    mDrawDir = r.Int("DrawDir", 3);
    mDrawHandles = r.Bool("DrawHandles", true);
    mDrawItemLabels = r.Bool("DrawItemLabels", true);
    mDrawScale = ClampScale(r.Int("DrawScale", 100));
    mFillColor = uint32_t(r.Int("FillColor", 0xFFFFFF, VT_I4));
    mGap = r.Int("Gap", 10);
    mGraphicAllowImport = r.Int("GraphicAllowImport", 0);
    mLineWidth = r.Int("LineWidth", 0);
    mRubberBand = r.Int("RubberBand", 0);
    mSelectRectEnabled = r.Bool("SelectRectEnabled", false);
    mStoreGraphics = r.Int("StoreGraphics", 2);
    mXSpace = r.Int("xSpace", 20);
    mXSpan = r.Int("xSpan", 120);
    mYSpace = r.Int("ySpace", 20);
    mYSpan = r.Int("ySpan", 50);

    SetAutoMouseDefaults();
    if (const std::vector<uint8_t>* blob = bag ? bag->ReadBlob("AutoMouseEvents") : nullptr) {
        Reader in(*blob);
        int32_t count = in.I32();
        std::array<int16_t, 24> table{};
        for (int16_t& e : table) e = in.I16();
        if (in.ok && count == 48) mAutoMouseEvents = table;
    }

    InitGraphicsPlaceholder();
    if (const std::vector<uint8_t>* blob = bag ? bag->ReadBlob("Graphics") : nullptr) {
        Reader in(*blob);
        int32_t bytes = in.I32();
        int32_t count = in.I16();
        std::vector<CGraphic> table;
        for (int32_t i = 0; in.ok && i < count; ++i) {
            CGraphic g;
            g.Type = in.I16();
            int32_t n = in.I16();
            if (n < 0 || !in.Need(size_t(n))) break;
            g.Name = FromNarrow(in.Here(), size_t(n));
            in.pos += size_t(n);
            g.Bounds.left = in.I32();
            g.Bounds.top = in.I32();
            g.Bounds.right = in.I32();
            g.Bounds.bottom = in.I32();
            int32_t size = in.I32();
            if (size < 0 || !in.Need(size_t(size))) break;
            g.Data.assign(blob->begin() + in.pos, blob->begin() + in.pos + size);
            in.pos += size_t(size);
            g.DesignTime = 0;
            table.push_back(std::move(g));
        }
        // A damaged blob is dropped whole rather than half-read.
        if (in.ok && int32_t(table.size()) == count && bytes == int32_t(blob->size()) - 4 && !table.empty()) {
            mGraphics = std::move(table);
            if (mGraphics[0].Type != 0) mGraphics.insert(mGraphics.begin(), CGraphic::Placeholder());
        }
    }
    InvalidateControl();
    return S_OK;
}

}  // namespace nodars
