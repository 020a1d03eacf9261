// The Paradox table format of the STANDARD driver.
#include "PxCompanions.h"
#include "PxCreate.h"
#include "PxCursor.h"
#include "PxRepair.h"
#include "engine/drivers/standard/TableFormat.h"

namespace vemo::engine::standard {
namespace {

class ParadoxFormat : public TableFormat {
public:
    explicit ParadoxFormat(TableSettings settings) : settings_(std::move(settings)) {}
    std::string name() const override { return "PARADOX"; }
    std::string extension() const override { return ".DB"; }
    std::unique_ptr<Cursor> open(const std::filesystem::path& file, const OpenOptions& options) override {
        return std::make_unique<paradox::PxCursor>(file, options, settings_);
    }
    void create(const std::filesystem::path& file, const std::vector<FieldDef>& fields,
                const std::vector<IndexDef>& indexes) override {
        paradox::createParadoxTable(file, fields, indexes, settings_.codepageForNew());
    }
    std::vector<std::filesystem::path> companionFiles(const std::filesystem::path& file) override {
        return paradox::paradoxCompanions(file);
    }
    RepairReport repair(const std::filesystem::path& file, RepairMode mode) override {
        return paradox::repairParadox(file, mode != RepairMode::Check, mode == RepairMode::OnOpen, settings_);
    }

private:
    TableSettings settings_;
};

} // namespace

std::unique_ptr<TableFormat> makeParadoxFormat(const TableSettings& settings) {
    return std::make_unique<ParadoxFormat>(settings);
}

} // namespace vemo::engine::standard
