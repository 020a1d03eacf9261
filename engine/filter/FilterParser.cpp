#include "engine/filter/FilterParser.h"
#include "engine/values/DateText.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/FilterLexer.h"
#include "engine/values/NameCompare.h"

#include <charconv>
#include <cmath>

namespace vemo::engine {

namespace {

// Static type of an expression, checked while parsing so that evaluation never meets a
// comparison it cannot decide.
enum class Kind { Logic, Number, Text, Bool, Date, Time, DateTime, Null, TextLiteral };

constexpr int kMaxDepth = 200;

struct Parsed {
    std::unique_ptr<FilterNode> node;
    Kind kind = Kind::Null;
    int depth = 1;
};

Kind fieldKind(FieldType t) {
    switch (t) {
    case FieldType::String: case FieldType::FixedChar: case FieldType::WideString:
    case FieldType::Memo: case FieldType::FmtMemo:
        return Kind::Text;
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word: case FieldType::Float:
    case FieldType::Currency: case FieldType::BCD: case FieldType::AutoInc: case FieldType::LargeInt:
        return Kind::Number;
    case FieldType::Boolean: return Kind::Bool;
    case FieldType::Date: return Kind::Date;
    case FieldType::Time: return Kind::Time;
    case FieldType::DateTime: return Kind::DateTime;
    default: return Kind::Null; // binary: refused by the caller
    }
}

const char* kindName(Kind k) {
    switch (k) {
    case Kind::Number: return "数値";
    case Kind::Text: case Kind::TextLiteral: return "文字列";
    case Kind::Bool: return "論理値";
    case Kind::Date: return "日付";
    case Kind::Time: return "時刻";
    case Kind::DateTime: return "日付時刻";
    case Kind::Logic: return "条件";
    case Kind::Null: return "NULL";
    }
    return "";
}

bool isTextish(Kind k) { return k == Kind::Text || k == Kind::TextLiteral; }
bool isDateish(Kind k) { return k == Kind::Date || k == Kind::DateTime; }

std::unique_ptr<FilterNode> makeNode(FilterNode::Kind kind, size_t position, std::string op = {}) {
    auto n = std::make_unique<FilterNode>();
    n->kind = kind;
    n->position = position;
    n->op = std::move(op);
    return n;
}

// Counts the parser's own recursion so that "((((..." cannot exhaust the stack.
class Nest {
public:
    Nest(int& level, const std::string& text, size_t position) : level_(level) {
        if (++level_ > kMaxDepth)
            filterError(text, position, "式の入れ子が深すぎます。");
    }
    ~Nest() { --level_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

private:
    int& level_;
};

class Parser {
public:
    Parser(const std::string& text, const std::vector<FieldDef>& fields, const FilterOptions& options)
        : text_(text), fields_(fields), options_(options), tokens_(lexFilter(text)) {}

    std::unique_ptr<FilterNode> run() {
        if (peek().kind == FilterToken::Kind::End)
            filterError(text_, 0, "式がありません。");
        Parsed p = orExpr();
        if (peek().kind != FilterToken::Kind::End)
            filterError(text_, peek().position, "'" + peek().text + "' は余分です。");
        requireLogic(p, 0);
        return std::move(p.node);
    }

private:
    const FilterToken& peek() const { return tokens_[pos_]; }
    const FilterToken& take() { return tokens_[pos_ == tokens_.size() - 1 ? pos_ : pos_++]; }
    bool isKeyword(const FilterToken& t, const char* word) const {
        return t.kind == FilterToken::Kind::Name && sameName(t.text, word);
    }
    bool isOp(const FilterToken& t, const char* op) const { return t.kind == FilterToken::Kind::Op && t.text == op; }

    void checkDepth(int depth, size_t position) const {
        if (depth > kMaxDepth)
            filterError(text_, position, "式の入れ子が深すぎます。");
    }
    void requireLogic(const Parsed& p, size_t position) const {
        if (p.kind != Kind::Logic)
            filterError(text_, p.node ? p.node->position : position, "比較などの条件が必要です。");
    }

