#include "MBrowseSql.h"

#include "CSqlMachine.h"
#include "MdbUtils.h"
#include "dao/dao.h"

#include <cctype>
#include <cstdio>

namespace MBrowseSql {

namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }

bool SameWord(const std::string& text, size_t at, size_t len, const char* word) {
    for (size_t k = 0; k < len; ++k)
        if (std::toupper(static_cast<unsigned char>(text[at + k])) != word[k]) return false;
    return word[len] == '\0';
}

// Position of the first word equal to word (upper case) outside quotes,
// brackets and date literals; with next, only where next is the following word.
size_t FindWord(const std::string& text, const char* word, const char* next = nullptr) {
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\'' || c == '"' || c == '#') {
            size_t end = text.find(c, i + 1);
            i = end == std::string::npos ? text.size() : end + 1;
        } else if (c == '[') {
            size_t end = text.find(']', i + 1);
            i = end == std::string::npos ? text.size() : end + 1;
        } else if (IsWordChar(c)) {
            size_t j = i;
            while (j < text.size() && IsWordChar(text[j])) ++j;
            if (SameWord(text, i, j - i, word)) {
                if (!next) return i;
                size_t k = j;
                while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
                size_t e = k;
                while (e < text.size() && IsWordChar(text[e])) ++e;
                if (k > j && SameWord(text, k, e - k, next)) return i;
            }
            i = j;
        } else {
            ++i;
        }
    }
    return std::string::npos;
}

std::string Bracket(const std::string& name) { return MdbUtils::BracketName(name); }

}  // namespace

namespace {

std::string TailFrom(const std::string& source, size_t from) {
    std::string tail = source.substr(from);
    const size_t order = FindWord(tail, "ORDER", "BY");
    if (order != std::string::npos) tail.resize(order);
    return tail;
}

}  // namespace

std::string CountQuery(const std::string& source) {
    const size_t from = FindWord(source, "FROM");
    return "SELECT COUNT(*) " + TailFrom(source, from == std::string::npos ? 0 : from);
}

std::string FromTail(const std::string& source) {
    const size_t from = FindWord(source, "FROM");
    if (from == std::string::npos) return {};
    std::string tail = TailFrom(source, from);
    while (!tail.empty() && (tail.back() == ';' || std::isspace(static_cast<unsigned char>(tail.back())))) tail.pop_back();
    return tail;
}

bool JoinsTestByName(const std::string& tail) { return FindWord(tail, "TEST", "ON") != std::string::npos; }

bool ParseDate(const std::string& text, double& serial) {
    // A bare number is no date here, although the layer would read it as a serial.
    if (text.empty() || CSqlMachine::IsPlainNumber(text)) return false;
    try {
        serial = dao::VarToDate(com::Variant::Str(text));
        return true;
    } catch (...) {
        // Not a date.
        return false;
    }
}

std::string DateLiteral(double serial) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    ::VariantTimeToParts(serial, &y, &mo, &d, &h, &mi, &s);
    char buf[48];
    std::snprintf(buf, sizeof buf, "#%02d/%02d/%04d %02d:%02d:%02d#", mo, d, y, h, mi, s);
    return buf;
}

FindResult FindCriterion(const std::string& name, int16_t fieldType, const std::string& text, bool matchCase,
                         std::string& criterion) {
    const std::string field = Bracket(name);
    const std::string literal = MdbUtils::SqlText(text);
    // The database compares "=" without letter case: an exact comparison adds a
    // binary InStr at the first character over the whole length.
    auto textCriterion = [&] {
        if (!matchCase) return field + " Like " + literal;
        return field + " = " + literal + " AND InStr(1, " + field + ", " + literal + ", 0) = 1 AND Len(" + field +
               ") = Len(" + literal + ")";
    };
    if (fieldType == dao::dbText || fieldType == dao::dbMemo || fieldType == dao::dbChar) {
        criterion = textCriterion();
        return FindResult::Ok;
    }
    if (MdbUtils::IsDateType(fieldType)) {
        double serial = 0;
        if (!ParseDate(text, serial)) return FindResult::InvalidDate;
        criterion = field + " = " + DateLiteral(serial);
        return FindResult::Ok;
    }
    if (CSqlMachine::IsPlainNumber(text)) {
        criterion = field + (matchCase ? " = " : " Like ") + text;
        return FindResult::Ok;
    }
    if (matchCase) return FindResult::NotFound;
    criterion = field + " Like " + literal;
    return FindResult::Ok;
}

std::string KeyCriterion(const std::string& name, int16_t typeCode, const VARIANT& value) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    std::string text;
    if (value.vt == VT_BOOL) {
        text = value.boolVal ? "True" : "False";
    } else if (MdbUtils::FieldTypeClass(typeCode) == MdbUtils::TypeClassCategorical) {
        text = MdbUtils::SqlText(dao::VarToString(value));
    } else if (MdbUtils::IsDateType(typeCode)) {
        text = DateLiteral(dao::VarToDate(value));
    } else {
        text = dao::VarToString(value);
    }
    return Bracket(name) + "=" + text;
}

}  // namespace MBrowseSql
