#include "engine/drivers/standard/dbase/KeyExpression.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/FieldCodec.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace vemo::engine::dbase {

struct KeyExpression::Node {
    enum class Kind { Field, Literal, Func, Binary, Not };
    Kind kind = Kind::Literal;
    std::string op; // function name or operator
    int field = -1;
    KeyValue literal;
    std::vector<std::unique_ptr<Node>> args;
};

namespace {
using Node = KeyExpression::Node;
using Kind = KeyValue::Kind;

[[noreturn]] void unsupported(const std::string& text, const std::string& what) {
    throw EngineError(ErrNotSupported, "インデックス式 \"" + text + "\" は扱えません: " + what);
}

std::string upperAscii(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Case conversion that leaves the second byte of a double-byte character alone.
std::string changeCase(const std::string& s, int codepage, bool upper) {
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (codepage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))) {
            ++i;
            continue;
        }
        if (c < 0x80)
            out[i] = static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    }
    return out;
}

class Parser {
public:
    Parser(const std::string& text, const DbfHeader& h) : s_(text), h_(h) {}

    std::unique_ptr<Node> parse() {
        auto n = orExpr();
        skip();
        if (i_ < s_.size())
            unsupported(s_, "\"" + s_.substr(i_) + "\"");
        return n;
    }

private:
    void skip() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])))
            ++i_;
    }
    bool take(const char* tok) {
        skip();
        size_t n = std::strlen(tok);
        if (strncasecmp(s_.c_str() + i_, tok, n) == 0) {
            i_ += n;
            return true;
        }
        return false;
    }
    static std::unique_ptr<Node> binary(std::string op, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
        auto n = std::make_unique<Node>();
        n->kind = Node::Kind::Binary;
        n->op = std::move(op);
        n->args.push_back(std::move(a));
        n->args.push_back(std::move(b));
        return n;
    }
    std::unique_ptr<Node> orExpr() {
        auto n = andExpr();
        while (take(".OR."))
            n = binary("OR", std::move(n), andExpr());
        return n;
    }
    std::unique_ptr<Node> andExpr() {
        auto n = notExpr();
        while (take(".AND."))
            n = binary("AND", std::move(n), notExpr());
        return n;
    }
    std::unique_ptr<Node> notExpr() {
        if (take(".NOT.") || take("!")) {
            auto n = std::make_unique<Node>();
            n->kind = Node::Kind::Not;
            n->args.push_back(notExpr());
            return n;
        }
        return compare();
    }
    std::unique_ptr<Node> compare() {
        auto n = additive();
        for (const char* op : {"<>", "<=", ">=", "#", "=", "<", ">", "$"})
            if (take(op))
                return binary(std::strcmp(op, "#") == 0 ? "<>" : op, std::move(n), additive());
        return n;
    }
    std::unique_ptr<Node> additive() {
        auto n = multiplicative();
        while (true) {
            if (take("+"))
                n = binary("+", std::move(n), multiplicative());
            else if (take("-"))
                n = binary("-", std::move(n), multiplicative());
            else
                return n;
        }
    }
    std::unique_ptr<Node> multiplicative() {
        auto n = primary();
        while (true) {
            if (take("*"))
                n = binary("*", std::move(n), primary());
            else if (take("/"))
                n = binary("/", std::move(n), primary());
            else
                return n;
        }
    }
    std::unique_ptr<Node> primary() {
        skip();
        if (i_ >= s_.size())
            unsupported(s_, "式が途中で終わっています");
        auto n = std::make_unique<Node>();
        char c = s_[i_];
        if (c == '(') {
            ++i_;
            n = orExpr();
            if (!take(")"))
                unsupported(s_, "\")\" がありません");
            return n;
        }
        if (c == '\'' || c == '"' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t end = s_.find(close, i_ + 1);
            if (end == std::string::npos)
                unsupported(s_, "文字列が閉じていません");
            n->literal.kind = Kind::String;
            n->literal.text = s_.substr(i_ + 1, end - i_ - 1);
            i_ = end + 1;
            return n;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            if (take(".T.") || take(".F.")) {
                n->literal.kind = Kind::Bool;
                n->literal.flag = std::toupper(static_cast<unsigned char>(s_[i_ - 2])) == 'T';
                return n;
            }
            // Digits with an optional fraction; a point followed by a letter is the start of
            // an operator (100.AND. ...), not part of the number.
            size_t end = i_;
            while (end < s_.size() && std::isdigit(static_cast<unsigned char>(s_[end])))
                ++end;
            if (end < s_.size() && s_[end] == '.' && !(end + 1 < s_.size() && std::isalpha(static_cast<unsigned char>(s_[end + 1])))) {
                ++end;
                while (end < s_.size() && std::isdigit(static_cast<unsigned char>(s_[end])))
                    ++end;
            }
            if (end < s_.size() && (s_[end] == 'E' || s_[end] == 'e')) {
                size_t e = end + 1;
                if (e < s_.size() && (s_[e] == '+' || s_[e] == '-'))
                    ++e;
                if (e < s_.size() && std::isdigit(static_cast<unsigned char>(s_[e]))) {
                    while (e < s_.size() && std::isdigit(static_cast<unsigned char>(s_[e])))
                        ++e;
                    end = e;
                }
            }
            if (end == i_ || (end == i_ + 1 && s_[i_] == '.'))
                unsupported(s_, "\"" + s_.substr(i_) + "\"");
            n->literal.kind = Kind::Number;
            n->literal.number = std::strtod(s_.substr(i_, end - i_).c_str(), nullptr);
            i_ = end;
            return n;
        }
        if (c == '-') {
            ++i_;
            auto zero = std::make_unique<Node>();
            zero->literal.kind = Kind::Number;
            return binary("-", std::move(zero), primary());
        }
        size_t start = i_;
        while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_'))
            ++i_;
        if (start == i_)
            unsupported(s_, "\"" + s_.substr(i_) + "\"");
        std::string name = upperAscii(s_.substr(start, i_ - start));
        if (take("->")) { // alias->FIELD: only this table's fields exist here
            start = i_;
            skip();
            start = i_;
            while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_'))
                ++i_;
            name = upperAscii(s_.substr(start, i_ - start));
        }
        if (take("(")) {
            n->kind = Node::Kind::Func;
            n->op = name;
            if (!take(")")) {
                do
                    n->args.push_back(orExpr());
                while (take(","));
                if (!take(")"))
                    unsupported(s_, "\")\" がありません");
            }
            static const char* known[] = {"UPPER", "LOWER", "DTOS", "DTOC", "STR", "SUBSTR", "LEFT", "RIGHT",
                                          "TRIM", "RTRIM", "LTRIM", "ALLTRIM", "VAL", "IIF", "DELETED",
                                          "RECNO", "YEAR", "MONTH", "DAY", "ABS", "INT"};
            bool ok = false;
            for (const char* k : known)
                ok = ok || name == k;
            if (!ok)
                unsupported(s_, "関数 " + name);
            return n;
        }
        for (size_t f = 0; f < h_.fields.size(); ++f) {
            if (strcasecmp(h_.fields[f].name.c_str(), name.c_str()) == 0) {
                const char t = h_.fields[f].type;
                if (!std::strchr("CNFDLI+O", t))
                    unsupported(s_, "フィールド " + name + " の型");
                n->kind = Node::Kind::Field;
                n->field = static_cast<int>(f);
                return n;
            }
        }
        unsupported(s_, "フィールド " + name + " がありません");
    }

    const std::string& s_;
    const DbfHeader& h_;
    size_t i_ = 0;
};