    // OR / AND chains become one node with every operand, so long chains stay shallow.
    Parsed logicChain(FilterNode::Kind kind, const char* word, Parsed (Parser::*operand)()) {
        Parsed first = (this->*operand)();
        if (!isKeyword(peek(), word))
            return first;
        requireLogic(first, 0);
        Parsed chain{makeNode(kind, first.node->position, word), Kind::Logic, first.depth + 1};
        chain.node->children.push_back(std::move(first.node));
        while (isKeyword(peek(), word)) {
            take();
            Parsed next = (this->*operand)();
            requireLogic(next, peek().position);
            chain.depth = std::max(chain.depth, next.depth + 1);
            chain.node->children.push_back(std::move(next.node));
        }
        checkDepth(chain.depth, chain.node->position);
        return chain;
    }

    Parsed orExpr() { return logicChain(FilterNode::Kind::Or, "OR", &Parser::andExpr); }
    Parsed andExpr() { return logicChain(FilterNode::Kind::And, "AND", &Parser::notExpr); }

    Parsed notExpr() {
        if (!isKeyword(peek(), "NOT"))
            return compare();
        const size_t at = take().position;
        Nest nest(nesting_, text_, at);
        Parsed inner = notExpr();
        requireLogic(inner, at);
        Parsed p{makeNode(FilterNode::Kind::Not, at), Kind::Logic, inner.depth + 1};
        checkDepth(p.depth, at);
        p.node->children.push_back(std::move(inner.node));
        return p;
    }

    Parsed compare() {
        Parsed left = addExpr();
        if (isKeyword(peek(), "IS")) {
            const size_t at = take().position;
            bool negated = false;
            if (isKeyword(peek(), "NOT")) {
                take();
                negated = true;
            }
            if (!isKeyword(peek(), "NULL") && !isKeyword(peek(), "BLANK"))
                filterError(text_, peek().position, "IS の後には NULL が必要です。");
            take();
            return nullTest(std::move(left), negated, at);
        }
        const FilterToken& t = peek();
        static const char* const kRelops[] = {"=", "<>", "<", "<=", ">", ">="};
        bool relop = false;
        for (const char* op : kRelops)
            relop = relop || isOp(t, op);
        if (!relop)
            return left;
        const std::string op = t.text;
        const size_t at = take().position;
        Parsed right = addExpr();
        return comparison(std::move(left), op, std::move(right), at);
    }

    Parsed nullTest(Parsed operand, bool negated, size_t at) {
        if (operand.kind == Kind::Logic)
            filterError(text_, at, "NULL と比べられるのは値だけです。");
        Parsed p{makeNode(negated ? FilterNode::Kind::IsNotNull : FilterNode::Kind::IsNull, at), Kind::Logic,
                 operand.depth + 1};
        checkDepth(p.depth, at);
        p.node->children.push_back(std::move(operand.node));
        return p;
    }

    Parsed comparison(Parsed left, const std::string& op, Parsed right, size_t at) {
        if (left.kind == Kind::Logic || right.kind == Kind::Logic)
            filterError(text_, at, "条件どうしは比較できません。AND / OR を使ってください。");
        if (left.kind == Kind::Null || right.kind == Kind::Null) {
            if (left.kind == Kind::Null && right.kind == Kind::Null)
                filterError(text_, at, "NULL どうしは比較できません。");
            if (op != "=" && op != "<>")
                filterError(text_, at, "NULL と比べられるのは = と <> だけです。");
            return nullTest(std::move(left.kind == Kind::Null ? right : left), op == "<>", at);
        }
        bool partial = false;
        if (!options_.noPartialCompare && (op == "=" || op == "<>")) {
            partial = markPartial(left, right) || markPartial(right, left);
        }
        if (!partial) {
            adapt(left, right.kind);
            adapt(right, left.kind);
        }
        const bool compatible = left.kind == right.kind || (isTextish(left.kind) && isTextish(right.kind)) ||
                                (isDateish(left.kind) && isDateish(right.kind));
        if (!compatible)
            filterError(text_, at, std::string(kindName(left.kind)) + "と" + kindName(right.kind) + "は比較できません。");
        Parsed p{makeNode(FilterNode::Kind::Compare, at, op), Kind::Logic, std::max(left.depth, right.depth) + 1};
        checkDepth(p.depth, at);
        p.node->partial = partial;
        p.node->children.push_back(std::move(left.node));
        p.node->children.push_back(std::move(right.node));
        return p;
    }

    // A string literal ending in "*" against text: the literal keeps the text before the "*".
    bool markPartial(Parsed& literal, const Parsed& other) {
        if (literal.kind != Kind::TextLiteral || !isTextish(other.kind))
            return false;
        auto& text = std::get<std::string>(literal.node->literal);
        if (text.empty() || text.back() != '*')
            return false;
        text.pop_back();
        literal.node->partial = true;
        return true;
    }

