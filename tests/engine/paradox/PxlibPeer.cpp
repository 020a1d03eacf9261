#include "PxlibPeer.h"

#include <cstring>
#include <stdexcept>
extern "C" {
#include <paradox.h>
}

namespace pxpeer {
namespace {

void onError(pxdoc_t*, int, const char* msg, void* data) {
    auto* last = static_cast<std::string*>(data);
    *last = msg ? msg : "pxlib error";
}

struct Doc {
    std::string error;
    pxdoc_t* px;
    Doc() : px(PX_new3(onError, nullptr, nullptr, nullptr, &error)) {}
    ~Doc() {
        PX_close(px);
        PX_delete(px);
    }
};

} // namespace

Table read(const std::filesystem::path& db, const std::filesystem::path& mb) {
    Doc doc;
    if (PX_open_file(doc.px, db.c_str()) < 0) throw std::runtime_error("pxlib cannot open: " + doc.error);
    // pxlib overruns a stack buffer when a .MB's size is an exact multiple of 4 KiB (which
    // every complete .MB is); it reads a copy with one byte more instead.
    std::filesystem::path mbCopy;
    if (!mb.empty()) {
        mbCopy = mb;
        mbCopy += ".peer";
        std::filesystem::copy_file(mb, mbCopy, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(mbCopy, std::filesystem::file_size(mb) + 1);
        if (PX_set_blob_file(doc.px, mbCopy.c_str()) < 0) throw std::runtime_error("pxlib blob: " + doc.error);
    }
    Table t;
    const int n = PX_get_num_fields(doc.px);
    pxfield_t* pf = PX_get_fields(doc.px);
    for (int i = 0; i < n; ++i) t.fields.push_back({pf[i].px_fname, pf[i].px_ftype, pf[i].px_flen, pf[i].px_fdc});
    t.numRecords = PX_get_num_records(doc.px);
    t.fileType = doc.px->px_head->px_filetype;
    for (int r = 0; r < t.numRecords; ++r) {
        pxval_t** vals = PX_retrieve_record(doc.px, r);
        if (!vals) throw std::runtime_error("pxlib cannot read record " + std::to_string(r) + ": " + doc.error);
        std::vector<Val> row;
        for (int i = 0; i < n; ++i) {
            Val v;
            v.null = vals[i]->isnull;
            switch (pf[i].px_ftype) {
            case pxfAlpha: case pxfMemoBLOb: case pxfBLOb: case pxfFmtMemoBLOb: case pxfOLE: case pxfGraphic:
            case pxfBCD: case pxfBytes:
                if (!v.null && vals[i]->value.str.val) v.s.assign(vals[i]->value.str.val, size_t(vals[i]->value.str.len));
                break;
            case pxfNumber: case pxfCurrency: case pxfTimestamp:
                v.d = vals[i]->value.dval;
                break;
            default:
                v.l = vals[i]->value.lval;
            }
            if (vals[i]->type == pxfAlpha || vals[i]->type == pxfMemoBLOb || vals[i]->type == pxfBLOb
                || vals[i]->type == pxfFmtMemoBLOb || vals[i]->type == pxfOLE || vals[i]->type == pxfGraphic
                || vals[i]->type == pxfBCD || vals[i]->type == pxfBytes) {
                if (vals[i]->value.str.val) doc.px->free(doc.px, vals[i]->value.str.val);
            }
            doc.px->free(doc.px, vals[i]);
            row.push_back(std::move(v));
        }
        doc.px->free(doc.px, vals);
        t.rows.push_back(std::move(row));
    }
    return t;
}

void write(const std::filesystem::path& db, const std::vector<Field>& fields, const std::vector<std::vector<Val>>& rows,
           const std::filesystem::path& mb, int codepage, const std::string& password) {
    Doc doc;
    std::vector<pxfield_t> pf(fields.size());
    std::vector<std::vector<char>> names;
    for (size_t i = 0; i < fields.size(); ++i) {
        names.emplace_back(fields[i].name.begin(), fields[i].name.end());
        names.back().push_back(0);
        pf[i].px_fname = static_cast<char*>(doc.px->malloc(doc.px, names.back().size(), "name"));
        std::memcpy(pf[i].px_fname, names.back().data(), names.back().size());
        pf[i].px_ftype = fields[i].type;
        pf[i].px_flen = fields[i].len;
        pf[i].px_fdc = fields[i].decimals;
    }
    auto* fieldsCopy = static_cast<pxfield_t*>(doc.px->malloc(doc.px, sizeof(pxfield_t) * pf.size(), "fields"));
    std::memcpy(fieldsCopy, pf.data(), sizeof(pxfield_t) * pf.size());
    if (PX_create_file(doc.px, fieldsCopy, int(fields.size()), db.c_str(), pxfFileTypNonIndexDB) < 0)
        throw std::runtime_error("pxlib cannot create: " + doc.error);
    PX_set_value(doc.px, "codepage", float(codepage));
    if (!password.empty() && PX_set_parameter(doc.px, "password", password.c_str()) < 0)
        throw std::runtime_error("pxlib password: " + doc.error);
    if (!mb.empty() && PX_set_blob_file(doc.px, mb.c_str()) < 0) throw std::runtime_error("pxlib blob: " + doc.error);
    const int rs = PX_get_recordsize(doc.px);
    std::vector<char> rec(static_cast<size_t>(rs));
    for (const auto& row : rows) {
        std::fill(rec.begin(), rec.end(), 0);
        int off = 0;
        for (size_t i = 0; i < fields.size(); ++i) {
            const Val& v = row[i];
            char* p = rec.data() + off;
            const int len = PX_get_field(doc.px, int(i))->px_flen;
            if (!v.null) {
                switch (fields[i].type) {
                case pxfAlpha: { std::string s = v.s; PX_put_data_alpha(doc.px, p, len, s.data()); break; }
                case pxfDate: case pxfLong: case pxfTime: case pxfAutoInc: PX_put_data_long(doc.px, p, len, int(v.l)); break;
                case pxfShort: PX_put_data_short(doc.px, p, len, short(v.l)); break;
                case pxfNumber: case pxfCurrency: case pxfTimestamp: PX_put_data_double(doc.px, p, len, v.d); break;
                case pxfLogical: PX_put_data_byte(doc.px, p, len, char(v.l ? 1 : 0)); break;
                case pxfMemoBLOb: case pxfFmtMemoBLOb: {
                    std::string s = v.s;
                    PX_put_data_blob(doc.px, p, len, s.data(), int(s.size()));
                    break;
                }
                default: throw std::runtime_error("peer cannot write this type");
                }
            }
            off += len;
        }
        if (PX_put_record(doc.px, rec.data()) < 0) throw std::runtime_error("pxlib put: " + doc.error);
    }
}

unsigned long checksumOf(const std::filesystem::path& db) {
    Doc doc;
    if (PX_open_file(doc.px, db.c_str()) < 0) throw std::runtime_error("pxlib cannot open: " + doc.error);
    return doc.px->px_head->px_encryption;
}

} // namespace pxpeer
