#pragma once
// The one error type of the engine: a message text and a numeric code.
#include <stdexcept>
#include <string>

namespace vemo::engine {

// Error codes. 10253 is the code callers rely on for "exclusive access required";
// the others are the engine's own and only need to be distinct.
enum ErrorCode : int {
    ErrGeneral = 1,
    ErrNotFound = 10024,          // table, alias, field or index not found
    ErrInvalidParam = 10050,
    ErrNoSuchAlias = 10104,
    ErrAliasExists = 10105,
    ErrUnknownDriver = 10106,
    ErrCorruptFile = 10241,       // a table or companion file is damaged
    ErrLocked = 10243,            // the table or record is in use elsewhere
    ErrExclusiveRequired = 10253, // exclusive access required
    ErrReadOnly = 10261,
    ErrKeyViolation = 9729,       // a second record with the same key
    ErrRequiredField = 9732,      // a required field has no value
    ErrUpdateConflict = 10259,    // the record was changed or removed by someone else
    ErrFilter = 10495,            // malformed filter expression
    ErrConvert = 10496,           // a text that does not convert to the field's type
    ErrNotSupported = 10301,
    ErrServer = 13059,            // error reported by a database server
    ErrLogin = 13060,
    ErrLoginCancelled = 13061,    // the user closed the login dialog without logging in
    ErrIO = 10022,
};

class EngineError : public std::runtime_error {
public:
    EngineError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    explicit EngineError(const std::string& message) : EngineError(ErrGeneral, message) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

} // namespace vemo::engine
