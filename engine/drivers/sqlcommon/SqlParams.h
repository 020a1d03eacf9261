#pragma once
// ":NAME" parameters in SQL text typed by a user, replaced by the driver's placeholders.
#include "engine/contract/Database.h"
#include "engine/drivers/sqlcommon/SqlConnection.h"

#include <string>
#include <vector>

namespace vemo::engine::sql {

// Rewrites sql with a placeholder for every ":NAME" outside quotes and comments ("::" casts
// are left alone) and appends the values in order. Names match case-insensitively; a name
// without a value throws ErrInvalidParam.
std::string bindNamedParams(const std::string& sql, const std::vector<QueryParam>& params,
                            const SqlConnection& connection, std::vector<Value>& values);

// The names in the order they first appear.
std::vector<std::string> namedParams(const std::string& sql);

} // namespace vemo::engine::sql
