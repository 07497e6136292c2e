// Jet SQL to SQLite.
//
// The statement is tokenized, cut into clauses at depth 0, and every
// expression is parsed with Jet's operator precedence and written back fully
// parenthesised, so that differences in precedence (& binds looser than +,
// Not looser than comparisons) cannot change the meaning. Expressions are
// emitted for one of two contexts: a condition (WHERE, ON, HAVING, IIf's
// test), where comparisons and And/Or stay plain so SQLite can use indexes,
// and a value, where Jet's -1/0 booleans and bitwise And/Or/Not/Xor apply.
#include "jetsql.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "internal.h"

namespace dao::detail {

bool Token::Is(const char* keyword) const {
    if (kind != Ident) return false;
    size_t n = std::strlen(keyword);
    if (text.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = text[i], b = keyword[i];
        if (a >= 'a' && a <= 'z') a -= 32;
        if (b >= 'a' && b <= 'z') b -= 32;
        if (a != b) return false;
    }
    return true;
}

std::string QuoteIdent(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string QuoteString(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

namespace {

[[noreturn]] void SyntaxError(std::string_view sql) { Raise(3075, sql.substr(0, 200)); }

bool IsIdentStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

std::string FormatSerial(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    std::string s = buf;
    if (s.find('.') == std::string::npos && s.find('e') == std::string::npos) s += ".0";
    return s;
}

}  // namespace

std::vector<Token> Tokenize(std::string_view sql) {
    std::vector<Token> out;
    size_t i = 0;
    const size_t n = sql.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(sql[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        Token t;
        t.pos = i;
        if (c == '[') {
            size_t e = sql.find(']', i + 1);
            if (e == std::string_view::npos) SyntaxError(sql);
            t.kind = Token::QuotedIdent;
            t.text = std::string(sql.substr(i + 1, e - i - 1));
            i = e + 1;
        } else if (c == '\'' || c == '"') {
            t.kind = Token::String;
            size_t j = i + 1;
            for (;;) {
                if (j >= n) SyntaxError(sql);
                if (static_cast<unsigned char>(sql[j]) == c) {
                    if (j + 1 < n && static_cast<unsigned char>(sql[j + 1]) == c) {
                        t.text += char(c);
                        j += 2;
                        continue;
                    }
                    break;
                }
                t.text += sql[j++];
            }
            i = j + 1;
        } else if (c == '#') {
            size_t e = sql.find('#', i + 1);
            if (e == std::string_view::npos) SyntaxError(sql);
            double d;
            std::string body(sql.substr(i + 1, e - i - 1));
            if (!ParseDate(body, &d)) SyntaxError(sql);
            t.kind = Token::Date;
            t.text = FormatSerial(d);
            i = e + 1;
        } else if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < n && sql[i + 1] >= '0' && sql[i + 1] <= '9')) {
            size_t j = i;
            while (j < n && sql[j] >= '0' && sql[j] <= '9') ++j;
            if (j < n && sql[j] == '.') {
                ++j;
                while (j < n && sql[j] >= '0' && sql[j] <= '9') ++j;
            }
            if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
                size_t k = j + 1;
                if (k < n && (sql[k] == '+' || sql[k] == '-')) ++k;
                if (k < n && sql[k] >= '0' && sql[k] <= '9') {
                    while (k < n && sql[k] >= '0' && sql[k] <= '9') ++k;
                    j = k;
                }
            }
            t.kind = Token::Number;
            t.text = std::string(sql.substr(i, j - i));
            if (t.text[0] == '.') t.text = "0" + t.text;
            i = j;
        } else if (c == '&' && i + 1 < n && (sql[i + 1] == 'H' || sql[i + 1] == 'h') && i + 2 < n &&
                   std::isxdigit(static_cast<unsigned char>(sql[i + 2]))) {
            size_t j = i + 2;
            while (j < n && std::isxdigit(static_cast<unsigned char>(sql[j]))) ++j;
            t.kind = Token::Number;
            t.text = std::to_string(std::strtoll(std::string(sql.substr(i + 2, j - i - 2)).c_str(), nullptr, 16));
            i = j;
        } else if (IsIdentStart(c)) {
            size_t j = i;
            while (j < n && IsIdentChar(static_cast<unsigned char>(sql[j]))) ++j;
            t.kind = Token::Ident;
            t.text = std::string(sql.substr(i, j - i));
            i = j;
        } else {
            static const char* kOps[] = {"<>", "<=", ">=", "=", "<", ">", "+", "-", "*", "/", "\\", "^",
                                         "&",  "(",  ")",  ",", ".", ";", "!"};
            bool found = false;
            for (const char* op : kOps) {
                size_t len = std::strlen(op);
                if (sql.compare(i, len, op) == 0) {
                    t.kind = Token::Op;
                    t.text = op;
                    if (t.text == "!") t.text = ".";
                    i += len;
                    found = true;
                    break;
                }
            }
            if (!found) SyntaxError(sql);
        }
        out.push_back(std::move(t));
    }
    Token end;
    end.kind = Token::End;
    end.pos = n;
    out.push_back(end);
    return out;
}

namespace {

// ------------------------------------------------------------------ functions

enum class FnKind { Scalar, Aggregate, Special };

struct FnInfo {
    const char* jet;
    const char* sql;
    int minArgs, maxArgs;
    short type;  // result type hint; -1: the first argument's type
    FnKind kind;
};

const FnInfo kFunctions[] = {
    {"COUNT", "count", 0, 1, 4, FnKind::Aggregate},
    {"SUM", "sum", 1, 1, -1, FnKind::Aggregate},
    {"AVG", "avg", 1, 1, 7, FnKind::Aggregate},
    {"MIN", "min", 1, 1, -1, FnKind::Aggregate},
    {"MAX", "max", 1, 1, -1, FnKind::Aggregate},
    {"FIRST", "jet_first", 1, 1, -1, FnKind::Aggregate},
    {"LAST", "jet_last", 1, 1, -1, FnKind::Aggregate},
    {"STDEV", "jet_stdev", 1, 1, 7, FnKind::Aggregate},
    {"STDEVP", "jet_stdevp", 1, 1, 7, FnKind::Aggregate},
    {"VAR", "jet_var", 1, 1, 7, FnKind::Aggregate},
    {"VARP", "jet_varp", 1, 1, 7, FnKind::Aggregate},
    {"CSTR", "jet_cstr", 1, 1, 10, FnKind::Scalar},
    {"CINT", "jet_cint", 1, 1, 3, FnKind::Scalar},
    {"CLNG", "jet_clng", 1, 1, 4, FnKind::Scalar},
    {"CBYTE", "jet_cbyte", 1, 1, 2, FnKind::Scalar},
    {"CSNG", "jet_csng", 1, 1, 6, FnKind::Scalar},
    {"CDBL", "jet_cdbl", 1, 1, 7, FnKind::Scalar},
    {"CCUR", "jet_ccur", 1, 1, 5, FnKind::Scalar},
    {"CBOOL", "jet_cbool", 1, 1, 1, FnKind::Scalar},
    {"CVDATE", "jet_cvdate", 1, 1, 8, FnKind::Scalar},
    {"CDATE", "jet_cdate", 1, 1, 8, FnKind::Scalar},
    {"CVAR", "", 1, 1, -1, FnKind::Special},
    {"IIF", "", 3, 3, 0, FnKind::Special},
    {"ISNULL", "", 1, 1, 1, FnKind::Special},
    {"NZ", "", 1, 2, -1, FnKind::Special},
    {"TRIM", "jet_trim", 1, 1, 10, FnKind::Scalar},
    {"LTRIM", "jet_ltrim", 1, 1, 10, FnKind::Scalar},
    {"RTRIM", "jet_rtrim", 1, 1, 10, FnKind::Scalar},
    {"UCASE", "jet_ucase", 1, 1, 10, FnKind::Scalar},
    {"LCASE", "jet_lcase", 1, 1, 10, FnKind::Scalar},
    {"LEN", "jet_len", 1, 1, 4, FnKind::Scalar},
    {"LEFT", "jet_left", 2, 2, 10, FnKind::Scalar},
    {"RIGHT", "jet_right", 2, 2, 10, FnKind::Scalar},
    {"MID", "jet_mid", 2, 3, 10, FnKind::Scalar},
    {"INSTR", "jet_instr", 2, 4, 4, FnKind::Scalar},
    {"VAL", "jet_val", 1, 1, 7, FnKind::Scalar},
    {"STR", "jet_str", 1, 1, 10, FnKind::Scalar},
    {"SPACE", "jet_space", 1, 1, 10, FnKind::Scalar},
    {"STRING", "jet_string", 2, 2, 10, FnKind::Scalar},
    {"ASC", "jet_asc", 1, 1, 3, FnKind::Scalar},
    {"CHR", "jet_chr", 1, 1, 10, FnKind::Scalar},
    {"ABS", "jet_abs", 1, 1, -1, FnKind::Scalar},
    {"INT", "jet_int", 1, 1, -1, FnKind::Scalar},
    {"FIX", "jet_fix", 1, 1, -1, FnKind::Scalar},
    {"SGN", "jet_sgn", 1, 1, 3, FnKind::Scalar},
    {"SQR", "jet_sqr", 1, 1, 7, FnKind::Scalar},
    {"EXP", "jet_exp", 1, 1, 7, FnKind::Scalar},
    {"LOG", "jet_log", 1, 1, 7, FnKind::Scalar},
    {"ROUND", "jet_round", 1, 2, 7, FnKind::Scalar},
    {"YEAR", "jet_year", 1, 1, 3, FnKind::Scalar},
    {"MONTH", "jet_month", 1, 1, 3, FnKind::Scalar},
    {"DAY", "jet_day", 1, 1, 3, FnKind::Scalar},
    {"HOUR", "jet_hour", 1, 1, 3, FnKind::Scalar},
    {"MINUTE", "jet_minute", 1, 1, 3, FnKind::Scalar},
    {"SECOND", "jet_second", 1, 1, 3, FnKind::Scalar},
    {"WEEKDAY", "jet_weekday", 1, 1, 3, FnKind::Scalar},
    {"DATESERIAL", "jet_dateserial", 3, 3, 8, FnKind::Scalar},
    {"TIMESERIAL", "jet_timeserial", 3, 3, 8, FnKind::Scalar},
    {"DATEVALUE", "jet_datevalue", 1, 1, 8, FnKind::Scalar},
    {"NOW", "jet_now", 0, 0, 8, FnKind::Scalar},
    {"DATE", "jet_date", 0, 0, 8, FnKind::Scalar},
    {"TIME", "jet_time", 0, 0, 8, FnKind::Scalar},
    {"ISNUMERIC", "jet_isnumeric", 1, 1, 1, FnKind::Scalar},
    {"ISDATE", "jet_isdate", 1, 1, 1, FnKind::Scalar},
    {"HEX", "jet_hex", 1, 1, 10, FnKind::Scalar},
};

const FnInfo* FindFunction(const std::string& name) {
    std::string u = UpperUtf8(name);
    for (const auto& f : kFunctions)
        if (u == f.jet) return &f;
    return nullptr;
}

// ------------------------------------------------------------------ AST

struct Node {
    enum K { Num, Str, Null, BoolLit, Col, Star, Func, Neg, Not, Binary, Compare, Between, In, InSelect, IsNull, Like,
             Subquery, Exists, Iif } k = Null;
    std::string a, b;  // Col: qualifier, name; Func: name; Binary/Compare: operator; literals: text
    std::vector<Node> kids;
    bool negated = false;
    bool distinct = false;  // Func: an aggregate over distinct values
    const FnInfo* fn = nullptr;
    std::string sub;  // translated subquery
    int height = 1;   // levels of nodes below and including this one
    int subHeight = 0;  // a subquery's own height
};

// Expressions nest at most this deep. Each level becomes at most a few levels
// of parentheses in the SQL handed on, which must stay inside what SQLite's
// own parser takes; deeper input would also exhaust the stack here.
constexpr int kMaxExprDepth = 48;
// SQLite nests a chain one level per operand, up to its limit of 1000.
constexpr size_t kMaxChain = 500;

// Operators whose chains (a + b + c) are kept as one node with many operands
// and written without nesting: all of them associate, or are evaluated left to
// right the same way in both dialects.
bool IsChainOperator(const std::string& op) {
    return op == "AND" || op == "OR" || op == "+" || op == "*";
}

bool IsAggregateNode(const Node& n) {
    if (n.k == Node::Func && n.fn && n.fn->kind == FnKind::Aggregate) return true;
    for (const auto& k : n.kids)
        if (IsAggregateNode(k)) return true;
    return false;
}

// ------------------------------------------------------------------ parser

class Parser {
public:
    Parser(const std::vector<Token>& toks, std::string_view sql, SchemaResolver* resolver)
        : t_(toks), sql_(sql), resolver_(resolver) {}

