// Column types: declared SQLite types <-> DAO type codes, and values <-> VARIANTs.
//
// The declared type written into the schema is the DAO type's own name
// (SHORT, LONG, SINGLE, TEXT(50) ...) chosen so that SQLite's affinity rules
// store the values sensibly; reading it back gives the DAO type, size and
// auto-increment flag again. Singles are stored as the double nearest to
// their shortest decimal form, so text conversions in SQL see 1.1, not
// 1.10000002384186, and every single reads back exactly.
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "internal.h"

namespace dao::detail {

namespace {

struct TypeName {
    const char* name;
    short type;
};

const TypeName kNames[] = {
    {"BIT", dbBoolean},        {"BOOLEAN", dbBoolean},     {"BOOL", dbBoolean},         {"LOGICAL", dbBoolean},
    {"LOGICAL1", dbBoolean},   {"YESNO", dbBoolean},       {"BYTE", dbByte},            {"INTEGER1", dbByte},
    {"TINYINT", dbByte},       {"SHORT", dbInteger},       {"SMALLINT", dbInteger},     {"INTEGER2", dbInteger},
    {"LONG", dbLong},          {"INT", dbLong},            {"INTEGER", dbLong},         {"INTEGER4", dbLong},
    {"MEDIUMINT", dbLong},     {"COUNTER", dbLong},        {"AUTOINCREMENT", dbLong},   {"CURRENCY", dbCurrency},
    {"MONEY", dbCurrency},     {"SINGLE", dbSingle},       {"FLOAT4", dbSingle},        {"IEEESINGLE", dbSingle},
    {"DOUBLE", dbDouble},      {"DOUBLE PRECISION", dbDouble}, {"FLOAT", dbDouble},     {"FLOAT8", dbDouble},
    {"IEEEDOUBLE", dbDouble},  {"NUMBER", dbDouble},       {"REAL", dbDouble},          {"DATETIME", dbDate},
    {"DATE", dbDate},          {"TIME", dbTime},           {"TIMESTAMP", dbTimeStamp},  {"BINARY", dbBinary},
    {"VARBINARY", dbVarBinary}, {"TEXT", dbText},          {"VARCHAR", dbText},         {"CHAR", dbText},
    {"CHARACTER", dbText},     {"STRING", dbText},         {"NVARCHAR", dbText},        {"NCHAR", dbText},
    {"ALPHANUMERIC", dbText},  {"LONGBINARY", dbLongBinary}, {"GENERAL", dbLongBinary}, {"OLEOBJECT", dbLongBinary},
    {"BLOB", dbLongBinary},    {"IMAGE", dbLongBinary},    {"LONGTEXT", dbMemo},        {"LONGCHAR", dbMemo},
    {"MEMO", dbMemo},          {"NOTE", dbMemo},           {"NTEXT", dbMemo},           {"CLOB", dbMemo},
    {"GUID", dbGUID},          {"UNIQUEIDENTIFIER", dbGUID}, {"BIGINT", dbBigInt},      {"DECIMAL", dbDecimal},
    {"NUMERIC", dbNumeric},    {"DEC", dbDecimal},
};

// The single's shortest decimal, read as a double: it turns back into the same
// single, and a single such as 33.3 still equals the literal 33.3.
double RoundSingle(double v) {
    float f = static_cast<float>(v);
    if (!std::isfinite(f)) return v;
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, f);
    return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

double NumberForColumn(const VARIANT& v) {
    try {
        return VarToDouble(v);
    } catch (const DaoError& e) {
        if (e.Number() == 13) Raise(3421);
        throw;
    }
}

}  // namespace

ColumnType TypeFromDecl(std::string_view decl) {
    ColumnType ct;
    std::string u = UpperUtf8(TrimSpaces(decl));
    if (u.empty()) return ColumnType{dbText, 255, false};
    std::string base = u;
    long size = 0;
    auto paren = u.find('(');
    if (paren != std::string::npos) {
        base = TrimSpaces(u.substr(0, paren));
        size = std::strtol(u.c_str() + paren + 1, nullptr, 10);
    }
    // Drop trailing words such as UNSIGNED.
    ct.type = 0;
    for (const auto& n : kNames)
        if (base == n.name) ct.type = n.type;
    if (ct.type == 0) {
        // SQLite's own affinity rules decide for unknown names.
        if (base.find("INT") != std::string::npos) ct.type = dbLong;
        else if (base.find("CHAR") != std::string::npos || base.find("TEXT") != std::string::npos ||
                 base.find("CLOB") != std::string::npos)
            ct.type = dbText;
        else if (base.find("BLOB") != std::string::npos) ct.type = dbLongBinary;
        else if (base.find("REAL") != std::string::npos || base.find("FLOA") != std::string::npos ||
                 base.find("DOUB") != std::string::npos)
            ct.type = dbDouble;
        else ct.type = dbText;
    }
    ct.autoIncrement = base == "COUNTER" || base == "AUTOINCREMENT";
    ct.size = (ct.type == dbText || ct.type == dbBinary || ct.type == dbVarBinary || ct.type == dbChar) && size > 0
                  ? size
                  : DefaultSize(ct.type);
    return ct;
}

long DefaultSize(short type) {
    switch (type) {
    case dbBoolean: return 1;
    case dbByte: return 1;
    case dbInteger: return 2;
    case dbLong: return 4;
    case dbCurrency: return 8;
    case dbSingle: return 4;
    case dbDouble: return 8;
    case dbDate: return 8;
    case dbBinary: return 255;
    case dbVarBinary: return 255;
    case dbText: return 255;
    case dbChar: return 255;
    case dbGUID: return 16;
    case dbBigInt: return 8;
    case dbDecimal: return 16;
    case dbNumeric: return 16;
    case dbFloat: return 8;
    case dbTime: return 8;
    case dbTimeStamp: return 8;
    default: return 0;
    }
}

bool IsTextType(short type) { return type == dbText || type == dbMemo || type == dbChar || type == dbGUID; }

std::string DeclFromType(short type, long size) {
    switch (type) {
    case dbBoolean: return "BIT";
    case dbByte: return "BYTE";
    case dbInteger: return "SHORT";
    case dbLong: return "LONG";
    case dbCurrency: return "CURRENCY";
    case dbSingle: return "SINGLE";
    case dbDouble: return "DOUBLE";
    case dbFloat: return "DOUBLE";
    case dbDate: return "DATETIME";
    case dbTime: return "TIME";
    case dbTimeStamp: return "TIMESTAMP";
    case dbBinary: return "BINARY(" + std::to_string(size > 0 ? size : 255) + ")";
    case dbVarBinary: return "VARBINARY(" + std::to_string(size > 0 ? size : 255) + ")";
    case dbText: return "TEXT(" + std::to_string(size > 0 ? size : 255) + ")";
    case dbChar: return "TEXT(" + std::to_string(size > 0 ? size : 255) + ")";
    case dbLongBinary: return "LONGBINARY";
    case dbMemo: return "LONGTEXT";
    case dbGUID: return "GUID";
    case dbBigInt: return "BIGINT";
    case dbDecimal: return "DECIMAL";
    case dbNumeric: return "NUMERIC";
    default: Raise(3421);
    }
}

namespace {

com::Variant TextVariant(const void* utf16, int bytes) {
    com::Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(static_cast<const OLECHAR*>(utf16), UINT(bytes / 2));
    return v;
}

com::Variant BlobVariant(const void* data, int bytes) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, ULONG(bytes));
    void* p = nullptr;
    if (psa && SafeArrayAccessData(psa, &p) == S_OK) {
        if (bytes) std::memcpy(p, data, size_t(bytes));
        SafeArrayUnaccessData(psa);
    }
    return com::Variant::Array(psa, VT_UI1);
}

