#include "engine/batchmove/ProblemTable.h"

#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "engine/values/Codepage.h"

namespace vemo::engine {

ProblemTable::ProblemTable(Session& session, std::string path, const std::vector<FieldDef>& fields, TableKind from)
    : session_(session), path_(std::move(path)), from_(fields), kind_(from) {}

ProblemTable::~ProblemTable() {
    // A move that failed still leaves the records that explain it.
    try {
        finish();
    } catch (const EngineError&) {
    }
}

void ProblemTable::finish() {
    if (!batch_)
        return;
    batch_ = false;
    cursor_->commitBatch();
}

void ProblemTable::create() {
    std::string name;
    Database& db = session_.databaseFor("", path_, name);
    for (const auto& f : from_) {
        FieldDef p = mapFieldType(f, kind_, TableKind::Paradox);
        if (p.name.size() > 25)
            p.name.resize(25);
        fields_.push_back(p);
    }
    try {
        db.deleteTable(name);
    } catch (const EngineError& e) {
        if (e.code() != ErrNotFound)
            throw;
    }
    db.createTable(name, fields_, {});
    cursor_ = db.openTable(name, {});
    // One sync for all the records rather than one each.
    cursor_->beginBatch();
    batch_ = true;
}

void ProblemTable::add(const Row& row) {
    if (path_.empty())
        return;
    if (!cursor_)
        create();
    Row out(fields_.size());
    for (size_t i = 0; i < fields_.size() && i < row.size(); ++i) {
        if (convertValue(row[i], from_[i].type, fields_[i], TableKind::Paradox, out[i]))
            continue;
        // The report keeps what fits of a value that is itself the problem.
        const std::string text = valueToText(row[i], from_[i].type);
        const bool isText = fields_[i].type == FieldType::String || fields_[i].type == FieldType::Memo;
        if (!canEncode(text, 932))
            continue;
        if (isText && fields_[i].size > 0 && fields_[i].type == FieldType::String)
            out[i] = decodeText(truncateEncoded(encodeText(text, 932), static_cast<size_t>(fields_[i].size), 932), 932);
        else if (isText)
            out[i] = text;
    }
    cursor_->insert(out);
}

} // namespace vemo::engine