    bool stripQualifiers = false;
    // Columns that rows are made distinct on are written without the comparison.
    bool plainColumns = false;
    // Whether a column was given the comparison to make rows distinct.
    bool collatedColumns = false;

    Statement ParseStatement();
    std::string ParseCriteria();

private:
    const std::vector<Token>& t_;
    std::string_view sql_;
    SchemaResolver* resolver_;
    size_t p_ = 0;
    size_t end_ = 0;  // current parse limit
    std::vector<TableRef>* scope_ = nullptr;  // tables visible to column type lookups
    int exprCounter_ = 0;
    int exprDepth_ = 0;  // ParseExpr frames in progress
    int deepest_ = 0;    // greatest height measured in the select being parsed
    int lastSelect_ = 0; // height of the select parsed last
    bool unionPart_ = false;  // a later SELECT of a UNION: no implicit order

    const Token& Peek(size_t ahead = 0) const {
        size_t i = p_ + ahead;
        return i < end_ ? t_[i] : t_.back();
    }
    const Token& Next() {
        const Token& t = Peek();
        if (p_ < end_) ++p_;
        return t;
    }
    bool AtEnd() const { return p_ >= end_ || t_[p_].kind == Token::End; }
    bool Accept(const char* kw) {
        if (Peek().Is(kw)) {
            ++p_;
            return true;
        }
        return false;
    }
    bool AcceptOp(const char* op) {
        if (Peek().IsOp(op)) {
            ++p_;
            return true;
        }
        return false;
    }
    void Expect(const char* kw) {
        if (!Accept(kw)) Fail();
    }
    void ExpectOp(const char* op) {
        if (!AcceptOp(op)) Fail();
    }
    [[noreturn]] void Fail() const { SyntaxError(sql_); }

    std::string Name() {
        const Token& t = Next();
        if (t.kind != Token::Ident && t.kind != Token::QuotedIdent) Fail();
        return t.text;
    }

    // Finds the matching ')' for the '(' at index i; returns index of ')'.
    size_t MatchParen(size_t i) const {
        int depth = 0;
        for (size_t j = i; j < t_.size(); ++j) {
            if (t_[j].IsOp("(")) ++depth;
            else if (t_[j].IsOp(")")) {
                if (--depth == 0) return j;
            } else if (t_[j].kind == Token::End) {
                break;
            }
        }
        Fail();
    }

    // Expression parsing.
    Node ParseExpr(int minBp = 0);
    Node ParseExprAt(int minBp);
    // Sets n's height from its operands; 3360 beyond kMaxExprDepth.
    void Measure(Node& n);
    Node ParsePrimary();
    Node ParseFunction(const std::string& name);

    // Emission.
    std::string V(const Node& n);  // value context
    std::string B(const Node& n);  // condition context
    std::string Cmp(const Node& n);
    // Whether a term may hold text: all but those known to be numbers, dates or Booleans.
    bool MayBeText(const Node& n);
    // V(n), with the text collation when n may hold text.
    std::string TextTerm(const Node& n);
    short TypeOf(const Node& n, long* size);
    short ColumnTypeOf(const std::string& qual, const std::string& name, long* size);