    // Converts a string literal to the type it meets.
    void adapt(Parsed& p, Kind target) {
        if (p.kind != Kind::TextLiteral || target == Kind::Text || target == Kind::TextLiteral || target == Kind::Null ||
            target == Kind::Logic)
            return;
        const std::string text = std::get<std::string>(p.node->literal);
        Value converted;
        switch (target) {
        case Kind::Number: {
            std::string_view s = text;
            while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
            while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
            if (!s.empty() && s.front() == '+') s.remove_prefix(1);
            int64_t i = 0;
            auto ri = std::from_chars(s.data(), s.data() + s.size(), i);
            double d = 0;
            auto rd = std::from_chars(s.data(), s.data() + s.size(), d);
            if (!s.empty() && ri.ec == std::errc() && ri.ptr == s.data() + s.size())
                converted = i;
            else if (!s.empty() && rd.ec == std::errc() && rd.ptr == s.data() + s.size() && std::isfinite(d))
                converted = d;
            break;
        }
        case Kind::Date:
            if (auto d = parseDateText(text)) converted = *d;
            break;
        case Kind::DateTime:
            if (auto d = parseDateTimeText(text)) converted = *d;
            break;
        case Kind::Time:
            if (auto t = parseTimeText(text)) converted = *t;
            break;
        case Kind::Bool: {
            if (sameName(text, "T") || sameName(text, "TRUE") || sameName(text, "Y") || sameName(text, "YES")) converted = true;
            else if (sameName(text, "F") || sameName(text, "FALSE") || sameName(text, "N") || sameName(text, "NO")) converted = false;
            break;
        }
        default:
            break;
        }
        if (isNull(converted))
            filterError(text_, p.node->position, "'" + text + "' は" + kindName(target) + "に変換できません。");
        p.node->literal = std::move(converted);
        p.kind = target;
    }

    Parsed addExpr() { return arithChain(&Parser::mulExpr, "+", "-"); }
    Parsed mulExpr() { return arithChain(&Parser::unary, "*", "/"); }

    Parsed arithChain(Parsed (Parser::*operand)(), const char* op1, const char* op2) {
        Parsed left = (this->*operand)();
        while (isOp(peek(), op1) || isOp(peek(), op2)) {
            const std::string op = peek().text;
            const size_t at = take().position;
            Parsed right = (this->*operand)();
            left = arith(std::move(left), op, std::move(right), at);
        }
        return left;
    }

    Parsed arith(Parsed left, const std::string& op, Parsed right, size_t at) {
        if (left.kind == Kind::Logic || right.kind == Kind::Logic || left.kind == Kind::Null || right.kind == Kind::Null)
            filterError(text_, at, "演算 " + op + " の値が正しくありません。");
        if (left.kind == Kind::TextLiteral && !isTextish(right.kind))
            adapt(left, isDateish(right.kind) ? right.kind : Kind::Number);
        if (right.kind == Kind::TextLiteral && !isTextish(left.kind))
            adapt(right, isDateish(left.kind) && looksLikeDate(right) ? left.kind : Kind::Number);
        Kind result = Kind::Null;
        const Kind l = left.kind, r = right.kind;
        if (l == Kind::Number && r == Kind::Number) result = Kind::Number;
        else if (isTextish(l) && isTextish(r) && op == "+") result = Kind::Text;
        else if (isDateish(l) && r == Kind::Number && (op == "+" || op == "-")) result = l;
        else if (l == Kind::Number && isDateish(r) && op == "+") result = r;
        else if (isDateish(l) && isDateish(r) && op == "-") result = Kind::Number;
        if (result == Kind::Null)
            filterError(text_, at, std::string(kindName(l)) + " " + op + " " + kindName(r) + " は計算できません。");
        Parsed p{makeNode(FilterNode::Kind::Arith, at, op), result, std::max(left.depth, right.depth) + 1};
        checkDepth(p.depth, at);
        p.node->children.push_back(std::move(left.node));
        p.node->children.push_back(std::move(right.node));
        return p;
    }

    static bool looksLikeDate(const Parsed& p) {
        const auto& text = std::get<std::string>(p.node->literal);
        return text.find_first_of("/-.") != std::string::npos && text.find('/') != std::string::npos;
    }

