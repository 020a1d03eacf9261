#pragma once
// An engine driver: its name, its default alias parameters, and how it connects.
#include "engine/contract/Database.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vemo::engine {

// Ordered alias parameters: NAME, value.
using Params = std::vector<std::pair<std::string, std::string>>;

// Asked when a server needs a password that the alias does not store. Returns false when
// the user cancels. user arrives preset with the alias's user name.
using LoginCallback = std::function<bool(const std::string& alias, std::string& user, std::string& password)>;

// Looks a parameter up by name, case-insensitively; empty when missing.
std::string paramValue(const Params& params, const std::string& name);

class Driver {
public:
    virtual ~Driver() = default;
    virtual std::string name() const = 0;           // "STANDARD", "SQLITE", "POSTGRESQL"
    virtual Params defaultParams() const = 0;
    virtual std::unique_ptr<Database> connect(const std::string& alias, const Params& params,
                                              const LoginCallback& login) = 0;
};

} // namespace vemo::engine
