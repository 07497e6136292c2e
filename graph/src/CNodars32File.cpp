// SaveAs and LoadFrom: the graph file of the control, and the StoreGraphics
// filter that decides which pictures go with it.
#include <QFile>
#include <QFontInfo>
#include <cmath>

#include "CGraphFile.h"
#include "CNodars32Ctrl.h"
#include "CNodars32Wnd.h"
#include "CPicture.h"
#include "file/Error.h"
#include "file/SafeFile.h"
#include "ui/dialogs.h"

namespace nodars {

namespace {

int16_t S16(int32_t v) { return int16_t(v); }

std::optional<std::u16string> Opt(const std::u16string& s) {
    return s.empty() ? std::nullopt : std::optional<std::u16string>(s);
}

// False (after saying so) when the file cannot be read or is not a whole graph file.
bool ReadGraphFile(const QString& path, CGraphFile& f, CGraphFile::ReadResult* result) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        ui::MsgBox(path, ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Cannot Open Nodaris File"));
        return false;
    }
    const QByteArray raw = in.readAll();
    in.close();
    const std::vector<uint8_t> bytes(raw.begin(), raw.end());
    *result = f.Read(bytes);
    if (*result == CGraphFile::ReadResult::BadHeader || *result == CGraphFile::ReadResult::Damaged) {
        ui::MsgBox(path, ui::Buttons::OK, ui::Icon::Critical, QStringLiteral("Invalid Nodaris File"));
        return false;
    }
    return true;
}

}  // namespace

void CNodars32Ctrl::FreeItems() {
    for (auto& item : mItems) {
        for (CGraphConnection* c : item->Outgoing) delete c;
        item->Outgoing.clear();
    }
    mItems.clear();
    mCurrent = nullptr;
    mSelectedIndex = -1;
}

bool CNodars32Ctrl::StoresGraphic(int32_t i) const {
    if (i < 1 || i >= int32_t(mGraphics.size())) return false;
    auto used = [&] {
        for (const auto& item : mItems)
            if (item->Graphic == i) return true;
        return false;
    };
    switch (mStoreGraphics) {
    case 4: return true;
    case 2: return used();
    case 3: return used() || mGraphics[size_t(i)].DesignTime == 0;
    default: return false;
    }
}