com::Variant IntegerVariant(int64_t i) {
    if (i >= INT32_MIN && i <= INT32_MAX) return com::Variant::I4(static_cast<LONG>(i));
    return com::Variant::R8(static_cast<double>(i));
}

template <class Get>
com::Variant Convert(int cls, short type, Get get) {
    if (cls == SQLITE_NULL) return com::Variant::Null();
    switch (type) {
    case dbBoolean:
        if (cls == SQLITE_INTEGER || cls == SQLITE_FLOAT) return com::Variant::Bool(get.d() != 0);
        break;
    case dbByte:
        if (cls == SQLITE_INTEGER) {
            int64_t i = get.i();
            if (i >= 0 && i <= 255) {
                com::Variant v;
                v.vt = VT_UI1;
                v.bVal = BYTE(i);
                return v;
            }
            return IntegerVariant(i);
        }
        break;
    case dbInteger:
        if (cls == SQLITE_INTEGER) {
            int64_t i = get.i();
            if (i >= -32768 && i <= 32767) return com::Variant::I2(SHORT(i));
            return IntegerVariant(i);
        }
        break;
    case dbLong:
        if (cls == SQLITE_INTEGER) return IntegerVariant(get.i());
        break;
    case dbBigInt:
        if (cls == SQLITE_INTEGER) {
            com::Variant v;
            v.vt = VT_I8;
            v.llVal = get.i();
            return v;
        }
        break;
    case dbCurrency:
        if (cls == SQLITE_INTEGER) {
            if (get.i() > 922337203685477 || get.i() < -922337203685477) Raise(6);
            return com::Variant::Cy(get.i() * 10000);
        }
        if (cls == SQLITE_FLOAT) {
            // Beyond what a currency holds the value is an error, not an arbitrary amount.
            const double scaled = std::nearbyint(get.d() * 10000.0);
            if (!(scaled >= -9.2e18 && scaled <= 9.2e18)) Raise(6);
            return com::Variant::Cy(static_cast<int64_t>(scaled));
        }
        break;
    case dbSingle:
        if (cls == SQLITE_INTEGER || cls == SQLITE_FLOAT) {
            // A number no single holds is given whole, as a double.
            const double d = get.d();
            if (std::fabs(d) > FLT_MAX && std::isfinite(d)) return com::Variant::R8(d);
            return com::Variant::R4(static_cast<float>(d));
        }
        break;
    case dbDouble:
    case dbFloat:
    case dbDecimal:
    case dbNumeric:
        if (cls == SQLITE_INTEGER || cls == SQLITE_FLOAT) return com::Variant::R8(get.d());
        break;
    case dbDate:
    case dbTime:
    case dbTimeStamp:
        if (cls == SQLITE_INTEGER || cls == SQLITE_FLOAT) return com::Variant::Date(get.d());
        if (cls == SQLITE_TEXT) {
            double d;
            if (ParseDate(get.s(), &d)) return com::Variant::Date(d);
        }
        break;
    case dbText:
    case dbMemo:
    case dbChar:
    case dbGUID:
        if (cls == SQLITE_TEXT) return get.text();
        if (cls == SQLITE_INTEGER) return com::Variant::Str(std::to_string(get.i()));
        if (cls == SQLITE_FLOAT) return com::Variant::Str(FormatDouble(get.d(), 15));
        break;
    default:
        break;
    }
    switch (cls) {
    case SQLITE_INTEGER: return IntegerVariant(get.i());
    case SQLITE_FLOAT: return com::Variant::R8(get.d());
    case SQLITE_TEXT: return get.text();
    default: return get.blob();
    }
}