    // Clauses.
    SelectInfo ParseSelect(size_t end);
    SelectInfo ParseSelectAt(size_t end);
    // Where each clause of a SELECT begins, at depth 0 (npos when absent).
    struct SelectClauses {
        size_t listBegin = 0;
        size_t stop = 0;  // the end of this SELECT's clauses: a UNION, a ';' or the end
        size_t unionAt = std::string::npos, semi = std::string::npos;
        size_t intoAt = std::string::npos, fromAt = std::string::npos, whereAt = std::string::npos;
        size_t groupAt = std::string::npos, havingAt = std::string::npos, orderAt = std::string::npos;
        // Where the clause that begins at from ends.
        size_t After(size_t from) const {
            size_t best = stop;
            for (size_t b : {intoAt, fromAt, whereAt, groupAt, havingAt, orderAt})
                if (b != std::string::npos && b > from && b < best) best = b;
            return best;
        }
    };
    struct SelectTop {
        long count = -1;  // no TOP
        bool percent = false;
    };
    SelectTop ParseSelectQuantifiers(SelectInfo& si);
    SelectClauses FindSelectClauses(size_t listBegin, size_t end) const;
    void ParseSelectList(SelectInfo& si, size_t listBegin, size_t listEnd, bool deduplicated, size_t end);
    void ParseSelectFilters(SelectInfo& si, const SelectClauses& c, size_t end);
    std::string PrimaryKeyOrder(const TableRef& table, bool join);
    static std::string TopLimit(const SelectInfo& si, SelectTop top);
    std::string AssembleSelect(SelectInfo& si, const SelectClauses& c, size_t end);
    std::string ParseFrom(size_t end, std::vector<TableRef>& tables);
    TableRef ResolveTableRef(const std::string& written);
    std::string ExprList(size_t end, bool orderBy);
    size_t FindKeyword(size_t from, size_t end, const char* kw, const char* kw2 = nullptr) const;

