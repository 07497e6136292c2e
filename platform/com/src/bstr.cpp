#include "com/oleauto.h"

#include <cstdlib>
#include <cstring>

// Layout: [uint32 byte count][characters][NUL NUL]; the BSTR points at the characters.
namespace {

constexpr size_t kPrefix = sizeof(uint32_t);
constexpr UINT kMaxBytes = 0x7FFFFFF0u;  // the byte count must fit its 32-bit prefix with room for the NUL

BSTR Allocate(UINT bytes) {
    if (bytes > kMaxBytes) return nullptr;
    // Two NUL bytes after an odd byte count too, so the text is NUL-terminated as OLECHARs.
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + 3));
    if (!block) return nullptr;
    uint32_t count = bytes;
    std::memcpy(block, &count, kPrefix);
    block[kPrefix + bytes] = 0;
    block[kPrefix + bytes + 1] = 0;
    block[kPrefix + bytes + 2] = 0;
    return reinterpret_cast<BSTR>(block + kPrefix);
}

size_t Length(LPCOLESTR s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) {
    if (!text) return nullptr;
    size_t n = Length(text);
    if (n > kMaxBytes / 2) return nullptr;
    return SysAllocStringLen(text, UINT(n));
}

BSTR SysAllocStringLen(LPCOLESTR text, UINT chars) {
    if (chars > kMaxBytes / 2) return nullptr;
    BSTR b = Allocate(chars * 2);
    if (!b) return nullptr;
    if (text) std::memcpy(b, text, size_t(chars) * 2);
    else std::memset(b, 0, size_t(chars) * 2);  // defined content rather than garbage
    return b;
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byteLen) {
    BSTR b = Allocate(byteLen);
    if (!b) return nullptr;
    if (bytes) std::memcpy(b, bytes, byteLen);
    else std::memset(b, 0, byteLen);
    return b;
}

BOOL SysReAllocString(BSTR* pbstr, LPCOLESTR text) {
    if (!pbstr) return FALSE;
    BSTR fresh = SysAllocString(text);
    if (text && !fresh) return FALSE;
    SysFreeString(*pbstr);  // after the copy: text may point into the old string
    *pbstr = fresh;
    return TRUE;
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - kPrefix);
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    uint32_t count;
    std::memcpy(&count, reinterpret_cast<unsigned char*>(bstr) - kPrefix, kPrefix);
    return count;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / 2; }
