#include "PxBlobStore.h"

#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cstring>

namespace vemo::engine::paradox {
namespace {
constexpr uint32_t kUnit = 4096;
constexpr uint32_t kMaxBlob = 256u << 20; // refuse to believe in larger blobs

[[noreturn]] void corrupt(const std::filesystem::path& p, const std::string& why) {
    throw EngineError(ErrCorruptFile, p.filename().string() + " が壊れています: " + why);
}
} // namespace

PxBlobStore::PxBlobStore(std::filesystem::path path, bool writable) : path_(std::move(path)), writable_(writable) {
    std::error_code ec;
    if (std::filesystem::exists(path_, ec))
        file_ = PxFile(path_, writable ? PxFile::ReadWrite : PxFile::ReadOnly);
}

void PxBlobStore::create(const std::filesystem::path& path) {
    PxFile f(path, PxFile::CreateNew);
    std::vector<uint8_t> h(kUnit, 0);
    h[0] = 0; putLE16(&h[1], 1); putLE16(&h[3], 1);
    const uint8_t magic[5] = {0x82, 0x73, 0x02, 0x00, 0x29};
    std::memcpy(&h[5], magic, 5);
    putLE16(&h[0x0B], 0x1000); putLE16(&h[0x0D], 0x1000);
    h[0x10] = 0x10; putLE16(&h[0x11], 0x40); putLE16(&h[0x13], 0x800);
    f.writeAt(0, h.data(), h.size());
}

std::optional<std::string> PxBlobStore::read(const PxField& f, const uint8_t* field) const {
    const int leader = f.length - 10;
    const uint8_t* ref = field + leader;
    const uint32_t offIndex = getLE32(ref);
    const uint32_t length = getLE32(ref + 4);
    if (length == 0) return std::nullopt;
    if (length <= uint32_t(leader)) return std::string(reinterpret_cast<const char*>(field), length);
    if (!file_.isOpen()) throw EngineError(ErrNotFound, path_.filename().string() + " がありません");
    if (length > kMaxBlob) corrupt(path_, "ブロブの長さが不正です");
    const uint64_t offset = offIndex & ~0xFFu;
    const uint32_t index = offIndex & 0xFF;
    if (offset == 0) corrupt(path_, "ブロブの位置が不正です");
    uint8_t head[9];
    if (!file_.readAt(offset, head, sizeof head)) corrupt(path_, "ブロブがファイルの外を指しています");
    std::string data;
    if (index == 0xFF) {
        if (head[0] != 2) corrupt(path_, "ブロブブロックの種別が不正です");
        uint32_t stored = getLE32(head + 3);
        uint32_t skip = 0;
        if (f.type == PxGraphic && stored == length && length >= 8) { skip = 8; stored -= 8; }
        const uint32_t units = getLE16(head + 1);
        if (uint64_t(9) + skip + stored > uint64_t(units) * kUnit) corrupt(path_, "ブロブブロックの長さが不正です");
        if (stored != length - skip) corrupt(path_, "ブロブの長さがレコードと合いません");
        data.resize(stored);
        if (!file_.readAt(offset + 9 + skip, data.data(), stored)) corrupt(path_, "ブロブがファイルの途中で切れています");
        return data;
    }
    if (head[0] != 3) corrupt(path_, "ブロブブロックの種別が不正です");
    if (index >= 64) corrupt(path_, "ブロブの番号が不正です");
    uint8_t entry[5];
    if (!file_.readAt(offset + 12 + 5 * index, entry, 5)) corrupt(path_, "ブロブがファイルの外を指しています");
    if (entry[0] == 0 || entry[1] == 0 || entry[4] == 0 || entry[4] > 16) corrupt(path_, "削除されたブロブを指しています");
    const uint32_t dlen = (entry[1] - 1u) * 16u + entry[4];
    const uint32_t start = entry[0] * 16u;
    if (start + dlen > kUnit) corrupt(path_, "ブロブの位置が不正です");
    if (dlen != length) corrupt(path_, "ブロブの長さがレコードと合いません");
    data.resize(dlen);
    if (!file_.readAt(offset + start, data.data(), dlen)) corrupt(path_, "ブロブがファイルの途中で切れています");
    return data;
}

void PxBlobStore::protect(uint32_t checksum) {
    checksum_ = checksum;
    if (file_.isOpen()) file_.setCipher(checksum_, 0, 256, true);
}

void PxBlobStore::openForWrite() {
    if (!writable_) throw EngineError(ErrReadOnly, path_.filename().string() + ": 読み取り専用です");
    if (!file_.isOpen()) {
        create(path_);
        file_ = PxFile(path_, PxFile::ReadWrite);
        if (checksum_) {
            // The header went down plain: write it again through the key.
            std::vector<uint8_t> h(kUnit);
            if (!file_.readAt(0, h.data(), h.size())) corrupt(path_, "ヘッダーが短すぎます");
            protect(checksum_);
            file_.writeAt(0, h.data(), h.size());
        }
    }
}

void PxBlobStore::loadFreeRuns() {
    if (freeLoaded_) return;
    free_.clear();
    const uint64_t size = file_.size();
    uint64_t off = kUnit;
    while (off + 3 <= size) {
        uint8_t h[3];
        if (!file_.readAt(off, h, 3)) break;
        uint32_t units = getLE16(h + 1);
        if (units == 0 || h[0] == 0 || h[0] == 1 || h[0] > 4) break; // not a block boundary we trust
        if (h[0] == 4) free_.push_back({off, units});
        off += uint64_t(units) * kUnit;
    }
    freeLoaded_ = true;
}

uint64_t PxBlobStore::allocate(uint32_t units) {
    loadFreeRuns();
    auto it = std::find_if(free_.begin(), free_.end(), [&](const FreeRun& r) { return r.units >= units; });
    if (it != free_.end()) {
        const uint64_t off = it->offset;
        if (it->units > units) {
            FreeRun rest{off + uint64_t(units) * kUnit, it->units - units};
            uint8_t h[3] = {4, 0, 0};
            putLE16(h + 1, uint16_t(rest.units));
            file_.writeAt(rest.offset, h, 3);
            *it = rest;
        } else {
            free_.erase(it);
        }
        return off;
    }
    const uint64_t size = file_.size();
    return (size + kUnit - 1) / kUnit * kUnit;
}

void PxBlobStore::write(const PxField& f, const std::string& data, uint8_t* field) {
    const int leader = f.length - 10;
    std::memset(field, 0, f.length);
    std::memcpy(field, data.data(), std::min<size_t>(leader, data.size()));
    putLE32(field + leader + 4, uint32_t(data.size()));
    if (data.size() <= size_t(leader)) return;
    if (data.size() > kMaxBlob) throw EngineError(ErrInvalidParam, "フィールド \"" + f.name + "\": 値が大きすぎます");
    openForWrite();
    const uint32_t extra = f.type == PxGraphic ? 8 : 0;
    const uint64_t total = 9 + extra + data.size();
    const uint64_t units64 = (total + kUnit - 1) / kUnit;
    if (units64 > 0xFFFF) throw EngineError(ErrInvalidParam, "フィールド \"" + f.name + "\": 値が大きすぎます");
    const uint32_t units = uint32_t(units64);
    const uint64_t off = allocate(units);
    if (off > 0xFFFFFF00ull) throw EngineError(ErrIO, path_.filename().string() + ": ファイルが上限に達しました");
    std::vector<uint8_t> block(size_t(units) * kUnit, 0);
    block[0] = 2;
    putLE16(&block[1], uint16_t(units));
    putLE32(&block[3], uint32_t(data.size() + extra));
    putLE16(&block[7], 1);
    std::memcpy(&block[9 + extra], data.data(), data.size());
    file_.writeAt(off, block.data(), block.size());
    putLE32(field + leader, uint32_t(off) | 0xFF);
    putLE32(field + leader + 4, uint32_t(data.size() + extra));
    putLE16(field + leader + 8, 1);
}

void PxBlobStore::release(const PxField& f, const uint8_t* field) {
    const int leader = f.length - 10;
    const uint32_t offIndex = getLE32(field + leader);
    const uint32_t length = getLE32(field + leader + 4);
    if (length <= uint32_t(leader) || !file_.isOpen() || !writable_) return;
    const uint64_t off = offIndex & ~0xFFu;
    const uint32_t index = offIndex & 0xFF;
    uint8_t head[3];
    if (off == 0 || !file_.readAt(off, head, 3)) return; // dangling: nothing to give back
    if (index == 0xFF && head[0] == 2) {
        head[0] = 4;
        file_.writeAt(off, head, 1);
        if (freeLoaded_) free_.push_back({off, getLE16(head + 1)});
    } else if (index < 64 && head[0] == 3) {
        uint8_t entry[5] = {0, 0, 0, 0, 0};
        file_.writeAt(off + 12 + 5 * index, entry, 5);
    }
}

} // namespace vemo::engine::paradox
