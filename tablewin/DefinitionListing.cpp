#include "tablewin/DefinitionListing.h"

#include "engine/dataset/Table.h"

namespace vemo::tablewin {

Listing definitionListing(const std::vector<engine::FieldDef>& fields)
{
    Listing rows;
    rows.reserve(fields.size() + 1);
    rows.push_back(engine::listingHeadings());
    int number = 1;
    for (const auto& f : fields)
        rows.push_back(engine::listingRow(number++, f));
    return rows;
}

int fillListing(engine::Table& table, Listing& out)
{
    if (!table.isOpen())
        table.open();
    Listing rows;
    try {
        rows = definitionListing(table.fieldDefs());
    } catch (...) {
        table.close();
        throw;
    }
    const int count = table.fieldCount();
    table.close();
    out = std::move(rows);
    return count;
}

} // namespace vemo::tablewin
