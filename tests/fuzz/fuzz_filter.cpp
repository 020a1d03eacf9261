// Filter text from anywhere: parsing either succeeds or raises the engine's error, and a
// parsed filter evaluates against rows of every kind without faulting.
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace vemo::engine;

namespace {

FieldDef def(const char* name, FieldType type, int size = 0) {
    FieldDef f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
}

const std::vector<FieldDef>& fields() {
    static const std::vector<FieldDef> f = {
        def("NAME", FieldType::String, 20), def("N", FieldType::Integer), def("F", FieldType::Float),
        def("D", FieldType::Date), def("T", FieldType::Time), def("DT", FieldType::DateTime),
        def("B", FieldType::Boolean), def("M", FieldType::Memo), def("BCD", FieldType::BCD),
        def("顧客名", FieldType::String, 10), def("First Name", FieldType::String, 10), def("PIC", FieldType::Blob),
    };
    return f;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> r = {
        Row(12),
        Row{std::string("Smith  "), int64_t{INT64_MIN}, -0.0, Date{1, 1, 1}, Time{0}, DateTime{{9999, 12, 31}, {86399999}},
            true, std::string("memo"), Decimal{"-12.5"}, std::string("山田"), std::string(""), Bytes{0}},
        Row{std::string(""), int64_t{INT64_MAX}, 1e308, Date{2001, 4, 1}, Time{43200000}, DateTime{{2001, 4, 1}, {0}},
            false, std::string(), Decimal{"x"}, std::string(" "), std::string("Ann"), Bytes{}},
    };
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    FilterOptions options;
    options.caseInsensitive = data[0] & 1;
    options.noPartialCompare = data[0] & 2;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        Filter filter(text, fields(), options);
        for (const auto& row : rows())
            filter.matches(row);
    } catch (const EngineError& e) {
        if (e.code() != ErrFilter)
            __builtin_trap();
    }
    return 0;
}