bool CNodars32Ctrl::SaveAs(const QString& path) {
    CGraphFile f;
    f.arrangeMode = S16(mArrangeMode);
    f.backColor = mBackColor;
    f.drawArrows = mDrawArrows;
    f.drawBackLinks = S16(mDrawBackLinks);
    f.drawColored = mDrawColored;
    f.drawConnLabels = mDrawConnLabels;
    f.drawDir = S16(mDrawDir);
    f.drawHandles = mDrawHandles;
    f.drawItemLabels = mDrawItemLabels;
    f.drawScale = S16(mDrawScale);
    f.fillColor = mFillColor;
    f.font.bold = mFont.bold();
    f.font.italic = mFont.italic();
    f.font.name = Opt(mFont.family().toStdU16String());
    const double points = mFont.pointSizeF() > 0 ? mFont.pointSizeF() : QFontInfo(mFont).pointSizeF();
    f.font.size = CGraphFile::SizeToFile(int64_t(std::llround(points * 10000.0)));
    f.font.strikeout = mFont.strikeOut();
    f.font.underline = mFont.underline();
    f.foreColor = mForeColor;
    f.gap = S16(mGap);
    f.lineWidth = S16(mLineWidth);
    f.xSpace = S16(mXSpace);
    f.xSpan = S16(mXSpan);
    f.ySpace = S16(mYSpace);
    f.ySpan = S16(mYSpan);
    f.maxLayer = S16(mMaxLayer);
    f.nextItemId = S16(mNextItemId);
    f.nextConnectionId = S16(mNextConnectionId);
    f.newIndex = S16(mNewIndex);
    f.viewRect = mViewRect;
    f.hScroll = S16(mHScroll);
    f.vScroll = S16(mVScroll);
    for (int32_t i = 1; i < int32_t(mGraphics.size()); ++i) {
        if (!StoresGraphic(i)) continue;
        const CGraphic& g = mGraphics[size_t(i)];
        f.pictures.push_back({g.Type, g.Name, g.Bounds, g.Type == 0 ? std::vector<uint8_t>() : g.Data});
    }
    for (const auto& item : mItems) {
        CGraphFile::Item it;
        it.id = item->ItemId;
        it.data = item->ItemData;
        it.name = item->Name;
        it.shape = item->Shape;
        it.fill = item->FillColor;
        it.border = item->BorderColor;
        it.text = item->TextColor;
        it.breadth = S16(item->Breadth);
        it.layer = S16(item->Layer);
        it.slot = S16(item->Slot);
        it.rect = item->Rect;
        it.drawLabel = item->DrawLabel;
        it.labelAlign = item->LabelAlign;
        it.labelRect = item->LabelRect;
        // An index outside the table names the placeholder.
        const bool known = item->Graphic > 0 && item->Graphic < int32_t(mGraphics.size());
        it.graphic = known ? mGraphics[size_t(item->Graphic)].Name : std::u16string(CGraphic::kPlaceholderName);
        it.graphicStyle = item->GraphicStyle;
        it.graphicAlign = item->GraphicAlign;
        it.graphicRect = item->GraphicRect;
        it.primary = item->PrimaryNeighbour ? S16(IndexOf(item->PrimaryNeighbour)) : int16_t(-1);
        for (const CGraphConnection* c : item->Incoming) {
            CGraphFile::Connection k;
            k.source = S16(IndexOf(c->From));
            k.id = c->ConnectionId;
            k.fromHandle = c->FromHandle;
            k.toHandle = c->ToHandle;
            k.label = c->Label;
            k.data = c->Data;
            k.color = c->Color;
            k.lineWidth = c->LineWidth;
            k.arrow = c->Arrow;
            k.align = c->Align;
            it.incoming.push_back(std::move(k));
        }
        f.items.push_back(std::move(it));
    }
    const std::vector<uint8_t> bytes = f.Write();
    // Written aside and given the name only when whole: a failed write leaves
    // the old file and the modified flag as they were. Failures are silent.
    try {
        file::SafeFile out(QFile::encodeName(path).toStdString());
        out.Write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        out.Commit();
    } catch (const file::Error&) {
        return false;
    }
    mDirty = false;
    return true;
}

bool CNodars32Ctrl::LoadFrom(const QString& path) {
    CGraphFile f;
    CGraphFile::ReadResult result;
    if (!ReadGraphFile(path, f, &result)) return false;

    // The file is whole: only now does the current graph go. A running mouse
    // operation or query would point into it.
    EndMouseOperation();
    EndQuery();
    ResetQuery();
    FreeItems();
    if (result == CGraphFile::ReadResult::UnknownVersion) {
        RecalcGraph(2, 0, 2, 1);
        SetModified();
        return true;
    }
    TakeFileSettings(f);
    TakeFilePictures(f);
    TakeFileItems(f);
    // The view comes back where it was: its centre follows the restored
    // view rectangle and scroll positions, and the layout keeps the centre.
    ComputeZoom();
    mViewCentre = ScreenToGraph(GPoint{mClientRect.CentreX(), mClientRect.CentreY()});
    RecalcGraph(2, 0, 2, 1);
    SetModified();
    InvalidateControl();
    return true;
}

void CNodars32Ctrl::TakeFileSettings(const CGraphFile& f) {
    mArrangeMode = f.arrangeMode;
    mBackColor = f.backColor;
    mDrawArrows = f.drawArrows;
    mDrawBackLinks = f.drawBackLinks;
    mDrawColored = f.drawColored;
    mDrawConnLabels = f.drawConnLabels;
    mDrawDir = f.drawDir;
    mDrawHandles = f.drawHandles;
    mDrawItemLabels = f.drawItemLabels;
    mDrawScale = ClampScale(f.drawScale);
    mFillColor = f.fillColor;
    QFont font = mFont;
    font.setBold(f.font.bold);
    font.setItalic(f.font.italic);
    if (f.font.name) font.setFamily(QString::fromStdU16String(*f.font.name));
    if (const int64_t size = CGraphFile::SizeFromFile(f.font.size); size > 0) font.setPointSizeF(double(size) / 10000.0);
    font.setStrikeOut(f.font.strikeout);
    font.setUnderline(f.font.underline);
    mFont = font;
    if (mWnd) mWnd->setFont(mFont);
    mForeColor = f.foreColor;
    mGap = f.gap;
    mLineWidth = f.lineWidth;
    mXSpace = f.xSpace;
    mXSpan = f.xSpan;
    mYSpace = f.ySpace;
    mYSpan = f.ySpan;
    mMaxLayer = f.maxLayer;
    mNextItemId = f.nextItemId;
    mNextConnectionId = f.version == 3 ? f.nextConnectionId : 1;
    mNewIndex = f.newIndex;
    mViewRect = f.viewRect;
    mHScroll = f.hScroll;
    mVScroll = f.vScroll;
}