    Statement ParseInsert();
    Statement ParseUpdate();
    Statement ParseDelete();
    Statement ParseCreate();
    Statement ParseAlter();
    Statement ParseDrop();
    ColumnDef ParseColumnDef();
    ConstraintDef ParseConstraintTail(const std::string& name);
};

// Binding powers: Imp 1, Eqv 2, Xor 3, Or 4, And 5, Not 6, comparison 7, & 8, + - 9, Mod 10, \ 11, * / 12,
// unary minus 13, ^ 14.
int InfixBp(const Token& t) {
    if (t.kind == Token::Op) {
        const std::string& o = t.text;
        if (o == "^") return 14;
        if (o == "*" || o == "/") return 12;
        if (o == "\\") return 11;
        if (o == "+" || o == "-") return 9;
        if (o == "&") return 8;
        if (o == "=" || o == "<>" || o == "<" || o == ">" || o == "<=" || o == ">=") return 7;
        return -1;
    }
    if (t.kind != Token::Ident) return -1;
    if (t.Is("MOD")) return 10;
    if (t.Is("LIKE") || t.Is("IS") || t.Is("BETWEEN") || t.Is("IN")) return 7;
    if (t.Is("NOT")) return 7;  // NOT LIKE / NOT BETWEEN / NOT IN
    if (t.Is("AND")) return 5;
    if (t.Is("OR")) return 4;
    if (t.Is("XOR")) return 3;
    if (t.Is("EQV")) return 2;
    if (t.Is("IMP")) return 1;
    return -1;
}

void Parser::Measure(Node& n) {
    int h = n.subHeight;
    for (const auto& k : n.kids) h = std::max(h, k.height);
    // What a level costs SQLite's parser: a CASE or a call most, a condition that may be
    // written as a value "(-(...))" more than plain parentheses.
    int cost = 1;
    switch (n.k) {
    case Node::Iif:
    case Node::Func: cost = 3; break;
    case Node::Compare:
    case Node::Between:
    case Node::In:
    case Node::InSelect:
    case Node::IsNull:
    case Node::Like:
    case Node::Not: cost = 2; break;
    case Node::Subquery:
    case Node::Exists: cost = 1; break;
    case Node::Binary:
        // Written as calls, or (XOR, EQV) with both operands twice over.
        if (n.a == "XOR" || n.a == "EQV") cost = 4;
        else if (n.a == "/" || n.a == "\\" || n.a == "MOD" || n.a == "^" || n.a == "&") cost = 3;
        else if (n.a == "IMP") cost = 2;
        break;
    default: break;
    }
    n.height = h + cost;
    if (n.height > kMaxExprDepth) Raise(3360);
    deepest_ = std::max(deepest_, n.height);
}

// Counts the expression and select levels in progress; a raise unwinds the whole parse.
struct DepthGuard {
    explicit DepthGuard(int& depth) : d(depth) {
        if (++d > kMaxExprDepth) Raise(3360);
    }
    ~DepthGuard() { --d; }
    int& d;
};

Node Parser::ParseExpr(int minBp) {
    DepthGuard guard(exprDepth_);
    return ParseExprAt(minBp);
}

Node Parser::ParseExprAt(int minBp) {
    Node lhs;
    const Token& t = Peek();
    if (t.Is("NOT")) {
        Next();
        Node inner = ParseExpr(6);
        lhs.k = Node::Not;
        lhs.kids.push_back(std::move(inner));
        Measure(lhs);
    } else if (t.IsOp("-")) {
        Next();
        Node inner = ParseExpr(13);
        lhs.k = Node::Neg;
        lhs.kids.push_back(std::move(inner));
        Measure(lhs);
    } else if (t.IsOp("+")) {
        Next();
        lhs = ParseExpr(13);
    } else {
        lhs = ParsePrimary();
    }
    for (;;) {
        const Token& op = Peek();
        int bp = InfixBp(op);
        if (bp < 0 || bp <= minBp) {
            // ^ is left-associative in VB as well; all operators are.
            break;
        }
        bool neg = false;
        if (op.Is("NOT")) {
            // NOT LIKE / NOT BETWEEN / NOT IN
            const Token& nx = Peek(1);
            if (!(nx.Is("LIKE") || nx.Is("BETWEEN") || nx.Is("IN"))) break;
            Next();
            neg = true;
        }
        const Token& o = Next();
        Node n;
        if (o.Is("IS")) {
            bool notNull = Accept("NOT");
            Expect("NULL");
            n.k = Node::IsNull;
            n.negated = notNull;
            n.kids.push_back(std::move(lhs));
        } else if (o.Is("LIKE")) {
            n.k = Node::Like;
            n.negated = neg;
            n.kids.push_back(std::move(lhs));
            n.kids.push_back(ParseExpr(7));
        } else if (o.Is("BETWEEN")) {
            n.k = Node::Between;
            n.negated = neg;
            n.kids.push_back(std::move(lhs));
            n.kids.push_back(ParseExpr(7));
            Expect("AND");
            n.kids.push_back(ParseExpr(7));
        } else if (o.Is("IN")) {
            n.negated = neg;
            ExpectOp("(");
            if (Peek().Is("SELECT")) {
                size_t close = MatchParen(p_ - 1);
                SelectInfo si = ParseSelect(close);
                p_ = close + 1;
                n.k = Node::InSelect;
                n.sub = si.sql;
                n.subHeight = lastSelect_;
                n.kids.push_back(std::move(lhs));
            } else {
                n.k = Node::In;
                n.kids.push_back(std::move(lhs));
                if (!Peek().IsOp(")")) {
                    do {
                        n.kids.push_back(ParseExpr(0));
                    } while (AcceptOp(","));
                }
                ExpectOp(")");
            }
        } else if (o.kind == Token::Op && (o.text == "=" || o.text == "<>" || o.text == "<" || o.text == ">" ||
                                           o.text == "<=" || o.text == ">=")) {
            n.k = Node::Compare;
            n.a = o.text;
            n.kids.push_back(std::move(lhs));
            n.kids.push_back(ParseExpr(bp));
        } else {
            std::string op = o.kind == Token::Op ? o.text : UpperUtf8(o.text);
            Node rhs = ParseExpr(bp);
            if (IsChainOperator(op) && lhs.k == Node::Binary && lhs.a == op) {
                // a + b + c: one more operand of the chain, not one more level.
                if (lhs.kids.size() >= kMaxChain) Raise(3360);
                lhs.kids.push_back(std::move(rhs));
                lhs.height = std::max(lhs.height, lhs.kids.back().height + 1);
                if (lhs.height > kMaxExprDepth) Raise(3360);
                deepest_ = std::max(deepest_, lhs.height);
                continue;
            }
            n.k = Node::Binary;
            n.a = std::move(op);
            n.kids.push_back(std::move(lhs));
            n.kids.push_back(std::move(rhs));
        }
        Measure(n);
        lhs = std::move(n);
    }
    return lhs;
}

Node Parser::ParsePrimary() {
    const Token& t = Next();
    Node n;
    switch (t.kind) {
    case Token::Number:
        n.k = Node::Num;
        n.a = t.text;
        return n;
    case Token::Date:
        n.k = Node::Num;
        n.a = t.text;
        n.b = "date";
        return n;
    case Token::String:
        n.k = Node::Str;
        n.a = t.text;
        return n;
    case Token::Op:
        if (t.text == "(") {
            if (Peek().Is("SELECT")) {
                size_t close = MatchParen(p_ - 1);
                SelectInfo si = ParseSelect(close);
                p_ = close + 1;
                n.k = Node::Subquery;
                n.sub = si.sql;
                n.subHeight = lastSelect_;
                Measure(n);
                return n;
            }
            n = ParseExpr(0);
            ExpectOp(")");
            return n;
        }
        if (t.text == "*") {
            n.k = Node::Star;
            return n;
        }
        Fail();
    case Token::Ident:
    case Token::QuotedIdent: {
        if (t.kind == Token::Ident) {
            if (t.Is("NULL")) {
                n.k = Node::Null;
                return n;
            }
            if (t.Is("TRUE")) {
                n.k = Node::BoolLit;
                n.a = "-1";
                return n;
            }
            if (t.Is("FALSE")) {
                n.k = Node::BoolLit;
                n.a = "0";
                return n;
            }
            if (t.Is("EXISTS") && Peek().IsOp("(")) {
                Next();
                size_t close = MatchParen(p_ - 1);
                SelectInfo si = ParseSelect(close);
                p_ = close + 1;
                n.k = Node::Exists;
                n.sub = si.sql;
                n.subHeight = lastSelect_;
                Measure(n);
                return n;
            }
            if (Peek().IsOp("(")) return ParseFunction(t.text);
            if (t.Is("NOW") || t.Is("DATE") || t.Is("TIME")) {
                // Parameterless functions may be written without parentheses.
                if (!(Peek().IsOp("."))) {
                    n.k = Node::Func;
                    n.fn = FindFunction(t.text);
                    n.a = t.text;
                    return n;
                }
            }
        }
        std::string first = t.text;
        if (AcceptOp(".")) {
            if (AcceptOp("*")) {
                n.k = Node::Star;
                n.a = first;
                return n;
            }
            std::string second = Name();
            n.k = Node::Col;
            n.a = first;
            n.b = second;
            return n;
        }
        n.k = Node::Col;
        n.b = first;
        return n;
    }
    default:
        Fail();
    }
}

Node Parser::ParseFunction(const std::string& name) {
    const FnInfo* fn = FindFunction(name);
    if (!fn) Raise(3085, name);
    ExpectOp("(");
    Node n;
    n.k = Node::Func;
    n.fn = fn;
    n.a = name;
    if (!Peek().IsOp(")")) {
        n.distinct = Accept("DISTINCT");
        do {
            n.kids.push_back(ParseExpr(0));
        } while (AcceptOp(","));
    }
    ExpectOp(")");
    int argc = int(n.kids.size());
    if (argc < fn->minArgs || argc > fn->maxArgs) {
        if (!(std::string(fn->jet) == "COUNT" && argc == 1)) Raise(3075, sql_);
    }
    std::string u = fn->jet;
    if (u == "IIF") n.k = Node::Iif;
    if (u == "ISNULL") {
        n.k = Node::IsNull;
        n.negated = false;
    }
    Measure(n);
    return n;
}

short Parser::ColumnTypeOf(const std::string& qual, const std::string& name, long* size) {
    if (!resolver_ || !scope_) return 0;
    for (const auto& tr : *scope_) {
        if (tr.subquery) continue;
        if (!qual.empty() && !EqualsNoCase(qual, tr.alias) && !EqualsNoCase(qual, tr.written)) continue;
        short ty = resolver_->ColumnType(tr.schema, tr.table, name, size);
        if (ty) return ty;
    }
    return 0;
}

short Parser::TypeOf(const Node& n, long* size) {
    *size = 0;
    switch (n.k) {
    case Node::Num:
        if (n.b == "date") return dbDate;
        return n.a.find_first_of(".eE") == std::string::npos && n.a.size() < 10 ? dbLong : dbDouble;
    case Node::Str: *size = 255; return dbText;
    case Node::BoolLit: return dbBoolean;
    case Node::Col: return ColumnTypeOf(n.a, n.b, size);
    case Node::Func:
        if (n.fn) {
            if (n.fn->type == -1) {
                if (n.kids.empty()) return 0;
                short ty = TypeOf(n.kids[0], size);
                std::string u = n.fn->jet;
                if (u == "SUM") return (ty == dbByte || ty == dbInteger || ty == dbLong || ty == dbBoolean) ? dbLong
                                       : ty == dbCurrency ? dbCurrency : dbDouble;
                return ty;
            }
            if (n.fn->type == 10) *size = 255;
            return n.fn->type;
        }
        return 0;
    case Node::Binary:
        if (n.a == "&") {
            *size = 255;
            return dbText;
        }
        return 0;
    default:
        return 0;
    }
}

std::string Parser::V(const Node& n) {
    switch (n.k) {
    case Node::Num:
    case Node::BoolLit: return n.a;
    case Node::Str: return QuoteString(n.a);
    case Node::Null: return "NULL";
    case Node::Col:
        if (n.a.empty() || stripQualifiers) return QuoteIdent(n.b);
        return QuoteIdent(n.a) + "." + QuoteIdent(n.b);
    case Node::Star: return n.a.empty() ? "*" : QuoteIdent(n.a) + ".*";
    case Node::Neg: return "(-" + V(n.kids[0]) + ")";
    case Node::Not: return "(~" + V(n.kids[0]) + ")";
    case Node::Binary: {
        const std::string& o = n.a;
        if (IsChainOperator(o)) {
            const std::string glue = o == "AND" ? " & " : o == "OR" ? " | " : " " + o + " ";
            std::string out = "(";
            for (size_t i = 0; i < n.kids.size(); ++i) out += (i ? glue : "") + V(n.kids[i]);
            return out + ")";
        }
        std::string a = V(n.kids[0]), b = V(n.kids[1]);
        if (o == "-") return "(" + a + " " + o + " " + b + ")";
        if (o == "/") return "jet_div(" + a + ", " + b + ")";
        if (o == "\\") return "jet_idiv(" + a + ", " + b + ")";
        if (o == "MOD") return "jet_mod(" + a + ", " + b + ")";
        if (o == "^") return "jet_pow(" + a + ", " + b + ")";
        if (o == "&") return "jet_cat(" + a + ", " + b + ")";
        if (o == "XOR") return "((" + a + " | " + b + ") - (" + a + " & " + b + "))";
        if (o == "EQV") return "(~((" + a + " | " + b + ") - (" + a + " & " + b + ")))";
        if (o == "IMP") return "((~" + a + ") | " + b + ")";
        Fail();
    }
    case Node::Compare:
    case Node::Between:
    case Node::In:
    case Node::InSelect:
    case Node::IsNull:
    case Node::Exists: return "(-" + B(n) + ")";
    case Node::Like: {
        std::string s = "jet_like(" + V(n.kids[0]) + ", " + V(n.kids[1]) + ")";
        return n.negated ? "(~" + s + ")" : s;
    }
    case Node::Subquery: return "(" + n.sub + ")";
    case Node::Iif: return "(CASE WHEN " + B(n.kids[0]) + " THEN " + V(n.kids[1]) + " ELSE " + V(n.kids[2]) + " END)";
    case Node::Func: {
        std::string u = n.fn->jet;
        if (u == "CVAR") return V(n.kids[0]);
        if (u == "NZ") {
            return "coalesce(" + V(n.kids[0]) + ", " + (n.kids.size() > 1 ? V(n.kids[1]) : std::string("''")) + ")";
        }
        std::string name = n.fn->sql;
        if (u == "CSTR" && n.kids.size() == 1) {
            long sz;
            short ty = TypeOf(n.kids[0], &sz);
            if (ty == dbDate || ty == dbTime || ty == dbTimeStamp) name = "jet_cstrdate";
        }
        if (u == "COUNT" && (n.kids.empty() || n.kids[0].k == Node::Star)) return "count(*)";
        // Min, Max and distinct counts compare their values: as text, by the one comparison.
        const bool compares = n.distinct || u == "MIN" || u == "MAX";
        std::string out = name + (n.distinct ? "(DISTINCT " : "(");
        for (size_t i = 0; i < n.kids.size(); ++i) {
            if (i) out += ", ";
            out += compares ? TextTerm(n.kids[i]) : V(n.kids[i]);
        }
        return out + ")";
    }
    }
    Fail();
}

bool Parser::MayBeText(const Node& n) {
    if (n.k == Node::Num || n.k == Node::Null || n.k == Node::BoolLit || n.k == Node::Neg) return false;
    long size = 0;
    const short type = TypeOf(n, &size);
    return type == 0 || IsTextType(type);
}

std::string Parser::TextTerm(const Node& n) {
    return MayBeText(n) ? V(n) + " COLLATE " + kTextCollation : V(n);
}

// Text compares by the one comparison whatever a column declares (a linked
// source may say BINARY). Numbers compare without it, which keeps their
// indexes usable: SQLite uses an index only under the index's own collation.
std::string Parser::Cmp(const Node& n) {
    const Node& l = n.kids[0];
    const Node& r = n.kids[1];
    const bool text = MayBeText(l) && MayBeText(r);
    return "(" + V(l) + " " + n.a + " " + (text ? TextTerm(r) : V(r)) + ")";
}

std::string Parser::B(const Node& n) {
    switch (n.k) {
    case Node::Compare: return Cmp(n);
    case Node::Not: return "(NOT " + B(n.kids[0]) + ")";
    case Node::Binary: {
        const std::string& o = n.a;
        if (o == "AND" || o == "OR") {
            std::string out = "(";
            for (size_t i = 0; i < n.kids.size(); ++i) out += (i ? " " + o + " " : "") + B(n.kids[i]);
            return out + ")";
        }
        if (o == "XOR") return "(" + B(n.kids[0]) + " <> " + B(n.kids[1]) + ")";
        if (o == "EQV") return "(" + B(n.kids[0]) + " = " + B(n.kids[1]) + ")";
        if (o == "IMP") return "((NOT " + B(n.kids[0]) + ") OR " + B(n.kids[1]) + ")";
        return "(" + V(n) + " <> 0)";
    }
    case Node::Between: {
        // The collation of the tested term decides both comparisons.
        const bool text = MayBeText(n.kids[0]) && (MayBeText(n.kids[1]) || MayBeText(n.kids[2]));
        return "(" + (text ? TextTerm(n.kids[0]) : V(n.kids[0])) + (n.negated ? " NOT" : "") + " BETWEEN " +
               V(n.kids[1]) + " AND " + V(n.kids[2]) + ")";
    }
    case Node::In: {
        // An IN list compares under the collation of the term before it.
        std::string s = "(" + TextTerm(n.kids[0]) + (n.negated ? " NOT IN (" : " IN (");
        for (size_t i = 1; i < n.kids.size(); ++i) {
            if (i > 1) s += ", ";
            s += V(n.kids[i]);
        }
        return s + "))";
    }
    case Node::InSelect: return "(" + TextTerm(n.kids[0]) + (n.negated ? " NOT IN (" : " IN (") + n.sub + "))";
    case Node::IsNull: return "(" + V(n.kids[0]) + (n.negated ? " IS NOT NULL)" : " IS NULL)");
    case Node::Exists: return "(EXISTS (" + n.sub + "))";
    case Node::Like: {
        std::string s = "jet_like(" + V(n.kids[0]) + ", " + V(n.kids[1]) + ")";
        return n.negated ? "(NOT " + s + ")" : s;
    }
    case Node::BoolLit: return n.a == "0" ? "0" : "1";
    case Node::Null: return "NULL";
    default: return "(" + V(n) + " <> 0)";
    }
}

size_t Parser::FindKeyword(size_t from, size_t end, const char* kw, const char* kw2) const {
    int depth = 0;
    for (size_t i = from; i < end; ++i) {
        const Token& t = t_[i];
        if (t.IsOp("(")) ++depth;
        else if (t.IsOp(")")) --depth;
        else if (depth == 0 && t.Is(kw)) {
            if (!kw2) return i;
            if (i + 1 < end && t_[i + 1].Is(kw2)) return i;
        }
    }
    return std::string::npos;
}

TableRef Parser::ResolveTableRef(const std::string& written) {
    TableRef tr;
    tr.written = written;
    tr.alias = written;
    tr.schema = "main";
    tr.table = written;
    if (resolver_) {
        std::string schema, table;
        if (resolver_->ResolveTable(written, &schema, &table)) {
            tr.schema = schema;
            tr.table = table;
            tr.rowid = resolver_->RowidName(schema, table);
        }
    }
    return tr;
}

std::string Parser::ParseFrom(size_t end, std::vector<TableRef>& tables) {
    std::string out;
    size_t saveEnd = end_;
    end_ = end;
    // Pending ON conditions are parsed after all tables are known, so that
    // column types can be looked up; here they are parsed in place.
    bool expectTable = true;
    int openJoins = 0;  // nested join parentheses
    while (!AtEnd()) {
        const Token& t = Peek();
        if (expectTable) {
            if (t.IsOp("(")) {
                Next();
                if (Peek().Is("SELECT")) {
                    size_t close = MatchParen(p_ - 1);
                    SelectInfo si = ParseSelect(close);
                    p_ = close + 1;
                    TableRef tr;
                    tr.subquery = true;
                    Accept("AS");
                    if (Peek().kind == Token::Ident || Peek().kind == Token::QuotedIdent) {
                        tr.alias = tr.written = Name();
                    }
                    out += "(" + si.sql + ")";
                    if (!tr.alias.empty()) out += " AS " + QuoteIdent(tr.alias);
                    tables.push_back(tr);
                    expectTable = false;
                } else {
                    if (++openJoins > kMaxExprDepth) Raise(3360);
                    out += "(";
                }
                continue;
            }
            std::string name = Name();
            TableRef tr = ResolveTableRef(name);
            std::string alias;
            if (Accept("AS")) alias = Name();
            else if ((Peek().kind == Token::Ident && !Peek().Is("INNER") && !Peek().Is("LEFT") &&
                      !Peek().Is("RIGHT") && !Peek().Is("ON") && !Peek().Is("WHERE") && !Peek().Is("ORDER") &&
                      !Peek().Is("GROUP") && !Peek().Is("HAVING") && !Peek().Is("UNION") && !Peek().Is("JOIN") &&
                      !Peek().Is("FULL") && !Peek().Is("CROSS") && !Peek().Is("IN")) ||
                     Peek().kind == Token::QuotedIdent)
                alias = Name();
            if (!alias.empty()) tr.alias = alias;
            out += QuoteIdent(tr.schema) + "." + QuoteIdent(tr.table) + " AS " + QuoteIdent(tr.alias);
            tables.push_back(tr);
            expectTable = false;
            continue;
        }
        if (t.IsOp(")")) {
            Next();
            out += ")";
            continue;
        }
        if (t.IsOp(",")) {
            Next();
            out += ", ";
            expectTable = true;
            continue;
        }
        if (t.Is("INNER") || t.Is("LEFT") || t.Is("RIGHT") || t.Is("JOIN") || t.Is("CROSS")) {
            std::string kind;
            if (Accept("INNER")) kind = "INNER ";
            else if (Accept("LEFT")) kind = "LEFT ";
            else if (Accept("RIGHT")) kind = "RIGHT ";
            else if (Accept("CROSS")) kind = "CROSS ";
            Accept("OUTER");
            if (!Accept("JOIN")) Raise(3131);
            out += " " + kind + "JOIN ";
            expectTable = true;
            continue;
        }
        if (t.Is("ON")) {
            Next();
            // The condition runs until the next join keyword or ')' at this depth.
            size_t i = p_;
            int depth = 0;
            for (; i < end_; ++i) {
                const Token& x = t_[i];
                if (x.IsOp("(")) ++depth;
                else if (x.IsOp(")")) {
                    if (depth == 0) break;
                    --depth;
                } else if (depth == 0 && (x.Is("INNER") || x.Is("LEFT") || x.Is("RIGHT") || x.Is("JOIN") ||
                                          x.Is("CROSS")))
                    break;
            }
            size_t save = end_;
            end_ = i;
            std::vector<TableRef>* saveScope = scope_;
            scope_ = &tables;
            Node cond = ParseExpr(0);
            if (!AtEnd()) Raise(3131);
            // Written while the joined tables are in scope: their column types decide the collation.
            out += " ON " + B(cond);
            scope_ = saveScope;
            end_ = save;
            continue;
        }
        Raise(3131);
    }
    end_ = saveEnd;
    return out;
}

std::string Parser::ExprList(size_t end, bool orderBy) {
    size_t saveEnd = end_;
    end_ = end;
    std::string out;
    while (!AtEnd()) {
        Node e = ParseExpr(0);
        // Sorted and grouped text follows the one comparison (value numbering,
        // row positions and key ranges rely on it). A number in ORDER BY is a
        // column's place in the list.
        std::string s = (orderBy && e.k == Node::Num) ? V(e) : TextTerm(e);
        if (orderBy) {
            if (Accept("DESC")) s += " DESC";
            else Accept("ASC");
        }
        if (!out.empty()) out += ", ";
        out += s;
        if (!AcceptOp(",")) break;
    }
    if (!AtEnd()) Fail();
    end_ = saveEnd;
    return out;
}

// SQLite's parser goes deeper for a nested SELECT than for a parenthesis.
constexpr int kSelectCost = 6;

SelectInfo Parser::ParseSelect(size_t end) {
    DepthGuard guard(exprDepth_);
    const int outer = deepest_;
    deepest_ = 0;
    SelectInfo si = ParseSelectAt(end);
    lastSelect_ = deepest_ + kSelectCost;
    if (lastSelect_ > kMaxExprDepth) Raise(3360);
    deepest_ = std::max(outer, lastSelect_);
    return si;
}

// DISTINCT, DISTINCTROW, ALL and TOP n [PERCENT], in any order.
Parser::SelectTop Parser::ParseSelectQuantifiers(SelectInfo& si) {
    SelectTop top;
    for (;;) {
        if (Accept("DISTINCT")) si.distinct = "DISTINCT ";
        else if (Accept("DISTINCTROW")) {
        } else if (Accept("ALL")) {
        } else if (Peek().Is("TOP")) {
            Next();
            const Token& n = Next();
            if (n.kind != Token::Number) Fail();
            top.count = std::strtol(n.text.c_str(), nullptr, 10);
            if (Accept("PERCENT")) top.percent = true;
        } else {
            break;
        }
    }
    return top;
}

Parser::SelectClauses Parser::FindSelectClauses(size_t listBegin, size_t end) const {
    SelectClauses c;
    c.listBegin = listBegin;
    c.stop = end;
    c.unionAt = FindKeyword(listBegin, end, "UNION");
    if (c.unionAt != std::string::npos) c.stop = c.unionAt;
    for (size_t i = listBegin; i < c.stop; ++i)
        if (t_[i].IsOp(";")) {
            c.semi = i;
            break;
        }
    if (c.semi != std::string::npos) c.stop = c.semi;
    c.intoAt = FindKeyword(listBegin, c.stop, "INTO");
    c.fromAt = FindKeyword(listBegin, c.stop, "FROM");
    c.whereAt = FindKeyword(listBegin, c.stop, "WHERE");
    c.groupAt = FindKeyword(listBegin, c.stop, "GROUP", "BY");
    c.havingAt = FindKeyword(listBegin, c.stop, "HAVING");
    c.orderAt = FindKeyword(listBegin, c.stop, "ORDER", "BY");
    return c;
}

// The select list: each item written, named, and typed.
void Parser::ParseSelectList(SelectInfo& si, size_t listBegin, size_t listEnd, bool deduplicated, size_t end) {
    p_ = listBegin;
    end_ = listEnd;
    while (!AtEnd()) {
        Node e = ParseExpr(0);
        std::string alias;
        if (Accept("AS")) alias = Name();
        if (IsAggregateNode(e)) si.aggregate = true;
        long size = 0;
        short ty = TypeOf(e, &size);
        std::string item = V(e);
        std::string name;
        if (deduplicated && e.k != Node::Star && MayBeText(e)) {
            if (!plainColumns) item += std::string(" COLLATE ") + kTextCollation;
            collatedColumns = true;
            if (alias.empty() && e.k == Node::Col) alias = e.b;
        }
        if (e.k == Node::Star) {
            name = e.a.empty() ? "*" : e.a + ".*";
        } else if (!alias.empty()) {
            name = alias;
            item += " AS " + QuoteIdent(alias);
        } else if (e.k == Node::Col) {
            name = e.b;
        } else {
            name = "Expr" + std::to_string(1000 + exprCounter_++);
            item += " AS " + QuoteIdent(name);
        }
        si.items.push_back(item);
        si.itemNames.push_back(name);
        si.itemTypes.push_back(ty);
        si.itemSizes.push_back(size);
        if (!AcceptOp(",")) break;
    }
    if (!AtEnd()) Fail();
    end_ = end;
}

// WHERE, GROUP BY, HAVING and ORDER BY.
void Parser::ParseSelectFilters(SelectInfo& si, const SelectClauses& c, size_t end) {
    if (c.whereAt != std::string::npos) {
        p_ = c.whereAt + 1;
        end_ = c.After(c.whereAt);
        Node w = ParseExpr(0);
        if (!AtEnd()) Fail();
        si.where = B(w);
        end_ = end;
    }
    if (c.groupAt != std::string::npos) {
        p_ = c.groupAt + 2;
        si.groupBy = ExprList(c.After(c.groupAt + 1), false);
        si.aggregate = true;
    }
    if (c.havingAt != std::string::npos) {
        p_ = c.havingAt + 1;
        end_ = c.After(c.havingAt);
        Node h = ParseExpr(0);
        if (!AtEnd()) Fail();
        const bool havingAggregate = IsAggregateNode(h);
        std::string havingCond = B(h);
        end_ = end;
        if (c.groupAt == std::string::npos && !havingAggregate) {
            // HAVING without GROUP BY filters the rows as a whole-table WHERE.
            si.where = si.where.empty() ? havingCond : "(" + si.where + ") AND " + havingCond;
        } else {
            si.having = havingCond;
            si.aggregate = true;
        }
    }
    if (c.orderAt != std::string::npos) {
        p_ = c.orderAt + 2;
        si.orderBy = ExprList(c.After(c.orderAt + 1), true);
    }
}

// The order of a table's primary key. A single table walks its key's own
// index: what reads it in order says ORDER BY. A join is what the grid shows,
// and row ranges count its rows in the comparison's key order, so a text key
// sorts by the comparison there.
std::string Parser::PrimaryKeyOrder(const TableRef& table, bool join) {
    std::string order;
    for (const auto& c : resolver_->PrimaryKey(table.schema, table.table)) {
        if (!order.empty()) order += ", ";
        order += QuoteIdent(table.alias) + "." + QuoteIdent(c);
        long size = 0;
        const short type = join ? resolver_->ColumnType(table.schema, table.table, c, &size) : 0;
        if (join && (type == 0 || IsTextType(type))) order += std::string(" COLLATE ") + kTextCollation;
    }
    return order;
}

std::string Parser::TopLimit(const SelectInfo& si, SelectTop top) {
    if (!top.percent) return std::to_string(top.count);
    // The row count of the whole result decides; grouped results count groups.
    if (!si.groupBy.empty())
        return "(SELECT (count(*) * " + std::to_string(top.count) + " + 99) / 100 FROM (SELECT 1 FROM " + si.from +
               (si.where.empty() ? "" : " WHERE " + si.where) + " GROUP BY " + si.groupBy + "))";
    return "(SELECT (count(*) * " + std::to_string(top.count) + " + 99) / 100 FROM " + si.from +
           (si.where.empty() ? "" : " WHERE " + si.where) + ")";
}

// The SELECT as SQLite reads it, with the SELECTs of a UNION after it parsed.
std::string Parser::AssembleSelect(SelectInfo& si, const SelectClauses& c, size_t end) {
    std::string sql = "SELECT " + si.distinct;
    for (size_t i = 0; i < si.items.size(); ++i) sql += (i ? ", " : "") + si.items[i];
    if (!si.from.empty()) sql += " FROM " + si.from;
    if (!si.where.empty()) sql += " WHERE " + si.where;
    if (!si.groupBy.empty()) sql += " GROUP BY " + si.groupBy;
    if (!si.having.empty()) sql += " HAVING " + si.having;
    if (c.unionAt == std::string::npos) {
        if (!si.orderBy.empty()) sql += " ORDER BY " + si.orderBy;
        if (!si.limit.empty()) sql += " LIMIT " + si.limit;
        return sql;
    }
    p_ = c.unionAt + 1;
    bool all = Accept("ALL");
    bool saveUnion = unionPart_;
    unionPart_ = true;
    SelectInfo rest = ParseSelect(end);
    unionPart_ = saveUnion;
    sql += all ? " UNION ALL " : " UNION ";
    sql += rest.sql;
    si.aggregate = true;
    si.keyable = false;
    return sql;
}

SelectInfo Parser::ParseSelectAt(size_t end) {
    // p_ at SELECT; end: index of the token that ends this select (')' or End).
    SelectInfo si;
    size_t saveEnd = end_;
    std::vector<TableRef>* saveScope = scope_;
    end_ = end;
    Expect("SELECT");
    const SelectTop top = ParseSelectQuantifiers(si);
    const SelectClauses c = FindSelectClauses(p_, end);
    const size_t listEnd = c.After(c.listBegin);
    if (listEnd == c.listBegin) Fail();

    if (c.intoAt != std::string::npos) {
        p_ = c.intoAt + 1;
        si.into = Name();
        if (p_ != c.After(c.intoAt)) Fail();
    }
    if (c.fromAt != std::string::npos) {
        p_ = c.fromAt + 1;
        si.from = ParseFrom(c.After(c.fromAt), si.tables);
    }
    scope_ = &si.tables;
    const bool isUnion = c.unionAt != std::string::npos;
    // Rows that are made distinct compare their text by the one comparison.
    const bool deduplicated =
        !si.distinct.empty() || (isUnion && !(c.unionAt + 1 < end && t_[c.unionAt + 1].Is("ALL")));
    ParseSelectList(si, c.listBegin, listEnd, deduplicated, end);
    ParseSelectFilters(si, c, end);
    if (!si.distinct.empty()) si.aggregate = true;
    si.keyable = !si.aggregate && !isUnion && !si.tables.empty() && top.count < 0;
    for (const auto& tr : si.tables)
        if (tr.subquery) si.keyable = false;
    // Without ORDER BY, rows come in the primary-key order of the first table.
    if (si.orderBy.empty() && !si.aggregate && !isUnion && !unionPart_ && !si.tables.empty() &&
        !si.tables[0].subquery && resolver_) {
        si.orderBy = PrimaryKeyOrder(si.tables[0], si.tables.size() > 1);
        si.keyOrder = !si.orderBy.empty();
    }
    if (top.count >= 0) si.limit = TopLimit(si, top);
    si.sql = AssembleSelect(si, c, end);
    if (c.semi != std::string::npos && !isUnion) {
        // Only a final ';' may follow.
        for (size_t i = c.semi + 1; i < end; ++i)
            if (!t_[i].IsOp(";")) Fail();
    }
    p_ = end;
    end_ = saveEnd;
    scope_ = saveScope;
    return si;
}

Statement Parser::ParseInsert() {
    Statement st;
    st.kind = StmtKind::Insert;
    Expect("INSERT");
    Expect("INTO");
    st.table = Name();
    TableRef tr = ResolveTableRef(st.table);
    std::string sql = "INSERT INTO " + QuoteIdent(tr.schema) + "." + QuoteIdent(tr.table);
    std::vector<TableRef> scope{tr};
    scope_ = &scope;
    if (AcceptOp("(")) {
        sql += " (";
        bool first = true;
        do {
            std::string c = Name();
            if (AcceptOp(".")) c = Name();
            sql += (first ? "" : ", ") + QuoteIdent(c);
            first = false;
        } while (AcceptOp(","));
        ExpectOp(")");
        sql += ")";
    }
    if (Accept("VALUES")) {
        ExpectOp("(");
        sql += " VALUES (";
        bool first = true;
        do {
            Node e = ParseExpr(0);
            sql += (first ? "" : ", ") + V(e);
            first = false;
        } while (AcceptOp(","));
        ExpectOp(")");
        sql += ")";
        AcceptOp(";");
        if (!AtEnd()) Raise(3134);
    } else if (Peek().Is("SELECT")) {
        size_t e = t_.size() - 1;
        SelectInfo si = ParseSelect(e);
        sql += " " + si.sql;
    } else {
        Raise(3134);
    }
    st.sql = sql;
    return st;
}

Statement Parser::ParseUpdate() {
    Statement st;
    st.kind = StmtKind::Update;
    Expect("UPDATE");
    size_t setAt = FindKeyword(p_, end_, "SET");
    if (setAt == std::string::npos) Raise(3144);
    std::vector<TableRef> tables;
    std::string from = ParseFrom(setAt, tables);
    if (tables.empty() || tables[0].subquery) Raise(3144);
    p_ = setAt + 1;
    st.table = tables[0].written;
    scope_ = &tables;
    std::string sets;
    size_t whereAt = FindKeyword(p_, end_, "WHERE");
    size_t setEnd = whereAt != std::string::npos ? whereAt : end_;
    size_t saveEnd = end_;
    end_ = setEnd;
    do {
        std::string c = Name();
        if (AcceptOp(".")) c = Name();
        ExpectOp("=");
        Node e = ParseExpr(0);
        sets += (sets.empty() ? "" : ", ") + QuoteIdent(c) + " = " + V(e);
    } while (AcceptOp(","));
    AcceptOp(";");
    if (!AtEnd()) Raise(3144);
    end_ = saveEnd;
    std::string where;
    if (whereAt != std::string::npos) {
        p_ = whereAt + 1;
        Node w = ParseExpr(0);
        AcceptOp(";");
        if (!AtEnd()) Raise(3144);
        where = B(w);
    }
    const TableRef& t0 = tables[0];
    std::string target = QuoteIdent(t0.schema) + "." + QuoteIdent(t0.table) + " AS " + QuoteIdent(t0.alias);
    if (tables.size() == 1) {
        st.sql = "UPDATE " + target + " SET " + sets + (where.empty() ? "" : " WHERE " + where);
    } else {
        // A joined update changes the first table's rows that the join reaches.
        const std::string rowid = QuoteIdent(t0.alias) + "." + t0.rowid;
        std::string rowSel = "SELECT " + rowid + " FROM " + from + (where.empty() ? "" : " WHERE " + where);
        st.sql = "UPDATE " + target + " SET " + sets + " WHERE " + rowid + " IN (" + rowSel + ")";
        // Column references to joined tables are not supported in SET of a joined update.
    }
    return st;
}

Statement Parser::ParseDelete() {
    Statement st;
    st.kind = StmtKind::Delete;
    Expect("DELETE");
    size_t fromAt = FindKeyword(p_, end_, "FROM");
    if (fromAt == std::string::npos) Raise(3129);
    p_ = fromAt + 1;
    size_t whereAt = FindKeyword(p_, end_, "WHERE");
    size_t fromEnd = whereAt != std::string::npos ? whereAt : end_;
    // Trim a final ';' from the FROM range.
    size_t fe = fromEnd;
    while (fe > p_ && t_[fe - 1].IsOp(";")) --fe;
    std::vector<TableRef> tables;
    std::string from = ParseFrom(fe, tables);
    if (tables.empty() || tables[0].subquery) Raise(3131);
    scope_ = &tables;
    std::string where;
    if (whereAt != std::string::npos) {
        p_ = whereAt + 1;
        size_t e = end_;
        while (e > p_ && t_[e - 1].IsOp(";")) --e;
        size_t save = end_;
        end_ = e;
        Node w = ParseExpr(0);
        if (!AtEnd()) Fail();
        end_ = save;
        where = B(w);
    }
    const TableRef& t0 = tables[0];
    st.table = t0.written;
    std::string target = QuoteIdent(t0.schema) + "." + QuoteIdent(t0.table) + " AS " + QuoteIdent(t0.alias);
    if (tables.size() == 1) {
        st.sql = "DELETE FROM " + target + (where.empty() ? "" : " WHERE " + where);
    } else {
        const std::string rowid = QuoteIdent(t0.alias) + "." + t0.rowid;
        st.sql = "DELETE FROM " + target + " WHERE " + rowid + " IN (SELECT " + rowid + " FROM " + from +
                 (where.empty() ? "" : " WHERE " + where) + ")";
    }
    return st;
}

// Jet DDL type names differ from the ones read back from a schema in a few places.
ColumnType JetDdlType(const std::string& name, long size) {
    std::string u = UpperUtf8(name);
    ColumnType ct;
    if (u == "REAL") ct = {dbSingle, 4, false};
    else if (u == "DATE" || u == "TIME" || u == "TIMESTAMP") ct = {dbDate, 8, false};
    else if (u == "TEXT" || u == "VARCHAR" || u == "CHAR" || u == "CHARACTER" || u == "STRING" || u == "NVARCHAR" ||
             u == "NCHAR" || u == "ALPHANUMERIC")
        ct = {dbText, size > 0 ? size : 255, false};
    else if (u == "NUMERIC") ct = {dbDecimal, 16, false};
    else ct = TypeFromDecl(u + (size > 0 ? "(" + std::to_string(size) + ")" : ""));
    if (ct.type == dbText && size > 0) ct.size = size;
    if (ct.type == dbText && ct.size > 255) Raise(3292);
    return ct;
}

ColumnDef Parser::ParseColumnDef() {
    ColumnDef cd;
    cd.name = Name();
    std::string typeName = Name();
    if (UpperUtf8(typeName) == "DOUBLE" && Peek().Is("PRECISION")) Next();
    long size = 0;
    if (AcceptOp("(")) {
        const Token& n = Next();
        if (n.kind != Token::Number) Raise(3292);
        size = std::strtol(n.text.c_str(), nullptr, 10);
        while (AcceptOp(",")) Next();  // scale, or seed and increment of a counter
        ExpectOp(")");
    }
    ColumnType ct = JetDdlType(typeName, size);
    cd.type = ct.type;
    cd.size = ct.size;
    cd.autoIncrement = ct.autoIncrement;
    for (;;) {
        if (Accept("NOT")) {
            Expect("NULL");
            cd.notNull = true;
        } else if (Accept("NULL")) {
        } else if (Accept("CONSTRAINT")) {
            cd.constraintName = Name();
        } else if (Accept("PRIMARY")) {
            Expect("KEY");
            cd.primary = true;
        } else if (Accept("UNIQUE")) {
            cd.unique = true;
        } else if (Accept("REFERENCES")) {
            Name();
            if (AcceptOp("(")) {
                do Name();
                while (AcceptOp(","));
                ExpectOp(")");
            }
        } else {
            break;
        }
    }
    return cd;
}

ConstraintDef Parser::ParseConstraintTail(const std::string& name) {
    ConstraintDef c;
    c.name = name;
    if (Accept("PRIMARY")) {
        Expect("KEY");
        c.primary = true;
    } else if (Accept("UNIQUE")) {
        c.unique = true;
    } else if (Accept("FOREIGN")) {
        Expect("KEY");
    } else {
        Raise(3290);
    }
    ExpectOp("(");
    do c.columns.push_back(Name());
    while (AcceptOp(","));
    ExpectOp(")");
    if (Accept("REFERENCES")) {
        Name();
        if (AcceptOp("(")) {
            do Name();
            while (AcceptOp(","));
            ExpectOp(")");
        }
    }
    return c;
}

Statement Parser::ParseCreate() {
    Statement st;
    Expect("CREATE");
    if (Accept("TABLE")) {
        st.kind = StmtKind::CreateTable;
        st.table = Name();
        if (!AcceptOp("(")) Raise(3290);
        do {
            if (Accept("CONSTRAINT")) {
                std::string cname = Name();
                st.constraints.push_back(ParseConstraintTail(cname));
            } else if (Peek().Is("PRIMARY") && Peek(1).Is("KEY") && Peek(2).IsOp("(")) {
                st.constraints.push_back(ParseConstraintTail("PrimaryKey"));
            } else {
                st.columns.push_back(ParseColumnDef());
            }
        } while (AcceptOp(","));
        if (!AcceptOp(")")) Raise(3290);
        AcceptOp(";");
        if (!AtEnd()) Raise(3290);
        return st;
    }
    bool unique = Accept("UNIQUE");
    if (Accept("INDEX")) {
        st.kind = StmtKind::CreateIndex;
        st.unique = unique;
        st.indexName = Name();
        Expect("ON");
        st.table = Name();
        ExpectOp("(");
        do {
            std::string c = Name();
            bool desc = false;
            if (Accept("DESC")) desc = true;
            else Accept("ASC");
            st.indexColumns.emplace_back(c, desc);
        } while (AcceptOp(","));
        ExpectOp(")");
        if (Accept("WITH")) {
            for (;;) {
                if (Accept("PRIMARY")) st.primary = true;
                else if (Accept("DISALLOW")) {
                    Expect("NULL");
                    st.disallowNull = true;
                } else if (Accept("IGNORE")) {
                    Expect("NULL");
                    st.ignoreNull = true;
                } else break;
            }
        }
        AcceptOp(";");
        if (!AtEnd()) Raise(3075, sql_);
        return st;
    }
    Raise(3290);
}

Statement Parser::ParseAlter() {
    Statement st;
    st.kind = StmtKind::AlterTable;
    Expect("ALTER");
    Expect("TABLE");
    st.table = Name();
    if (Accept("ADD")) {
        if (Accept("CONSTRAINT")) {
            st.alterOp = Statement::AddConstraint;
            std::string cname = Name();
            st.constraints.push_back(ParseConstraintTail(cname));
        } else {
            Accept("COLUMN");
            st.alterOp = Statement::AddColumn;
            st.columns.push_back(ParseColumnDef());
        }
    } else if (Accept("DROP")) {
        if (Accept("CONSTRAINT")) {
            st.alterOp = Statement::DropConstraint;
        } else {
            Accept("COLUMN");
            st.alterOp = Statement::DropColumn;
        }
        st.dropName = Name();
    } else {
        Raise(3293);
    }
    AcceptOp(";");
    if (!AtEnd()) Raise(3293);
    return st;
}

Statement Parser::ParseDrop() {
    Statement st;
    Expect("DROP");
    if (Accept("TABLE")) {
        st.kind = StmtKind::DropTable;
        st.table = Name();
    } else if (Accept("INDEX")) {
        st.kind = StmtKind::DropIndex;
        st.indexName = Name();
        Expect("ON");
        st.table = Name();
    } else {
        Raise(3129);
    }
    AcceptOp(";");
    if (!AtEnd()) Raise(3075, sql_);
    return st;
}

Statement Parser::ParseStatement() {
    end_ = t_.size() - 1;
    p_ = 0;
    const Token& first = Peek();
    if (first.Is("SELECT")) {
        Statement st;
        st.select = ParseSelect(end_);
        st.kind = st.select.into.empty() ? StmtKind::Select : StmtKind::SelectInto;
        st.sql = st.select.sql;
        st.table = st.select.into;
        return st;
    }
    if (first.IsOp("(")) Raise(3129);
    if (first.Is("INSERT")) return ParseInsert();
    if (first.Is("UPDATE")) return ParseUpdate();
    if (first.Is("DELETE")) return ParseDelete();
    if (first.Is("CREATE")) return ParseCreate();
    if (first.Is("ALTER")) return ParseAlter();
    if (first.Is("DROP")) return ParseDrop();
    Raise(3129);
}

std::string Parser::ParseCriteria() {
    end_ = t_.size() - 1;
    p_ = 0;
    if (AtEnd()) Raise(3077);
    Node n = ParseExpr(0);
    if (!AtEnd()) Raise(3077);
    return B(n);
}

}  // namespace

Statement TranslateStatement(std::string_view sql, SchemaResolver* resolver) {
    std::vector<Token> toks = Tokenize(sql);
    Parser p(toks, sql, resolver);
    Statement st = p.ParseStatement();
    if (st.kind == StmtKind::Select && p.collatedColumns) {
        Parser plain(toks, sql, resolver);
        plain.plainColumns = true;
        st.select.describeSql = plain.ParseStatement().select.sql;
    }
    return st;
}

std::string TranslateCriteria(std::string_view criteria, SchemaResolver* resolver, bool stripQualifiers) {
    try {
        std::vector<Token> toks = Tokenize(criteria);
        Parser p(toks, criteria, resolver);
        p.stripQualifiers = stripQualifiers;
        return p.ParseCriteria();
    } catch (const DaoError& e) {
        if (e.Number() == 3075) Raise(3077);
        throw;
    }
}

}  // namespace dao::detail