struct StmtGet {
    sqlite3_stmt* st;
    int i_;
    int64_t i() const { return sqlite3_column_int64(st, i_); }
    double d() const { return sqlite3_column_double(st, i_); }
    std::string s() const {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i_));
        return std::string(p ? p : "", size_t(sqlite3_column_bytes(st, i_)));
    }
    com::Variant text() const {
        const void* p = sqlite3_column_text16(st, i_);
        return TextVariant(p ? p : u"", sqlite3_column_bytes16(st, i_));
    }
    com::Variant blob() const {
        const void* p = sqlite3_column_blob(st, i_);
        return BlobVariant(p, sqlite3_column_bytes(st, i_));
    }
};

struct ValueGet {
    sqlite3_value* v;
    int64_t i() const { return sqlite3_value_int64(v); }
    double d() const { return sqlite3_value_double(v); }
    std::string s() const {
        auto p = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return std::string(p ? p : "", size_t(sqlite3_value_bytes(v)));
    }
    com::Variant text() const {
        const void* p = sqlite3_value_text16(v);
        return TextVariant(p ? p : u"", sqlite3_value_bytes16(v));
    }
    com::Variant blob() const {
        const void* p = sqlite3_value_blob(v);
        return BlobVariant(p, sqlite3_value_bytes(v));
    }
};

}  // namespace