KeyValue str(std::string s) {
    KeyValue v;
    v.kind = Kind::String;
    v.text = std::move(s);
    return v;
}
KeyValue num(double d) {
    KeyValue v;
    v.kind = Kind::Number;
    v.number = d;
    return v;
}
KeyValue boolean(bool b) {
    KeyValue v;
    v.kind = Kind::Bool;
    v.flag = b;
    return v;
}

// A date's day number within 0001-01-01 .. 9999-12-31, whatever arithmetic made it.
int64_t dayOf(double n) { return static_cast<int64_t>(std::clamp(n, 0.0, 3652058.0)); }

std::string dtos(const KeyValue& v) {
    if (v.kind != Kind::Date || !(v.number >= 0))
        return std::string(8, ' ');
    Date d = dateFromDayNumber(dayOf(v.number));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
    return buf;
}

std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}
std::string ltrim(std::string s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    return s.substr(i);
}

} // namespace

int compareKeys(const KeyValue& a, const KeyValue& b) {
    if (a.kind == Kind::String) {
        const size_t n = std::max(a.text.size(), b.text.size());
        for (size_t i = 0; i < n; ++i) {
            auto ca = static_cast<unsigned char>(i < a.text.size() ? a.text[i] : ' ');
            auto cb = static_cast<unsigned char>(i < b.text.size() ? b.text[i] : ' ');
            if (ca != cb)
                return ca < cb ? -1 : 1;
        }
        return 0;
    }
    if (a.kind == Kind::Bool)
        return int(a.flag) - int(b.flag);
    return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
}

