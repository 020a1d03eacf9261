#include "engine/filter/Filter.h"
#include "engine/filter/FilterParser.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace vemo::engine {

namespace {

enum class Truth { False, True, Unknown };

constexpr int64_t kMsPerDay = 86400000;

std::string_view unpadded(const std::string& s) {
    std::string_view v = s;
    while (!v.empty() && v.back() == ' ')
        v.remove_suffix(1);
    return v;
}

int compareText(std::string_view a, std::string_view b, bool caseInsensitive) {
    if (!caseInsensitive) {
        const int c = a.compare(b);
        return c < 0 ? -1 : c > 0;
    }
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size();
}

bool isNumeric(const Value& v) {
    return std::holds_alternative<int64_t>(v) || std::holds_alternative<double>(v) ||
           std::holds_alternative<Decimal>(v);
}

double asDouble(const Value& v) {
    if (auto i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto dec = std::get_if<Decimal>(&v)) {
        double d = 0;
        const char* b = dec->text.data();
        if (!dec->text.empty() && *b == '+') ++b;
        std::from_chars(b, dec->text.data() + dec->text.size(), d);
        return d;
    }
    return 0;
}

// Milliseconds since 0001-01-01 for dates and date-times.
bool asInstant(const Value& v, int64_t& ms) {
    if (auto d = std::get_if<Date>(&v)) { ms = daysFromCivil(*d) * kMsPerDay; return true; }
    if (auto t = std::get_if<DateTime>(&v)) { ms = daysFromCivil(t->date) * kMsPerDay + t->time.msecs; return true; }
    return false;
}

Truth fromCompare(int c, const std::string& op) {
    bool r;
    if (op == "=") r = c == 0;
    else if (op == "<>") r = c != 0;
    else if (op == "<") r = c < 0;
    else if (op == "<=") r = c <= 0;
    else if (op == ">") r = c > 0;
    else r = c >= 0;
    return r ? Truth::True : Truth::False;
}

template <typename T> int cmp(const T& a, const T& b) { return a < b ? -1 : (b < a ? 1 : 0); }

class Evaluator {
public:
    Evaluator(const Row& row, const FilterOptions& options) : row_(&row), options_(options) {}
    Evaluator(FilterFieldSource& source, const FilterOptions& options) : source_(&source), options_(options) {}

    Truth truth(const FilterNode& n) {
        switch (n.kind) {
        case FilterNode::Kind::Or: {
            Truth r = Truth::False;
            for (const auto& c : n.children) {
                const Truth t = truth(*c);
                if (t == Truth::True) return Truth::True;
                if (t == Truth::Unknown) r = Truth::Unknown;
            }
            return r;
        }
        case FilterNode::Kind::And: {
            Truth r = Truth::True;
            for (const auto& c : n.children) {
                const Truth t = truth(*c);
                if (t == Truth::False) return Truth::False;
                if (t == Truth::Unknown) r = Truth::Unknown;
            }
            return r;
        }
        case FilterNode::Kind::Not: {
            const Truth t = truth(*n.children[0]);
            return t == Truth::Unknown ? t : (t == Truth::True ? Truth::False : Truth::True);
        }
        case FilterNode::Kind::IsNull:
        case FilterNode::Kind::IsNotNull: {
            Value scratch;
            const Value& v = value(*n.children[0], scratch);
            bool blank = isNull(v);
            if (auto s = std::get_if<std::string>(&v))
                blank = unpadded(*s).empty();
            return blank == (n.kind == FilterNode::Kind::IsNull) ? Truth::True : Truth::False;
        }
        case FilterNode::Kind::Compare:
            return compare(n);
        default:
            return Truth::Unknown;
        }
    }

private:
    Truth compare(const FilterNode& n) {
        Value s1, s2;
        const Value& a = value(*n.children[0], s1);
        const Value& b = value(*n.children[1], s2);
        if (isNull(a) || isNull(b))
            return Truth::Unknown;
        if (n.partial) {
            const bool literalRight = n.children[1]->partial;
            const auto* field = std::get_if<std::string>(literalRight ? &a : &b);
            const auto* prefix = std::get_if<std::string>(literalRight ? &b : &a);
            if (!field || !prefix)
                return Truth::Unknown;
            const std::string_view f = unpadded(*field);
            if (f.empty())
                return Truth::Unknown;
            const bool starts = f.size() >= prefix->size() &&
                                compareText(f.substr(0, prefix->size()), *prefix, options_.caseInsensitive) == 0;
            return (starts == (n.op == "=")) ? Truth::True : Truth::False;
        }
        if (auto x = std::get_if<std::string>(&a)) {
            auto y = std::get_if<std::string>(&b);
            if (!y) return Truth::Unknown;
            return fromCompare(compareText(unpadded(*x), unpadded(*y), options_.caseInsensitive), n.op);
        }
        if (isNumeric(a) && isNumeric(b)) {
            auto xi = std::get_if<int64_t>(&a);
            auto yi = std::get_if<int64_t>(&b);
            if (xi && yi) return fromCompare(cmp(*xi, *yi), n.op);
            const double x = asDouble(a), y = asDouble(b);
            if (std::isnan(x) || std::isnan(y)) return Truth::Unknown;
            return fromCompare(cmp(x, y), n.op);
        }
        int64_t ma, mb;
        if (asInstant(a, ma) && asInstant(b, mb))
            return fromCompare(cmp(ma, mb), n.op);
        if (auto x = std::get_if<Time>(&a)) {
            auto y = std::get_if<Time>(&b);
            return y ? fromCompare(cmp(x->msecs, y->msecs), n.op) : Truth::Unknown;
        }
        if (auto x = std::get_if<bool>(&a)) {
            auto y = std::get_if<bool>(&b);
            return y ? fromCompare(cmp(*x, *y), n.op) : Truth::Unknown;
        }
        return Truth::Unknown;
    }

