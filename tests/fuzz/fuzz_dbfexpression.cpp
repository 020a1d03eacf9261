// Fuzzes dBASE key expressions and FOR conditions as they are read from an index file's tag
// header: the input is the text, parsed against a table of every key field type and
// evaluated on a blank, a filled and a deleted record. Text that is not understood must end
// in an engine error, never a crash, a hang or undefined behaviour.
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/dbase/DbfHeader.h"
#include "engine/drivers/standard/dbase/KeyExpression.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace vemo::engine;
using namespace vemo::engine::dbase;

const DbfHeader& header() {
    static const DbfHeader h = [] {
        DbfHeader out;
        int offset = 1;
        auto add = [&](const char* name, char type, int length, int decimals = 0) {
            DbfField f;
            f.name = name;
            f.type = type;
            f.length = length;
            f.decimals = decimals;
            f.offset = offset;
            offset += length;
            out.fields.push_back(f);
        };
        add("NAME", 'C', 12);
        add("AMT", 'N', 10, 2);
        add("BORN", 'D', 8);
        add("PAID", 'L', 1);
        add("F", 'F', 20, 4);
        out.recordLength = offset;
        out.codepage = 932;
        return out;
    }();
    return h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 400)
        return 0; // the tag header holds no longer text
    const std::string text(reinterpret_cast<const char*>(data), size);
    const DbfHeader& h = header();
    std::vector<uint8_t> blank(h.recordLength, ' '), filled(h.recordLength, ' '), gone(h.recordLength, ' ');
    const char row[] = " \x83\x41\x83\x4A Tokyo    -123456.7820240229T   1234.5678        ";
    std::memcpy(filled.data(), row, std::min<size_t>(sizeof row - 1, filled.size()));
    gone = filled;
    gone[0] = '*';
    try {
        const KeyExpression e(text, h);
        for (const auto* rec : {&blank, &filled, &gone}) {
            const KeyValue v = e.evaluate(rec->data(), 7);
            if (v.kind == KeyValue::Kind::String && v.text.size() > (1u << 20))
                __builtin_trap();
        }
        (void)e.resultKind();
        (void)e.resultWidth();
    } catch (const EngineError&) {
    }
    return 0;
}
