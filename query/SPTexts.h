#pragma once
// Texts of the stored procedure window's parameter grid.
#include "engine/contract/Database.h"

#include <QString>

namespace vemo::query {

// "IN", "OUT", "IN/OUT"; empty for a result.
QString directionText(engine::ProcParam::Direction direction);
// The data type text of an engine type code 0-29 ("文字型" ...); empty beyond them.
QString procTypeText(int typeCode);

} // namespace vemo::query
