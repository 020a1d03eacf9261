#include "engine/drivers/standard/dbase/MemoFile.h"
#include "engine/contract/EngineError.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vemo::engine::dbase {
namespace {

// Memos larger than this are taken as a damaged length rather than read into memory.
constexpr uint64_t MaxMemo = 256u << 20;

[[noreturn]] void corrupt(const std::filesystem::path& p, const std::string& why) {
    throw EngineError(ErrCorruptFile, "メモファイル " + p.filename().string() + " が壊れています: " + why);
}

} // namespace

MemoFile::MemoFile(const std::filesystem::path& path, MemoKind kind, bool writable)
    : file_(path, writable), kind_(kind) {
    uint8_t head[32] = {};
    if (file_.readAt(0, head, sizeof head) < 24)
        corrupt(path, "ヘッダーが短すぎます");
    if (kind == MemoKind::Fpt) {
        blockSize_ = (static_cast<uint32_t>(head[6]) << 8) | head[7];
        if (blockSize_ == 0)
            blockSize_ = 64;
    } else if (kind == MemoKind::Dbt4) {
        blockSize_ = le16(head + 20);
        if (blockSize_ == 0 || blockSize_ % 64 != 0)
            blockSize_ = 512;
    }
}

void MemoFile::create(const std::filesystem::path& path, MemoKind kind, const std::string& baseName) {
    std::vector<uint8_t> head(512, 0);
    putLe32(head.data(), 1);
    if (kind == MemoKind::Dbt3) {
        head[16] = 0x03;
    } else {
        std::memcpy(head.data() + 8, baseName.data(), std::min<size_t>(8, baseName.size()));
        putLe16(head.data() + 20, 512);
    }
    File f = File::create(path);
    f.writeAt(0, head.data(), head.size());
}

std::string MemoFile::read(uint32_t block) const {
    if (block == 0)
        return {};
    const uint64_t fileSize = file_.size();
    const uint64_t start = static_cast<uint64_t>(block) * blockSize_;
    if (start >= fileSize)
        corrupt(file_.path(), "ブロック " + std::to_string(block) + " がファイルの外にあります");
    if (kind_ == MemoKind::Fpt) {
        uint8_t h[8];
        if (file_.readAt(start, h, 8) < 8)
            corrupt(file_.path(), "メモが途中で切れています");
        uint64_t len = be32(h + 4);
        if (start + 8 + len > fileSize || len > MaxMemo)
            corrupt(file_.path(), "メモの長さが不正です");
        std::string out(len, '\0');
        file_.readAt(start + 8, out.data(), len);
        return out;
    }
    if (kind_ == MemoKind::Dbt4) {
        uint8_t h[8];
        if (file_.readAt(start, h, 8) == 8 && h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00) {
            uint64_t len = le32(h + 4);
            if (len < 8 || start + len > fileSize || len > MaxMemo)
                corrupt(file_.path(), "メモの長さが不正です");
            std::string out(len - 8, '\0');
            file_.readAt(start + 8, out.data(), len - 8);
            return out;
        }
        // No block header: a memo in the dBASE III layout, ended by 0x1A.
    }
    std::string out;
    std::vector<char> buf(blockSize_ > 512 ? blockSize_ : 512);
    uint64_t at = start;
    while (at < fileSize && out.size() < MaxMemo) {
        size_t n = file_.readAt(at, buf.data(), buf.size());
        if (n == 0)
            break;
        const char* end = static_cast<const char*>(std::memchr(buf.data(), 0x1A, n));
        if (end) {
            out.append(buf.data(), static_cast<size_t>(end - buf.data()));
            return out;
        }
        out.append(buf.data(), n);
        at += n;
    }
    return out; // no terminator: everything up to the end of the file
}

uint32_t MemoFile::append(const std::string& data) {
    if (data.empty())
        return 0;
    if (kind_ == MemoKind::Fpt)
        throw EngineError(ErrReadOnly, "FoxPro のメモファイルには書き込めません。");
    uint8_t head[4];
    if (file_.readAt(0, head, 4) < 4)
        corrupt(file_.path(), "ヘッダーが短すぎます");
    // Never trust the header's "next free block": inside used space it would overwrite
    // memos, past the end it would grow the file to wherever it points. A new memo goes at
    // the end of the file.
    const uint64_t endBlock = (file_.size() + blockSize_ - 1) / blockSize_;
    const uint64_t next = std::max<uint64_t>(endBlock, 1);
    std::vector<uint8_t> bytes;
    if (kind_ == MemoKind::Dbt3) {
        bytes.assign(data.begin(), data.end());
        bytes.push_back(0x1A);
        bytes.push_back(0x1A);
    } else {
        // The length counts the 8-byte block header. Two 0x1F bytes after the data end it
        // for readers that take the length as the data's alone.
        bytes.resize(8 + data.size() + 2, 0x1F);
        bytes[0] = 0xFF; bytes[1] = 0xFF; bytes[2] = 0x08; bytes[3] = 0x00;
        putLe32(bytes.data() + 4, static_cast<uint32_t>(data.size() + 8));
        std::memcpy(bytes.data() + 8, data.data(), data.size());
    }
    const uint64_t blocks = (bytes.size() + blockSize_ - 1) / blockSize_;
    bytes.resize(blocks * blockSize_, 0);
    if (next + blocks > 0xFFFFFFFFull)
        throw EngineError(ErrIO, "メモファイルが大きすぎます: " + file_.path().string());
    file_.writeAt(next * blockSize_, bytes.data(), bytes.size());
    uint8_t newNext[4];
    putLe32(newNext, static_cast<uint32_t>(next + blocks));
    file_.writeAt(0, newNext, 4);
    return static_cast<uint32_t>(next);
}

} // namespace vemo::engine::dbase