    Parsed unary() {
        if (!isOp(peek(), "-")) {
            if (isOp(peek(), "+")) {
                Nest nest(nesting_, text_, take().position);
                return unary();
            }
            return primary();
        }
        const size_t at = take().position;
        Nest nest(nesting_, text_, at);
        Parsed inner = unary();
        adapt(inner, Kind::Number);
        if (inner.kind != Kind::Number)
            filterError(text_, at, "- を付けられるのは数値だけです。");
        Parsed p{makeNode(FilterNode::Kind::Negate, at), Kind::Number, inner.depth + 1};
        checkDepth(p.depth, at);
        p.node->children.push_back(std::move(inner.node));
        return p;
    }

    Parsed primary() {
        const FilterToken t = take();
        switch (t.kind) {
        case FilterToken::Kind::End:
            filterError(text_, t.position, "値またはフィールド名が必要です。");
        case FilterToken::Kind::LParen: {
            Nest nest(nesting_, text_, t.position);
            Parsed inner = orExpr();
            if (peek().kind != FilterToken::Kind::RParen)
                filterError(text_, peek().position, "')' が必要です。");
            take();
            ++inner.depth;
            checkDepth(inner.depth, t.position);
            return inner;
        }
        case FilterToken::Kind::RParen:
        case FilterToken::Kind::Op:
            filterError(text_, t.position, "'" + t.text + "' の前に値またはフィールド名が必要です。");
        case FilterToken::Kind::String: {
            Parsed p{makeNode(FilterNode::Kind::Literal, t.position), Kind::TextLiteral, 1};
            p.node->literal = t.text;
            return p;
        }
        case FilterToken::Kind::Number:
            return number(t);
        case FilterToken::Kind::Name:
            if (sameName(t.text, "NULL") || sameName(t.text, "BLANK"))
                return Parsed{makeNode(FilterNode::Kind::Null, t.position), Kind::Null, 1};
            if (sameName(t.text, "TRUE") || sameName(t.text, "FALSE")) {
                Parsed p{makeNode(FilterNode::Kind::Literal, t.position), Kind::Bool, 1};
                p.node->literal = sameName(t.text, "TRUE");
                return p;
            }
            for (const char* word : {"AND", "OR", "NOT", "IS"})
                if (sameName(t.text, word))
                    filterError(text_, t.position, "'" + t.text + "' の前に値またはフィールド名が必要です。");
            [[fallthrough]];
        case FilterToken::Kind::QuotedName:
            return field(t);
        }
        filterError(text_, t.position, "式が正しくありません。");
    }

    Parsed number(const FilterToken& t) {
        Parsed p{makeNode(FilterNode::Kind::Literal, t.position), Kind::Number, 1};
        const char* b = t.text.data();
        const char* e = b + t.text.size();
        int64_t i = 0;
        auto ri = std::from_chars(b, e, i);
        if (ri.ec == std::errc() && ri.ptr == e) {
            p.node->literal = i;
            return p;
        }
        double d = 0;
        auto rd = std::from_chars(b, e, d);
        if (rd.ec != std::errc() || rd.ptr != e || !std::isfinite(d))
            filterError(text_, t.position, "数値 " + t.text + " が正しくありません。");
        p.node->literal = d;
        return p;
    }

    Parsed field(const FilterToken& t) {
        const int index = findField(fields_, t.text);
        if (index < 0)
            filterError(text_, t.position, "フィールド '" + t.text + "' がありません。");
        const Kind kind = fieldKind(fields_[index].type);
        if (kind == Kind::Null)
            filterError(text_, t.position, "フィールド '" + t.text + "' はバイナリ型なので条件に使えません。");
        Parsed p{makeNode(FilterNode::Kind::Field, t.position), kind, 1};
        p.node->field = index;
        return p;
    }

    const std::string& text_;
    const std::vector<FieldDef>& fields_;
    const FilterOptions& options_;
    std::vector<FilterToken> tokens_;
    size_t pos_ = 0;
    int nesting_ = 0;
};


} // namespace

int findField(const std::vector<FieldDef>& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (sameName(fields[i].name, name))
            return static_cast<int>(i);
    return -1;
}

std::unique_ptr<FilterNode> parseFilter(const std::string& text, const std::vector<FieldDef>& fields,
                                        const FilterOptions& options) {
    return Parser(text, fields, options).run();
}

} // namespace vemo::engine