    const Value& value(const FilterNode& n, Value& scratch) {
        switch (n.kind) {
        case FilterNode::Kind::Field:
            if (source_)
                return n.field >= 0 ? source_->fieldValue(n.field) : nullValue_;
            return static_cast<size_t>(n.field) < row_->size() ? (*row_)[n.field] : nullValue_;
        case FilterNode::Kind::Literal:
            return n.literal;
        case FilterNode::Kind::Negate: {
            const Value& v = value(*n.children[0], scratch);
            if (auto i = std::get_if<int64_t>(&v); i && *i != INT64_MIN) scratch = -*i;
            else if (isNumeric(v)) scratch = -asDouble(v);
            else scratch = std::monostate{};
            return scratch;
        }
        case FilterNode::Kind::Arith: {
            Value s1, s2;
            const Value& a = value(*n.children[0], s1);
            const Value& b = value(*n.children[1], s2);
            scratch = arith(a, n.op[0], b);
            return scratch;
        }
        default:
            return nullValue_;
        }
    }

    static Value arith(const Value& a, char op, const Value& b) {
        if (isNull(a) || isNull(b))
            return {};
        if (isNumeric(a) && isNumeric(b)) {
            auto xi = std::get_if<int64_t>(&a);
            auto yi = std::get_if<int64_t>(&b);
            int64_t r;
            if (xi && yi && op == '+' && !__builtin_add_overflow(*xi, *yi, &r)) return r;
            if (xi && yi && op == '-' && !__builtin_sub_overflow(*xi, *yi, &r)) return r;
            if (xi && yi && op == '*' && !__builtin_mul_overflow(*xi, *yi, &r)) return r;
            const double x = asDouble(a), y = asDouble(b);
            switch (op) {
            case '+': return x + y;
            case '-': return x - y;
            case '*': return x * y;
            default: return y == 0 ? Value{} : Value{x / y};
            }
        }
        if (auto x = std::get_if<std::string>(&a)) {
            auto y = std::get_if<std::string>(&b);
            return y ? Value{*x + *y} : Value{};
        }
        int64_t ma, mb;
        const bool da = asInstant(a, ma), db = asInstant(b, mb);
        if (da && db && op == '-') {
            const int64_t diff = ma - mb;
            if (diff % kMsPerDay == 0) return diff / kMsPerDay;
            return static_cast<double>(diff) / kMsPerDay;
        }
        if (da != db && (isNumeric(a) || isNumeric(b))) {
            const Value& dateSide = da ? a : b;
            const double days = asDouble(da ? b : a) * (op == '-' ? -1 : 1);
            const int64_t base = da ? ma : mb;
            const double shifted = static_cast<double>(base) + days * kMsPerDay;
            if (!std::isfinite(shifted) || shifted < 0 || shifted > 3652059.0 * kMsPerDay) return {};
            const int64_t total = static_cast<int64_t>(std::llround(shifted));
            const Date d = civilFromDays(total / kMsPerDay);
            if (std::holds_alternative<Date>(dateSide)) return d;
            return DateTime{d, Time{static_cast<int32_t>(total % kMsPerDay)}};
        }
        return {};
    }

    const Row* row_ = nullptr;
    FilterFieldSource* source_ = nullptr;
    const FilterOptions& options_;
    const Value nullValue_{};
};

} // namespace

Filter::Filter(const std::string& text, const std::vector<FieldDef>& fields, FilterOptions options)
    : text_(text), fields_(fields), options_(options), root_(parseFilter(text, fields, options)) {}

Filter::~Filter() = default;
Filter::Filter(Filter&&) noexcept = default;
Filter& Filter::operator=(Filter&&) noexcept = default;

bool Filter::matches(const Row& row) const {
    return Evaluator(row, options_).truth(*root_) == Truth::True;
}

bool Filter::matches(FilterFieldSource& source) const {
    return Evaluator(source, options_).truth(*root_) == Truth::True;
}

} // namespace vemo::engine
