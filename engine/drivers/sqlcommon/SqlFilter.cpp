#include "engine/drivers/sqlcommon/SqlFilter.h"

#include "engine/drivers/sqlcommon/SqlText.h"

#include <algorithm>
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

// "2001/04/01" or "2001-04-01" (zero-padded) as the date literal the dataset reads the same way.
std::optional<Date> literalDate(const std::string& s) {
    std::string t = s.substr(0, 10);
    std::replace(t.begin(), t.end(), '/', '-');
    return s.size() == 10 ? parseIsoDate(t) : std::nullopt;
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
        case Kind::IsNull: case Kind::IsNotNull:
            if (n.children.size() != 1 || n.children[0]->kind != Kind::Field || !validField(n.children[0]->field))
                return std::nullopt;
            {
                SqlFragment out;
                out << "(" << columns_[n.children[0]->field] << (n.kind == Kind::IsNull ? " IS NULL)" : " IS NOT NULL)");
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
        const bool blank = b->kind == Kind::Null || (b->kind == Kind::Literal && isNull(b->literal));
        const std::string& col = columns_[a->field];
        if (blank) {
            if (op != "=" && op != "<>")
                return std::nullopt;
            SqlFragment out;
            out << "(" << col << (op == "=" ? " IS NULL)" : " IS NOT NULL)");
            return out;
        }
        if (b->kind != Kind::Literal)
            return std::nullopt;
        return fieldToLiteral(fields_[a->field], col, op, *b);
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
        } else if (!(isNumeric(tx) && isNumeric(ty)) && !(tx == ty && (tx == FieldType::Date || tx == FieldType::Time || tx == FieldType::DateTime))) {
            return std::nullopt;
        }
        SqlFragment out;
        out << "(" << columns_[x] << " IS NOT NULL AND " << columns_[y] << " IS NOT NULL AND " << cx << " " << op << " " << cy << ")";
        return out;
    }

    std::optional<SqlFragment> fieldToLiteral(const FieldDef& f, const std::string& col, const std::string& op,
                                              const FilterNode& lit) {
        SqlFragment out;
        const Value& v = lit.literal;
        const auto* text = std::get_if<std::string>(&v);
        if (isText(f.type)) {
            if (!text || options_.caseInsensitive)
                return std::nullopt;
            std::string s = *text;
            if (lit.partial && !options_.noPartialCompare && (op == "=" || op == "<>")) {
                if (!s.empty() && s.back() == '*')
                    s.pop_back();
                out << "(" << col << " IS NOT NULL";
                if (!s.empty() || op == "<>") {
                    out << " AND substr(" << col << ", 1, ";
                    out.bind(static_cast<int64_t>(utf8Length(s)));
                    out << ") " << op << " ";
                    out.bind(s);
                }
                out << ")";
                return out;
            }
            out << "(" << col << " IS NOT NULL AND rtrim(" << col << ") " << op << " ";
            out.bind(rtrimBlanks(s)) << ")";
            return out;
        }
        std::string cast;
        Value bound;
        if (isNumeric(f.type)) {
            if (const auto* i = std::get_if<int64_t>(&v)) {
                bound = *i;
                cast = "BIGINT";
            } else if (const auto* d = std::get_if<double>(&v)) {
                bound = *d;
                cast = "DOUBLE PRECISION";
            } else if (const auto* dec = std::get_if<Decimal>(&v)) {
                if (!isDecimalText(dec->text))
                    return std::nullopt;
                bound = dec->text;
                cast = "NUMERIC";
            } else if (text) {
                if (auto i = parseInt(*text)) {
                    bound = *i;
                    cast = "BIGINT";
                } else if (auto d = parseDouble(*text)) {
                    bound = *d;
                    cast = "DOUBLE PRECISION";
                } else {
                    return std::nullopt;
                }
            } else {
                return std::nullopt;
            }
        } else if (f.type == FieldType::Boolean) {
            if (const auto* b = std::get_if<bool>(&v))
                bound = *b;
            else if (text && (!strcasecmp(text->c_str(), "T") || !strcasecmp(text->c_str(), "TRUE")))
                bound = true;
            else if (text && (!strcasecmp(text->c_str(), "F") || !strcasecmp(text->c_str(), "FALSE")))
                bound = false;
            else
                return std::nullopt;
        } else if (f.type == FieldType::Date) {
            if (const auto* d = std::get_if<Date>(&v))
                bound = isoDate(*d);
            else if (auto d2 = text ? literalDate(*text) : std::nullopt)
                bound = isoDate(*d2);
            else
                return std::nullopt;
        } else if (f.type == FieldType::DateTime) {
            if (const auto* dt = std::get_if<DateTime>(&v))
                bound = isoDateTime(*dt);
            else if (const auto* d = std::get_if<Date>(&v))
                bound = isoDateTime(DateTime{*d, Time{}});
            else if (auto d2 = text ? literalDate(*text) : std::nullopt)
                bound = isoDateTime(DateTime{*d2, Time{}});
            else
                return std::nullopt;
        } else if (f.type == FieldType::Time) {
            if (const auto* t = std::get_if<Time>(&v))
                bound = isoTime(*t);
            else if (auto t2 = text ? parseIsoTime(*text) : std::nullopt; t2 && text->size() == 8)
                bound = isoTime(*t2);
            else
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        out << "(" << col << " IS NOT NULL AND " << col << " " << op << " ";
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