namespace {

KeyValue eval(const Node& n, const DbfHeader& h, const uint8_t* rec, uint32_t recno) {
    switch (n.kind) {
    case Node::Kind::Literal:
        return n.literal;
    case Node::Kind::Field: {
        const DbfField& f = h.fields[static_cast<size_t>(n.field)];
        const uint8_t* p = rec + f.offset;
        switch (f.type) {
        case 'C':
            return str(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(f.length)));
        case 'D': {
            KeyValue v;
            v.kind = Kind::Date;
            v.number = -1;
            // Eight digits YYYYMMDD, read in place: the record is not a terminated string.
            const auto digits = [&](int from, int count) {
                int x = 0;
                for (int k = from; k < from + count; ++k) {
                    if (p[k] < '0' || p[k] > '9')
                        return -1;
                    x = x * 10 + (p[k] - '0');
                }
                return x;
            };
            const bool eight = f.length == 8;
            const int y = eight ? digits(0, 4) : -1, m = eight ? digits(4, 2) : -1, d = eight ? digits(6, 2) : -1;
            if (y >= 0 && m >= 0 && d >= 0 && validDate(y, m, d))
                v.number = static_cast<double>(dayNumber(y, m, d));
            return v;
        }
        case 'L':
            return boolean(p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y');
        default: {
            RecordContext ctx{&h, nullptr, nullptr};
            Value v = decodeField(f, rec, ctx);
            if (auto* i = std::get_if<int64_t>(&v))
                return num(static_cast<double>(*i));
            if (auto* d = std::get_if<double>(&v))
                return num(*d);
            return num(0);
        }
        }
    }
    case Node::Kind::Not:
        return boolean(!eval(*n.args[0], h, rec, recno).flag);
    case Node::Kind::Binary: {
        KeyValue a = eval(*n.args[0], h, rec, recno);
        KeyValue b = eval(*n.args[1], h, rec, recno);
        const std::string& op = n.op;
        if (op == "AND")
            return boolean(a.flag && b.flag);
        if (op == "OR")
            return boolean(a.flag || b.flag);
        if (op == "$")
            return boolean(b.text.find(rtrim(a.text)) != std::string::npos);
        if (op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=") {
            int c;
            if ((a.kind == Kind::String) != (b.kind == Kind::String))
                c = a.kind == Kind::String ? 1 : -1; // a string is never equal to a number or a date
            else if (a.kind == Kind::String && (op == "=" || op == "<>"))
                // As far as the right side goes: "ABC" = "AB" holds, "AB" = "ABC" does not.
                c = compareKeys(str(a.text.substr(0, std::min(a.text.size(), b.text.size()))), b);
            else
                c = compareKeys(a, b);
            if (op == "=") return boolean(c == 0);
            if (op == "<>") return boolean(c != 0);
            if (op == "<") return boolean(c < 0);
            if (op == ">") return boolean(c > 0);
            if (op == "<=") return boolean(c <= 0);
            return boolean(c >= 0);
        }
        if (a.kind == Kind::String && op == "+")
            return str(a.text + b.text);
        if (a.kind == Kind::String && op == "-") // trailing blanks of a move to the end
            return str(rtrim(a.text) + b.text + std::string(a.text.size() - rtrim(a.text).size(), ' '));
        KeyValue r = num(0);
        if (a.kind == Kind::Date && (op == "+" || op == "-") && b.kind == Kind::Number) {
            r = a;
            if (a.number >= 0)
                r.number = op == "+" ? a.number + b.number : a.number - b.number;
            return r;
        }
        if (op == "+") r.number = a.number + b.number;
        else if (op == "-") r.number = a.number - b.number;
        else if (op == "*") r.number = a.number * b.number;
        else r.number = b.number == 0 ? 0 : a.number / b.number;
        return r;
    }
    case Node::Kind::Func: {
        std::vector<KeyValue> a;
        for (const auto& arg : n.args)
            a.push_back(eval(*arg, h, rec, recno));
        auto arg = [&](size_t i) -> const KeyValue& {
            static const KeyValue none;
            return i < a.size() ? a[i] : none;
        };
        // A number argument (a length, a position) as an int: NaN counts as 0 and anything
        // beyond what a key could use is held at a bound, never cast out of range.
        auto intArg = [&](size_t i, int def) {
            if (i >= a.size())
                return def;
            const double v = a[i].number;
            if (!(v == v))
                return 0;
            return static_cast<int>(std::clamp(v, -1e6, 1e6));
        };
        const std::string& f = n.op;
        if (f == "UPPER" || f == "LOWER")
            return str(changeCase(arg(0).text, h.codepage, f == "UPPER"));
        if (f == "DTOS")
            return str(dtos(arg(0)));
        if (f == "DTOC") {
            std::string s = dtos(arg(0));
            return str(s[0] == ' ' ? std::string(8, ' ') : s.substr(4, 2) + "/" + s.substr(6, 2) + "/" + s.substr(2, 2));
        }
        if (f == "STR") {
            int len = intArg(1, 10), dec = intArg(2, 0);
            len = std::clamp(len, 1, 64);
            char buf[128];
            std::snprintf(buf, sizeof buf, "%*.*f", len, std::clamp(dec, 0, 20), arg(0).number);
            std::string s = buf;
            return str(s.size() > static_cast<size_t>(len) ? std::string(static_cast<size_t>(len), '*') : s);
        }
        if (f == "SUBSTR") {
            const std::string& s = arg(0).text;
            size_t start = static_cast<size_t>(std::max(1, intArg(1, 1)) - 1);
            if (start >= s.size())
                return str("");
            return str(a.size() > 2 ? s.substr(start, static_cast<size_t>(std::max(0, intArg(2, 0)))) : s.substr(start));
        }
        if (f == "LEFT")
            return str(arg(0).text.substr(0, static_cast<size_t>(std::max(0, intArg(1, 0)))));
        if (f == "RIGHT") {
            const std::string& s = arg(0).text;
            size_t k = std::min(s.size(), static_cast<size_t>(std::max(0, intArg(1, 0))));
            return str(s.substr(s.size() - k));
        }
        if (f == "TRIM" || f == "RTRIM")
            return str(rtrim(arg(0).text));
        if (f == "LTRIM")
            return str(ltrim(arg(0).text));
        if (f == "ALLTRIM")
            return str(ltrim(rtrim(arg(0).text)));
        if (f == "VAL")
            return num(std::strtod(arg(0).text.c_str(), nullptr));
        if (f == "IIF")
            return arg(0).flag ? arg(1) : arg(2);
        if (f == "DELETED")
            return boolean(rec[0] == '*');
        if (f == "RECNO")
            return num(recno + 1.0);
        if (f == "YEAR" || f == "MONTH" || f == "DAY") {
            if (arg(0).kind != Kind::Date || !(arg(0).number >= 0))
                return num(0);
            Date d = dateFromDayNumber(dayOf(arg(0).number));
            return num(f == "YEAR" ? d.year : f == "MONTH" ? d.month : d.day);
        }
        if (f == "ABS")
            return num(std::fabs(arg(0).number));
        return num(std::trunc(arg(0).number)); // INT
    }
    }
    return {};
}

void collectPlain(const Node& n, const DbfHeader& h, std::vector<std::string>& out, bool& plain) {
    if (n.kind == Node::Kind::Field)
        out.push_back(h.fields[static_cast<size_t>(n.field)].name);
    else if (n.kind == Node::Kind::Binary && n.op == "+") {
        collectPlain(*n.args[0], h, out, plain);
        collectPlain(*n.args[1], h, out, plain);
    } else
        plain = false;
}

} // namespace

KeyExpression::KeyExpression(const std::string& text, const DbfHeader& header) : text_(text), header_(&header) {
    root_ = Parser(text_, header).parse();
    bool plain = true;
    collectPlain(*root_, header, plainFields_, plain);
    if (!plain)
        plainFields_.clear();
}

KeyExpression::~KeyExpression() = default;
KeyExpression::KeyExpression(KeyExpression&&) noexcept = default;
KeyExpression& KeyExpression::operator=(KeyExpression&&) noexcept = default;

KeyValue KeyExpression::evaluate(const uint8_t* record, uint32_t recno) const {
    return eval(*root_, *header_, record, recno);
}

KeyValue::Kind KeyExpression::resultKind() const {
    std::vector<uint8_t> blank(header_->recordLength, ' ');
    return evaluate(blank.data(), 0).kind;
}

int KeyExpression::resultWidth() const {
    std::vector<uint8_t> blank(header_->recordLength, ' ');
    return static_cast<int>(evaluate(blank.data(), 0).text.size());
}

} // namespace vemo::engine::dbase