void ReadColumn(sqlite3_stmt* st, int i, short type, VARIANT* out) {
    // The common cases straight into the VARIANT; bulk reads spend their time here.
    sqlite3_value* val = sqlite3_column_value(st, i);
    int cls = sqlite3_value_type(val);
    switch (cls) {
    case SQLITE_NULL:
        out->vt = VT_NULL;
        return;
    case SQLITE_INTEGER:
        if (type == dbLong || type == dbInteger || type == dbBoolean) {
            int64_t v = sqlite3_value_int64(val);
            if (type == dbBoolean) {
                out->vt = VT_BOOL;
                out->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
                return;
            }
            if (type == dbInteger && v >= -32768 && v <= 32767) {
                out->vt = VT_I2;
                out->iVal = SHORT(v);
                return;
            }
            if (type == dbLong && v >= INT32_MIN && v <= INT32_MAX) {
                out->vt = VT_I4;
                out->lVal = LONG(v);
                return;
            }
        }
        break;
    case SQLITE_FLOAT:
        if (type == dbDouble) {
            out->vt = VT_R8;
            out->dblVal = sqlite3_value_double(val);
            return;
        }
        if (type == dbSingle) {
            out->vt = VT_R4;
            out->fltVal = static_cast<float>(sqlite3_value_double(val));
            return;
        }
        if (type == dbDate) {
            out->vt = VT_DATE;
            out->date = sqlite3_value_double(val);
            return;
        }
        break;
    case SQLITE_TEXT:
        if (IsTextType(type)) {
            auto p = sqlite3_value_text(val);
            int n = sqlite3_value_bytes(val);
            bool ascii = true;
            for (int j = 0; j < n; ++j)
                if (p[j] & 0x80) {
                    ascii = false;
                    break;
                }
            if (ascii) {
                BSTR b = SysAllocStringLen(nullptr, UINT(n));
                for (int j = 0; j < n; ++j) b[j] = OLECHAR(p[j]);
                out->vt = VT_BSTR;
                out->bstrVal = b;
                return;
            }
        }
        break;
    default:
        break;
    }
    com::Variant v = ValueToVariant(val, type);
    *out = v;
    VariantInit(&v);
}

com::Variant ColumnToVariant(sqlite3_stmt* st, int i, short type) {
    return Convert(sqlite3_column_type(st, i), type, StmtGet{st, i});
}

com::Variant ValueToVariant(sqlite3_value* v, short type) {
    return Convert(sqlite3_value_type(v), type, ValueGet{v});
}

void BindVariant(sqlite3_stmt* st, int index, const VARIANT& v) {
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: sqlite3_bind_null(st, index); return;
    case VT_I2: sqlite3_bind_int64(st, index, v.iVal); return;
    case VT_I4: sqlite3_bind_int64(st, index, v.lVal); return;
    case VT_INT: sqlite3_bind_int64(st, index, v.intVal); return;
    case VT_UI1: sqlite3_bind_int64(st, index, v.bVal); return;
    case VT_I8: sqlite3_bind_int64(st, index, v.llVal); return;
    case VT_BOOL: sqlite3_bind_int64(st, index, v.boolVal ? -1 : 0); return;
    case VT_R4: sqlite3_bind_double(st, index, RoundSingle(v.fltVal)); return;
    case VT_R8: sqlite3_bind_double(st, index, v.dblVal); return;
    case VT_DATE: sqlite3_bind_double(st, index, v.date); return;
    case VT_CY:
        if (v.cyVal.int64 % 10000 == 0) sqlite3_bind_int64(st, index, v.cyVal.int64 / 10000);
        else sqlite3_bind_double(st, index, static_cast<double>(v.cyVal.int64) / 10000.0);
        return;
    case VT_BSTR:
        sqlite3_bind_text16(st, index, v.bstrVal ? v.bstrVal : u"", int(SysStringLen(v.bstrVal) * 2), SQLITE_TRANSIENT);
        return;
    case VT_ARRAY | VT_UI1: {
        void* p = nullptr;
        LONG lb = 0, ub = -1;
        SafeArrayGetLBound(v.parray, 1, &lb);
        SafeArrayGetUBound(v.parray, 1, &ub);
        SafeArrayAccessData(v.parray, &p);
        sqlite3_bind_blob(st, index, p, int(ub - lb + 1), SQLITE_TRANSIENT);
        SafeArrayUnaccessData(v.parray);
        return;
    }
    case VT_VARIANT | VT_BYREF: BindVariant(st, index, *v.pvarVal); return;
    default: sqlite3_bind_double(st, index, NumberForColumn(v)); return;
    }
}

