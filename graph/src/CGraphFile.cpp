#include "CGraphFile.h"

#include <cmath>
#include <cstring>

#include "ByteIO.h"

namespace nodars {

namespace {

void String(ByteWriter& w, const std::optional<std::u16string>& s) {
    if (!s) {
        w.I16(0);
        return;
    }
    std::string n = ToNarrow(*s);
    if (n.size() > 32767) n.resize(32767);  // the count is a signed 16-bit value
    w.I16(int32_t(n.size()));
    w.Bytes(reinterpret_cast<const uint8_t*>(n.data()), n.size());
}

void Rect(ByteWriter& w, const GRect& r) {
    w.I16(r.left);
    w.I16(r.top);
    w.I16(r.right);
    w.I16(r.bottom);
}

void Bool(ByteWriter& w, bool b) { w.I16(b ? 1 : 0); }

std::optional<std::u16string> String(ByteReader& r) {
    int16_t n = r.I16();
    if (n < 0) r.ok = false;
    if (!r.ok || !r.Need(size_t(n))) return std::nullopt;
    if (n == 0) return std::nullopt;
    std::u16string s = FromNarrow(r.Here(), size_t(n));
    r.Skip(size_t(n));
    return s;
}

GRect Rect(ByteReader& r) {
    GRect g;
    g.left = r.I16();
    g.top = r.I16();
    g.right = r.I16();
    g.bottom = r.I16();
    return g;
}

bool Bool(ByteReader& r) { return r.I16() != 0; }

void ReadSettings(ByteReader& r, CGraphFile& f) {
    f.arrangeMode = r.I16();
    f.backColor = r.U32();
    f.drawArrows = Bool(r);
    f.drawBackLinks = r.I16();
    f.drawColored = Bool(r);
    f.drawConnLabels = Bool(r);
    f.drawDir = r.I16();
    f.drawHandles = Bool(r);
    f.drawItemLabels = Bool(r);
    f.drawScale = r.I16();
    f.fillColor = r.U32();
    f.font.bold = Bool(r);
    f.font.italic = Bool(r);
    f.font.name = String(r);
    f.font.size = r.F32();
    f.font.strikeout = Bool(r);
    f.font.underline = Bool(r);
    f.foreColor = r.U32();
    f.gap = r.I16();
    f.lineWidth = r.I16();
    f.xSpace = r.I16();
    f.xSpan = r.I16();
    f.ySpace = r.I16();
    f.ySpan = r.I16();
    f.maxLayer = r.I16();
    f.nextItemId = r.I16();
    f.nextConnectionId = f.version == 3 ? r.I16() : 1;
    f.newIndex = r.I16();
    f.viewRect = Rect(r);
    f.hScroll = r.I16();
    f.vScroll = r.I16();
}

// The picture table, up to its end mark; false when it is cut short.
bool ReadPictures(ByteReader& r, std::vector<CGraphFile::Picture>& pictures) {
    for (;;) {
        const int16_t type = r.I16();
        if (!r.ok) return false;
        if (type == -1) return true;
        CGraphFile::Picture p;
        p.type = type;
        p.name = String(r);
        p.bounds = Rect(r);
        const int32_t size = r.I32();
        // The size is checked against what is left before anything is allocated.
        if (size < 0 || !r.Need(size_t(size))) return false;
        p.data = r.Bytes(size_t(size));
        pictures.push_back(std::move(p));
    }
}

// False when the record is cut short.
bool ReadItem(ByteReader& r, int16_t version, CGraphFile::Item& it) {
    it.id = r.I32();
    it.data = r.I32();
    it.name = String(r);
    it.shape = r.I16();
    it.fill = r.U32();
    it.border = r.U32();
    it.text = r.U32();
    it.breadth = r.I16();
    it.layer = r.I16();
    it.slot = r.I16();
    it.rect = Rect(r);
    if (version == 1) {
        if (it.shape == 0) it.shape = 1;
        return true;
    }
    it.drawLabel = r.I16();
    it.labelAlign = r.I16();
    it.labelRect = Rect(r);
    it.graphic = String(r);
    it.graphicStyle = r.I16();
    it.graphicAlign = r.I16();
    it.graphicRect = Rect(r);
    return r.ok;
}

// An item's primary neighbour and incoming connections, up to the end mark;
// false when they are cut short.
bool ReadLinks(ByteReader& r, int16_t version, CGraphFile::Item& it) {
    it.primary = r.I16();
    for (;;) {
        const int16_t source = r.I16();
        if (!r.ok) return false;
        if (source == -1) return true;
        CGraphFile::Connection c;
        c.source = source;
        if (version == 3) c.id = r.I32();
        c.fromHandle = r.I16();
        c.toHandle = r.I16();
        c.label = String(r);
        c.data = r.I32();
        c.color = r.U32();
        if (version == 1) {
            c.arrow = r.I16();
        } else {
            c.lineWidth = r.I16();
            c.arrow = r.I16();
            c.align = r.I16();
        }
        if (!r.ok) return false;
        it.incoming.push_back(std::move(c));
    }
}

}  // namespace

float CGraphFile::SizeToFile(int64_t currency) { return float(double(int32_t(currency)) * 0.00001); }

int64_t CGraphFile::SizeFromFile(float value) {
    const double v = double(value) * 100000.0;
    if (!(v > 0) || v > 2147483647.0) return 0;
    return int64_t(std::llround(v));
}

std::vector<uint8_t> CGraphFile::Write() const {
    ByteWriter w;
    String(w, std::u16string(u"Nodaris 1.2a"));
    w.I16(3);
    w.I16(arrangeMode);
    w.I32(int32_t(backColor));
    Bool(w, drawArrows);
    w.I16(drawBackLinks);
    Bool(w, drawColored);
    Bool(w, drawConnLabels);
    w.I16(drawDir);
    Bool(w, drawHandles);
    Bool(w, drawItemLabels);
    w.I16(drawScale);
    w.I32(int32_t(fillColor));
    Bool(w, font.bold);
    Bool(w, font.italic);
    String(w, font.name);
    w.F32(font.size);
    Bool(w, font.strikeout);
    Bool(w, font.underline);
    w.I32(int32_t(foreColor));
    w.I16(gap);
    w.I16(lineWidth);
    w.I16(xSpace);
    w.I16(xSpan);
    w.I16(ySpace);
    w.I16(ySpan);
    w.I16(maxLayer);
    w.I16(nextItemId);
    w.I16(nextConnectionId);
    w.I16(newIndex);
    Rect(w, viewRect);
    w.I16(hScroll);
    w.I16(vScroll);
    for (const Picture& p : pictures) {
        w.I16(p.type);
        String(w, p.name);
        Rect(w, p.bounds);
        w.I32(int32_t(p.data.size()));
        w.Bytes(p.data);
    }
    w.I16(-1);
    w.I16(int32_t(items.size()));
    for (const Item& it : items) {
        w.I32(it.id);
        w.I32(it.data);
        String(w, it.name);
        w.I16(it.shape);
        w.I32(int32_t(it.fill));
        w.I32(int32_t(it.border));
        w.I32(int32_t(it.text));
        w.I16(it.breadth);
        w.I16(it.layer);
        w.I16(it.slot);
        Rect(w, it.rect);
        w.I16(it.drawLabel);
        w.I16(it.labelAlign);
        Rect(w, it.labelRect);
        String(w, it.graphic);
        w.I16(it.graphicStyle);
        w.I16(it.graphicAlign);
        Rect(w, it.graphicRect);
    }
    for (const Item& it : items) {
        w.I16(it.primary);
        for (const Connection& c : it.incoming) {
            w.I16(c.source);
            w.I32(c.id);
            w.I16(c.fromHandle);
            w.I16(c.toHandle);
            String(w, c.label);
            w.I32(c.data);
            w.I32(int32_t(c.color));
            w.I16(c.lineWidth);
            w.I16(c.arrow);
            w.I16(c.align);
        }
        w.I16(-1);
    }
    return std::move(w.out);
}

CGraphFile::ReadResult CGraphFile::Read(const std::vector<uint8_t>& bytes) {
    ByteReader r(bytes);
    const std::optional<std::u16string> header = String(r);
    if (!r.ok || !header ||
        (*header != u"Nodaris 1.0" && *header != u"Nodaris 1.1" && *header != u"Nodaris 1.2a"))
        return ReadResult::BadHeader;
    *this = CGraphFile();
    version = r.I16();
    if (!r.ok) return ReadResult::Damaged;
    if (version < 1 || version > 3) return ReadResult::UnknownVersion;

    ReadSettings(r, *this);
    if (version >= 2 && !ReadPictures(r, pictures)) return ReadResult::Damaged;

    const int16_t count = r.I16();
    if (!r.ok || count < 0) return ReadResult::Damaged;
    // The smallest item record of the layout: a count beyond what the bytes can
    // hold is refused before the array grows.
    const size_t minItem = version == 1 ? 36 : 64;
    if (size_t(count) * minItem > r.Left()) return ReadResult::Damaged;
    items.resize(size_t(count));
    for (Item& it : items)
        if (!ReadItem(r, version, it)) return ReadResult::Damaged;
    if (!r.ok) return ReadResult::Damaged;
    for (Item& it : items)
        if (!ReadLinks(r, version, it)) return ReadResult::Damaged;
    return ReadResult::Ok;
}

}  // namespace nodars
