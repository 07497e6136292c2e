// The stored properties a host keeps for a control: named values and named byte
// blobs, in the order the control wrote them. A bag serialises to bytes and back
// without loss, so a host can keep it in any file or table it likes.
//
// Byte form (little-endian): "NDPB", u32 entry count, then per entry:
//   u8 kind (1 value, 2 blob), u16 name length, UTF-8 name,
//   value: u16 VARTYPE (VT_I2, VT_I4, VT_BOOL or VT_BSTR) and its payload
//          (2, 4, 2 bytes; BSTR: u32 UTF-16 unit count and the units),
//   blob:  u32 byte count and the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "com/com.h"

namespace nodars {

class CPropertyBag {
public:
    struct Entry {
        std::string name;
        bool isBlob = false;
        com::Variant value;         // when !isBlob
        std::vector<uint8_t> blob;  // when isBlob
    };

    const std::vector<Entry>& Entries() const { return mEntries; }

    // A second write under the same name replaces the first in place.
    void WriteValue(const std::string& name, const VARIANT& value) {
        Entry& e = Slot(name);
        e.isBlob = false;
        e.blob.clear();
        e.value = com::Variant(value);
    }
    void WriteBlob(const std::string& name, std::vector<uint8_t> bytes) {
        Entry& e = Slot(name);
        e.isBlob = true;
        e.value.Clear();
        e.blob = std::move(bytes);
    }
    // Null when the bag holds no value (or holds a blob) under the name.
    const VARIANT* ReadValue(const std::string& name) const {
        const Entry* e = Find(name);
        return e && !e->isBlob ? static_cast<const VARIANT*>(&e->value) : nullptr;
    }
    const std::vector<uint8_t>* ReadBlob(const std::string& name) const {
        const Entry* e = Find(name);
        return e && e->isBlob ? &e->blob : nullptr;
    }

    std::vector<uint8_t> Serialize() const {
        std::vector<uint8_t> out{'N', 'D', 'P', 'B'};
        Put32(out, uint32_t(mEntries.size()));
        for (const Entry& e : mEntries) {
            out.push_back(e.isBlob ? 2 : 1);
            Put16(out, uint16_t(e.name.size()));
            out.insert(out.end(), e.name.begin(), e.name.end());
            if (e.isBlob) {
                Put32(out, uint32_t(e.blob.size()));
                out.insert(out.end(), e.blob.begin(), e.blob.end());
                continue;
            }
            Put16(out, e.value.vt);
            switch (e.value.vt) {
            case VT_I2: Put16(out, uint16_t(e.value.iVal)); break;
            case VT_BOOL: Put16(out, uint16_t(e.value.boolVal)); break;
            case VT_I4: Put32(out, uint32_t(e.value.lVal)); break;
            case VT_BSTR: {
                UINT n = SysStringLen(e.value.bstrVal);
                Put32(out, n);
                for (UINT i = 0; i < n; ++i) Put16(out, uint16_t(e.value.bstrVal[i]));
                break;
            }
            default: break;  // other types are not kept
            }
        }
        return out;
    }

    // False (and the bag left empty) on malformed input.
    bool Deserialize(const std::vector<uint8_t>& in) {
        mEntries.clear();
        size_t pos = 0;
        auto need = [&](size_t n) { return pos + n <= in.size(); };
        auto get16 = [&] { uint16_t v = uint16_t(in[pos] | in[pos + 1] << 8); pos += 2; return v; };
        auto get32 = [&] {
            uint32_t v = uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8 | uint32_t(in[pos + 2]) << 16 |
                         uint32_t(in[pos + 3]) << 24;
            pos += 4;
            return v;
        };
        if (!need(8) || in[0] != 'N' || in[1] != 'D' || in[2] != 'P' || in[3] != 'B') return false;
        pos = 4;
        uint32_t count = get32();
        std::vector<Entry> entries;
        for (uint32_t i = 0; i < count; ++i) {
            if (!need(3)) return false;
            Entry e;
            uint8_t kind = in[pos++];
            uint16_t len = get16();
            if (!need(len)) return false;
            e.name.assign(in.begin() + pos, in.begin() + pos + len);
            pos += len;
            if (kind == 2) {
                if (!need(4)) return false;
                uint32_t n = get32();
                if (!need(n)) return false;
                e.isBlob = true;
                e.blob.assign(in.begin() + pos, in.begin() + pos + n);
                pos += n;
            } else if (kind == 1) {
                if (!need(2)) return false;
                VARTYPE vt = get16();
                if (vt == VT_I2 || vt == VT_BOOL) {
                    if (!need(2)) return false;
                    int16_t v = int16_t(get16());
                    e.value = vt == VT_I2 ? com::Variant::I2(v) : com::Variant::Bool(v != 0);
                    if (vt == VT_BOOL) e.value.boolVal = v;
                } else if (vt == VT_I4) {
                    if (!need(4)) return false;
                    e.value = com::Variant::I4(int32_t(get32()));
                } else if (vt == VT_BSTR) {
                    if (!need(4)) return false;
                    uint32_t n = get32();
                    if (!need(size_t(n) * 2)) return false;
                    std::u16string s;
                    for (uint32_t k = 0; k < n; ++k) s.push_back(char16_t(get16()));
                    e.value = com::Variant::Str(s);
                } else if (vt != VT_EMPTY) {
                    return false;
                }
            } else {
                return false;
            }
            entries.push_back(std::move(e));
        }
        if (pos != in.size()) return false;
        mEntries = std::move(entries);
        return true;
    }

private:
    Entry* FindMutable(const std::string& name) {
        for (Entry& e : mEntries)
            if (e.name == name) return &e;
        return nullptr;
    }
    const Entry* Find(const std::string& name) const {
        for (const Entry& e : mEntries)
            if (e.name == name) return &e;
        return nullptr;
    }
    Entry& Slot(const std::string& name) {
        if (Entry* e = FindMutable(name)) return *e;
        mEntries.push_back(Entry{name, false, {}, {}});
        return mEntries.back();
    }
    static void Put16(std::vector<uint8_t>& out, uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    static void Put32(std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    }

    std::vector<Entry> mEntries;
};

}  // namespace nodars