// Pictures whose name the table does not hold yet (none when pictures are not kept).
void CNodars32Ctrl::TakeFilePictures(CGraphFile& f) {
    for (CGraphFile::Picture& p : f.pictures) {
        if (mStoreGraphics == 0 || !p.name) continue;
        bool taken = false;
        for (size_t i = 1; i < mGraphics.size(); ++i) taken = taken || mGraphics[i].Name == *p.name;
        if (taken) continue;
        CGraphic g;
        g.Type = p.type;
        g.Name = *p.name;
        g.Bounds = p.bounds;
        g.Data = std::move(p.data);
        mGraphics.push_back(std::move(g));
    }
}

void CNodars32Ctrl::TakeFileItems(const CGraphFile& f) {
    const int32_t count = int32_t(f.items.size());
    for (const CGraphFile::Item& it : f.items) {
        auto item = std::make_unique<CGraphItem>(it.id, it.name);
        item->Index = int32_t(mItems.size());
        item->ItemData = it.data;
        item->Shape = it.shape;
        item->FillColor = it.fill;
        item->BorderColor = it.border;
        item->TextColor = it.text;
        item->Breadth = it.breadth;
        item->Layer = it.layer;
        item->Slot = it.slot;
        item->Rect = it.rect;
        item->DrawLabel = it.drawLabel;
        item->LabelAlign = it.labelAlign;
        item->LabelRect = it.labelRect;
        item->Graphic = 0;
        for (size_t i = 1; it.graphic && i < mGraphics.size(); ++i)
            if (mGraphics[i].Name == *it.graphic) {
                item->Graphic = int16_t(i);
                break;
            }
        item->GraphicStyle = it.graphicStyle;
        item->GraphicAlign = it.graphicAlign;
        item->GraphicRect = it.graphicRect;
        mItems.push_back(std::move(item));
    }
    for (int32_t ix = 0; ix < count; ++ix) {
        const CGraphFile::Item& it = f.items[size_t(ix)];
        CGraphItem* target = mItems[size_t(ix)].get();
        if (it.primary >= 0 && it.primary < count) target->PrimaryNeighbour = mItems[size_t(it.primary)].get();
        for (const CGraphFile::Connection& k : it.incoming) {
            // A source outside the graph makes no connection.
            if (k.source < 0 || k.source >= count) continue;
            CGraphItem* source = mItems[size_t(k.source)].get();
            auto* c = new CGraphConnection(f.version == 3 ? k.id : mNextConnectionId++, source, target, k.color);
            c->FromHandle = k.fromHandle;
            c->ToHandle = k.toHandle;
            c->Label = k.label;
            c->Data = k.data;
            c->LineWidth = k.lineWidth;
            c->Arrow = k.arrow;
            c->Align = k.align;
            target->Incoming.push_back(c);
            source->Outgoing.push_back(c);
        }
    }
}

void CNodars32Ctrl::LoadGraphicFile(int32_t idx, const QString& path) {
    if (idx < 1 || idx >= int32_t(mGraphics.size())) return;
    CGraphic& g = mGraphics[size_t(idx)];
    g.Type = 0;
    g.Data.clear();
    g.Decoded.cache.reset();
    g.DesignTime = 0;
    const QString ending = path.right(3).toUpper();
    if (ending == QLatin1String("WMF")) {
        QString error;
        if (!CPicture::ReadMetafile(path, g, &error)) ui::MsgBox(error, ui::Buttons::OK, ui::Icon::Critical);
    } else if (ending == QLatin1String("BMP") || ending == QLatin1String("DIB")) {
        CPicture::ReadBitmapFile(path, g);
    }
    InvalidateControl();
}

}  // namespace nodars
