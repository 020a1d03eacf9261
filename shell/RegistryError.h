#pragma once
// Failure of the settings store (a file that cannot be read or written, a bad key name).
#include <stdexcept>
#include <string>

namespace vemo::shell {

class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace vemo::shell
