// The text order of earlier versions, which replaced SQLite's NOCASE by an
// upper-case folding: letters fold to upper case (beyond ASCII too, here the
// Latin-1 letters), so "_" and "[" sort after "Z". A file an earlier build
// wrote holds its NOCASE indexes in this order; registering this as NOCASE on
// a plain connection makes such a file.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace testsupport {

inline std::string OldFold(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 'a' && c <= 'z') {
            out += char(c - 32);
        } else if (c == 0xC3 && i + 1 < s.size()) {
            unsigned char d = static_cast<unsigned char>(s[++i]);
            if (d >= 0xA0 && d <= 0xBE && d != 0xB7) d = static_cast<unsigned char>(d - 0x20);
            out += char(c);
            out += char(d);
        } else {
            out += char(c);
        }
    }
    return out;
}

inline int OldNocase(void*, int na, const void* a, int nb, const void* b) {
    const std::string x = OldFold(std::string_view(static_cast<const char*>(a), size_t(na)));
    const std::string y = OldFold(std::string_view(static_cast<const char*>(b), size_t(nb)));
    return x.compare(y);
}

// Makes NOCASE on this connection the old order.
inline void UseOldNocase(sqlite3* db) { sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, OldNocase, nullptr); }

// Makes NOCASE on this connection its own order turned round, as a build with
// a broken comparison could have written an index.
inline void UseReversedNocase(sqlite3* db) {
    sqlite3_create_collation_v2(
        db, "NOCASE", SQLITE_UTF8, nullptr,
        [](void*, int na, const void* a, int nb, const void* b) {
            const int c = sqlite3_strnicmp(static_cast<const char*>(a), static_cast<const char*>(b), na < nb ? na : nb);
            return c != 0 ? -c : nb - na;
        },
        nullptr);
}

}  // namespace testsupport
