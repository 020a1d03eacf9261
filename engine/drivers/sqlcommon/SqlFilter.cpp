#include "engine/drivers/sqlcommon/SqlFilter.h"

#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <strings.h>

namespace vemo::engine::sql {

SqlFragment& SqlFragment::operator<<(const SqlFragment& f) {
    text.back() += f.text.front();
    for (size_t i = 0; i < f.params.size(); ++i) {
        params.push_back(f.params[i]);
        text.push_back(f.text[i + 1]);
    }
    return *this;
}

void SqlFragment::emit(SqlBuilder& b) const {
    b << text.front();
    for (size_t i = 0; i < params.size(); ++i)
        b.bind(params[i]) << text[i + 1];
}

namespace {

using Kind = FilterNode::Kind;

bool isText(FieldType t) {
    return t == FieldType::String || t == FieldType::FixedChar || t == FieldType::WideString ||
           t == FieldType::Memo || t == FieldType::FmtMemo;
}
bool isNumeric(FieldType t) {
    switch (t) {
    case FieldType::Smallint: case FieldType::Integer: case FieldType::Word: case FieldType::LargeInt:
    case FieldType::AutoInc: case FieldType::Float: case FieldType::Currency: case FieldType::BCD:
        return true;
    default:
        return false;
    }
}

std::string flip(const std::string& op) {
    if (op == "<") return ">";
    if (op == ">") return "<";
    if (op == "<=") return ">=";
    if (op == ">=") return "<=";
    return op;
}

size_t utf8Length(const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string rtrimBlanks(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

class Translator {
public:
    Translator(const std::vector<FieldDef>& f, const FilterOptions& o, const std::vector<std::string>& c)
        : fields_(f), options_(o), columns_(c) {}

    std::optional<SqlFragment> node(const FilterNode& n) {
        switch (n.kind) {
        case Kind::Or: case Kind::And: {
            SqlFragment out;
            out << "(";
            for (size_t i = 0; i < n.children.size(); ++i) {
                auto c = node(*n.children[i]);
                if (!c)
                    return std::nullopt;
                if (i)
                    out << (n.kind == Kind::Or ? " OR " : " AND ");
                out << *c;
            }
            out << ")";
            return out;
        }
        case Kind::Not: {
            if (n.children.size() != 1)
                return std::nullopt;
            auto c = node(*n.children[0]);
            if (!c)
                return std::nullopt;
            SqlFragment out;
            out << "(NOT " << *c << ")";
            return out;
        }
        case Kind::IsNull: case Kind::IsNotNull: {
            if (n.children.size() != 1 || n.children[0]->kind != Kind::Field || !validField(n.children[0]->field))
                return std::nullopt;
            const int f = n.children[0]->field;
            const std::string& col = columns_[f];
            std::string blank = isText(fields_[f].type) ? "(" + col + " IS NULL OR rtrim(" + col + ") = '')" : "(" + col + " IS NULL)";
            SqlFragment out;
            out << (n.kind == Kind::IsNull ? blank : "(NOT " + blank + ")");
            return out;
        }
        case Kind::Compare:
            return compare(n);
        default:
            return std::nullopt;
        }
    }

private:
    bool validField(int i) const { return i >= 0 && static_cast<size_t>(i) < fields_.size() && static_cast<size_t>(i) < columns_.size(); }

    // A literal, or a negated numeric literal ("Amount > -5").
    static std::optional<Value> literalOf(const FilterNode& n) {
        if (n.kind == Kind::Literal)
            return n.literal;
        if (n.kind == Kind::Negate && n.children.size() == 1 && n.children[0]->kind == Kind::Literal) {
            const Value& v = n.children[0]->literal;
            if (const auto* i = std::get_if<int64_t>(&v); i && *i != INT64_MIN)
                return Value(-*i);
            if (const auto* d = std::get_if<double>(&v))
                return Value(-*d);
        }
        return std::nullopt;
    }

    std::optional<SqlFragment> compare(const FilterNode& n) {
        if (n.children.size() != 2)
            return std::nullopt;
        const FilterNode* a = n.children[0].get();
        const FilterNode* b = n.children[1].get();
        std::string op = n.op;
        if (op != "=" && op != "<>" && op != "<" && op != "<=" && op != ">" && op != ">=")
            return std::nullopt;
        if (a->kind != Kind::Field) {
            std::swap(a, b);
            op = flip(op);
        }
        if (a->kind != Kind::Field || !validField(a->field))
            return std::nullopt;
        if (b->kind == Kind::Field)
            return fieldToField(a->field, op, b->field);
        auto lit = literalOf(*b);
        if (!lit || isNull(*lit))
            return std::nullopt;
        return fieldToLiteral(fields_[a->field], columns_[a->field], op, *lit, n.partial);
    }

    std::optional<SqlFragment> fieldToField(int x, const std::string& op, int y) {
        if (!validField(y))
            return std::nullopt;
        FieldType tx = fields_[x].type, ty = fields_[y].type;
        std::string cx = columns_[x], cy = columns_[y];
        if (isText(tx) && isText(ty)) {
            if (options_.caseInsensitive)
                return std::nullopt;
            cx = "rtrim(" + cx + ")";
            cy = "rtrim(" + cy + ")";
        } else if (!(isNumeric(tx) && isNumeric(ty)) && tx != ty) {
            return std::nullopt;
        } else if (!isNumeric(tx) && tx != FieldType::Date && tx != FieldType::Time && tx != FieldType::DateTime &&
                   tx != FieldType::Boolean) {
            return std::nullopt;
        }
        SqlFragment out;
        out << "(" << cx << " " << op << " " << cy << ")";
        return out;
    }

    std::optional<SqlFragment> fieldToLiteral(const FieldDef& f, const std::string& col, const std::string& op,
                                              const Value& v, bool partial) {
        SqlFragment out;
        if (isText(f.type)) {
            const auto* s = std::get_if<std::string>(&v);
            if (!s || options_.caseInsensitive)
                return std::nullopt;
            if (partial) {
                // A blank value is unknown, matching neither = nor <>.
                out << "(substr(NULLIF(rtrim(" << col << "), ''), 1, ";
                out.bind(static_cast<int64_t>(utf8Length(*s)));
                out << ") " << op << " ";
                out.bind(*s) << ")";
                return out;
            }
            out << "(rtrim(" << col << ") " << op << " ";
            out.bind(rtrimBlanks(*s)) << ")";
            return out;
        }
        std::string cast;
        Value bound;
        if (isNumeric(f.type)) {
            if (const auto* i = std::get_if<int64_t>(&v)) {
                bound = *i;
                cast = "BIGINT";
            } else if (const auto* d = std::get_if<double>(&v); d && std::isfinite(*d)) {
                bound = *d;
                cast = "DOUBLE PRECISION";
            } else {
                return std::nullopt;
            }
        } else if (f.type == FieldType::Boolean && std::holds_alternative<bool>(v)) {
            bound = v;
        } else if (f.type == FieldType::Date) {
            // Dates are stored as "yyyy-mm-dd": a literal with a time of day has no text form to compare.
            if (const auto* d = std::get_if<Date>(&v))
                bound = isoDate(*d);
            else if (const auto* dt = std::get_if<DateTime>(&v); dt && dt->time.msecs == 0)
                bound = isoDate(dt->date);
            else
                return std::nullopt;
        } else if (f.type == FieldType::DateTime) {
            if (const auto* dt = std::get_if<DateTime>(&v))
                bound = isoDateTime(*dt);
            else if (const auto* d = std::get_if<Date>(&v))
                bound = isoDateTime(DateTime{*d, Time{}});
            else
                return std::nullopt;
        } else if (f.type == FieldType::Time && std::holds_alternative<Time>(v)) {
            bound = isoTime(std::get<Time>(v));
        } else {
            return std::nullopt;
        }
        out << "(" << col << " " << op << " ";
        if (!cast.empty()) {
            out << "CAST(";
            out.bind(bound);
            out << " AS " << cast << "))";
        } else {
            out.bind(bound);
            out << ")";
        }
        return out;
    }

    const std::vector<FieldDef>& fields_;
    const FilterOptions& options_;
    const std::vector<std::string>& columns_;
};

} // namespace

std::optional<SqlFragment> translateFilter(const FilterNode& root, const std::vector<FieldDef>& fields,
                                           const FilterOptions& options, const std::vector<std::string>& columns) {
    return Translator(fields, options, columns).node(root);
}

} // namespace vemo::engine::sql