void BindForColumn(sqlite3_stmt* st, int index, const VARIANT& v, short type, long size, const std::string& fieldName) {
    (void)fieldName;
    if (v.vt == VT_EMPTY || v.vt == VT_NULL) {
        sqlite3_bind_null(st, index);
        return;
    }
    switch (type) {
    case dbText:
    case dbChar:
    case dbMemo:
    case dbGUID: {
        std::u16string s;
        if (v.vt == VT_BSTR) s.assign(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal));
        else if (v.vt == VT_BOOL) s = v.boolVal ? u"-1" : u"0";
        else s = VarToU16(v);
        if ((type == dbText || type == dbChar) && size > 0 && long(s.size()) > size) Raise(3163);
        sqlite3_bind_text16(st, index, s.data(), int(s.size() * 2), SQLITE_TRANSIENT);
        return;
    }
    case dbBoolean:
        sqlite3_bind_int64(st, index, NumberForColumn(v) != 0 ? -1 : 0);
        return;
    case dbByte:
    case dbInteger:
    case dbLong:
    case dbBigInt: {
        if (v.vt == VT_I2 || v.vt == VT_I4 || v.vt == VT_UI1 || v.vt == VT_I8 || v.vt == VT_BOOL) {
            int64_t i = v.vt == VT_I2 ? v.iVal : v.vt == VT_I4 ? v.lVal : v.vt == VT_UI1 ? v.bVal
                        : v.vt == VT_I8 ? v.llVal : (v.boolVal ? -1 : 0);
            double lo = type == dbByte ? 0 : type == dbInteger ? -32768 : type == dbLong ? -2147483648.0 : -9.2e18;
            double hi = type == dbByte ? 255 : type == dbInteger ? 32767 : type == dbLong ? 2147483647.0 : 9.2e18;
            if (double(i) < lo || double(i) > hi) Raise(3349);
            sqlite3_bind_int64(st, index, i);
            return;
        }
        double d = NumberForColumn(v);
        double lo = type == dbByte ? 0 : type == dbInteger ? -32768 : type == dbLong ? -2147483648.0 : -9.2e18;
        double hi = type == dbByte ? 255 : type == dbInteger ? 32767 : type == dbLong ? 2147483647.0 : 9.2e18;
        int64_t r;
        if (!RoundHalfEven(d, lo, hi, &r)) Raise(3349);
        sqlite3_bind_int64(st, index, r);
        return;
    }
    case dbSingle: {
        double d = NumberForColumn(v);
        if (std::fabs(d) > 3.402823466e38) Raise(3349);
        sqlite3_bind_double(st, index, RoundSingle(d));
        return;
    }
    case dbCurrency: {
        double d = NumberForColumn(v);
        if (v.vt == VT_CY) d = static_cast<double>(v.cyVal.int64) / 10000.0;
        double r = std::nearbyint(d * 10000.0) / 10000.0;
        if (r == std::trunc(r) && std::fabs(r) < 9e15) sqlite3_bind_int64(st, index, static_cast<int64_t>(r));
        else sqlite3_bind_double(st, index, r);
        return;
    }
    case dbDate:
    case dbTime:
    case dbTimeStamp: {
        double d;
        if (v.vt == VT_BSTR) {
            std::string s = VarToString(v);
            if (!ParseDate(s, &d) && !ParseNumber(s, &d)) Raise(3421);
        } else {
            d = NumberForColumn(v);
        }
        sqlite3_bind_double(st, index, d);
        return;
    }
    case dbDouble:
    case dbFloat:
    case dbDecimal:
    case dbNumeric:
        if (v.vt == VT_R8) sqlite3_bind_double(st, index, v.dblVal);
        else sqlite3_bind_double(st, index, NumberForColumn(v));
        return;
    default:
        BindVariant(st, index, v);
        return;
    }
}

}  // namespace dao::detail
