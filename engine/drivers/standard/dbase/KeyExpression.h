#pragma once
// dBASE index key and FOR expressions, evaluated on the raw bytes of a record so that
// character keys come out in the table's own code page, as an index stores them.
#include "engine/drivers/standard/dbase/DbfHeader.h"

#include <memory>
#include <string>
#include <vector>

namespace vemo::engine::dbase {

struct KeyValue {
    enum class Kind { String, Number, Date, Bool };
    Kind kind = Kind::String;
    std::string text;   // String: code page bytes
    double number = 0;  // Number; Date: day number since 0001-01-01, -1 for a blank date
    bool flag = false;  // Bool
};

// Orders two keys of the same kind (strings byte-wise, the shorter padded with blanks).
int compareKeys(const KeyValue& a, const KeyValue& b);

class KeyExpression {
public:
    // Parses text against the table's fields. Throws EngineError(ErrNotSupported) naming the
    // part it does not understand.
    KeyExpression(const std::string& text, const DbfHeader& header);
    ~KeyExpression();
    KeyExpression(KeyExpression&&) noexcept;
    KeyExpression& operator=(KeyExpression&&) noexcept;

    KeyValue evaluate(const uint8_t* record, uint32_t recno) const;
    const std::string& text() const { return text_; }
    // Field names when the expression is a plain field or fields joined by "+"; else empty.
    const std::vector<std::string>& plainFields() const { return plainFields_; }
    KeyValue::Kind resultKind() const;
    // Width in bytes of a string result (the longest seen for computed widths).
    int resultWidth() const;

    struct Node;

private:
    std::string text_;
    std::unique_ptr<Node> root_;
    std::vector<std::string> plainFields_;
    const DbfHeader* header_;
};

} // namespace vemo::engine::dbase
