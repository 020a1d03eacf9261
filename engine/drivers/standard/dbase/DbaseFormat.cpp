#include "engine/drivers/standard/TableFormat.h"
#include "engine/drivers/standard/dbase/DbfCreate.h"
#include "engine/drivers/standard/dbase/DbfCursor.h"
#include "engine/drivers/standard/dbase/DbfRepair.h"
#include "engine/drivers/standard/dbase/DbfTable.h"

namespace vemo::engine::standard {
namespace {

class DbaseFormat : public TableFormat {
public:
    explicit DbaseFormat(TableSettings settings) : settings_(std::move(settings)) {}
    std::string name() const override { return "DBASE"; }
    std::string extension() const override { return ".DBF"; }

    std::unique_ptr<Cursor> open(const std::filesystem::path& file, const OpenOptions& options) override {
        return std::make_unique<dbase::DbfCursor>(file, options, settings_);
    }

    void create(const std::filesystem::path& file, const std::vector<FieldDef>& fields,
                const std::vector<IndexDef>& indexes) override {
        dbase::createDbf(file, fields, indexes, settings_.codepageForNew());
    }

    std::vector<std::filesystem::path> companionFiles(const std::filesystem::path& file) override {
        std::vector<std::filesystem::path> out;
        std::error_code ec;
        if (std::filesystem::exists(file, ec))
            out.push_back(file);
        for (const char* ext : {".DBT", ".FPT", ".MDX", ".CDX", ".NDX"}) {
            auto p = dbase::findCompanion(file, ext);
            if (!p.empty())
                out.push_back(p);
        }
        return out;
    }

    // Nothing of a dBASE table is mended on open beyond the interrupted write the cursor
    // undoes: a short file or a lost index definition is the user's to decide on.
    RepairReport repair(const std::filesystem::path& file, RepairMode mode) override {
        if (mode == RepairMode::OnOpen)
            return {};
        return dbase::repairDbf(file, mode == RepairMode::Full, settings_);
    }

private:
    TableSettings settings_;
};

} // namespace

std::unique_ptr<TableFormat> makeDbaseFormat(const TableSettings& settings) {
    return std::make_unique<DbaseFormat>(settings);
}

} // namespace vemo::engine::standard
