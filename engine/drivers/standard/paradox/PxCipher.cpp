#include "PxCipher.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/standard/TableSettings.h"
#include "engine/values/Codepage.h"

#include <array>
#include <cstring>

namespace vemo::engine::paradox {
namespace {

using Table = std::array<uint8_t, 256>;

Table fromHex(const char* hex) {
    Table t{};
    auto nibble = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'a' + 10); };
    for (size_t i = 0; i < 256; ++i) t[i] = uint8_t(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
    return t;
}

// The three masks of the format. The second and third are permutations of 0..255: the third
// also gives the order the bytes of a chunk are stored in.
const Table& maskA() {
    static const Table t = fromHex(
    "b2a50cdd38fecb5b0c23ec6a953ed52d2cf72d30ea1598b45f82d3aff44c8416"
    "74170511acdb43919c77a038bed68f25b1ee6d803714a97a57386c2fa64f7c38"
    "71d40b51f6b945211d6c4d876ea7e7210d85f4ce3a816a3ed732a423ace90191"
    "b0edc74612ac153dff1b7b3bbaee2c2c68a66260ed5b843361623979d4d2eb60"
    "b8251ddbff3a219ab0c3f76352f52294f9b4b7be9f543bcee13c73cbea2d4500"
    "9dc278e7960f143aa4dc01648dd6594e390f157df08c8ac578034ae8fbef18b4"
    "523179d08eaac3c6ceede9425ad62d06c79ab13862d97e6174d246decb2b0c59"
    "0b649d1c4fb206919b63b5b2a9fdad5a38f9136e9d2d4b02f9136f50cb2109fa");
    return t;
}

const Table& maskB() {
    static const Table t = fromHex(
    "61a7790237346f8101c2b2b3d64d3e030660984446681ceb104a5bae22482442"
    "9f5590c17d2f6c414e8256d81e3228c6edbc3c3ae9873b8f8608a3fba46299ff"
    "59b9de2d58931bb1762baad92aaccaf9e0b7051177a98eefb5bb26ea8d189bfe"
    "c7f85a83fd2e6b8433fa69d474bfcbc419963fe525f2a5d595f3a039dce4a17f"
    "7b497af1eef7750991679738d38947311f2c0ece20cc9c2317920ff4136471c8"
    "cd3db4cfe15052af6d27b69430048c534bd24f21296a1aec5c7e519a0d85e61d"
    "c588a8dd9ef65fdabd6e9d54db5ec0805db840631512a20c07ad70147216d0a6"
    "6535bae7abfcc3c9be0bb0f545e24c730a3678438b8af066d100df7ce3e857d7");
    return t;
}

const Table& maskC() {
    static const Table t = fromHex(
    "f908030fad5210d83987f0e9d7bc929a1853d59cdbd4dd985d70b64616bf2c90"
    "94b31c971e745aa92eb44c4991436525ac8f2d6805e1f1048b7b333632a10e72"
    "d2271ff313ec148e1d8119b0ee0d28b2a5baa6afcb212afe4440621ab8d0cdc6"
    "11003dd39de0f789156ab56626a8c906da9edcef6c864854f2028280fb24b97f"
    "cf07296367bd3835c18df5f4ae5c563722889945ab78718a123ebb5e96cac420"
    "7a7ed63a3c76df01c2554ae44dd91ba7ea470a0ba258aa51d141e25931c8e86d"
    "ce2309e66fc02f609fe74e6e95a093a3def8b18c6b770cff2b4bc7cc7cc342fa"
    "50a4edfc7d73bee3fd345b17b7308457f68375799bebc585614f693be5645f3f");
    return t;
}

// One chunk: byte x of the plain text goes to place C[x] - d, masked by x + a, and by its new
// place + b and + c. Unscrambling takes each byte back from that place.
void transform(uint8_t* chunk, uint8_t a, uint8_t b, uint8_t c, uint8_t d, bool forward) {
    const Table &A = maskA(), &B = maskB(), &C = maskC();
    uint8_t out[256];
    for (unsigned x = 0; x < 256; ++x) {
        const uint8_t y = uint8_t(C[x] - d);
        const uint8_t mask = A[uint8_t(x + a)] ^ B[uint8_t(y + b)] ^ C[uint8_t(y + c)];
        if (forward) out[y] = chunk[x] ^ mask;
        else out[x] = chunk[y] ^ mask;
    }
    std::memcpy(chunk, out, 256);
}

void scramble(uint8_t* chunk, uint8_t a, uint8_t b, uint8_t c, uint8_t d) { transform(chunk, a, b, c, d, true); }
void unscramble(uint8_t* chunk, uint8_t a, uint8_t b, uint8_t c, uint8_t d) { transform(chunk, a, b, c, d, false); }

} // namespace

uint32_t passwordChecksum(std::string_view password) {
    const size_t len = password.size();
    if (len == 0 || len > 255) return 0;
    uint8_t buf[256];
    for (size_t i = 0; i < 256; ++i) buf[i] = uint8_t(password[i % len]);
    scramble(buf, buf[0], buf[1], buf[2], buf[3]);
    const uint32_t low = uint32_t(buf[0]) | uint32_t(buf[1]) << 8;
    // The password again at the start, the rest of the chunk chained from it through mask A.
    std::memcpy(buf, password.data(), len);
    for (size_t i = len; i < 256; ++i) buf[i] = uint8_t(maskA()[buf[i - len]] ^ uint8_t(i));
    scramble(buf, buf[0], buf[20], buf[40], buf[255]);
    uint32_t even = 0, odd = 0;
    for (size_t i = 0; i < 256; i += 2) {
        even ^= buf[i];
        odd ^= buf[i + 1];
    }
    uint32_t high = odd << 8 | even;
    if (high == 0) high = 1;
    return high << 16 | low;
}

namespace {

bool opens(const std::string& password, uint32_t checksum, int codepage) {
    if (password.empty()) return false;
    if (passwordChecksum(password) == checksum) return true;
    // Typed as UTF-8; the table knows it in its own code page.
    return canEncode(password, codepage) && passwordChecksum(encodeText(password, codepage)) == checksum;
}

} // namespace

uint32_t unlockTable(uint32_t checksum, int codepage, const standard::TableSettings& settings, const std::string& table) {
    if (opens(settings.password, checksum, codepage)) return checksum;
    if (settings.answered)
        for (const auto& pw : *settings.answered)
            if (opens(pw, checksum, codepage)) return checksum;
    constexpr int Attempts = 3;
    if (settings.askPassword) {
        for (int i = 0; i < Attempts; ++i) {
            std::string typed;
            if (!settings.askPassword(table, typed))
                throw EngineError(ErrLoginCancelled, table + " のパスワードの入力が取り消されました");
            if (opens(typed, checksum, codepage)) {
                if (settings.answered) settings.answered->push_back(typed);
                return checksum;
            }
        }
    }
    if (settings.password.empty() && !settings.askPassword)
        throw EngineError(ErrLogin, table + " はパスワードで保護されています。パスワード (PASSWORD) を指定してください");
    throw EngineError(ErrLogin, table + " のパスワードが違います");
}

namespace {

template <class Chunk> void eachChunk(uint8_t* data, size_t n, Chunk chunk) {
    for (size_t i = 0; i + 256 <= n; i += 256) chunk(data + i, uint8_t(i / 256));
}

} // namespace

void decryptDataBlock(uint8_t* data, size_t n, uint32_t checksum, uint16_t blockNo) {
    eachChunk(data, n, [&](uint8_t* c, uint8_t i) { unscramble(c, uint8_t(checksum), uint8_t(checksum >> 8), i, uint8_t(blockNo)); });
}

void encryptDataBlock(uint8_t* data, size_t n, uint32_t checksum, uint16_t blockNo) {
    eachChunk(data, n, [&](uint8_t* c, uint8_t i) { scramble(c, uint8_t(checksum), uint8_t(checksum >> 8), i, uint8_t(blockNo)); });
}

// Blob chunks are keyed alike wherever they are.
void decryptBlobChunks(uint8_t* data, size_t n, uint32_t checksum) {
    const uint8_t a = uint8_t(checksum), b = uint8_t(checksum >> 8);
    eachChunk(data, n, [&](uint8_t* c, uint8_t) { unscramble(c, a, b, uint8_t(a + 1), uint8_t(b + 1)); });
}

void encryptBlobChunks(uint8_t* data, size_t n, uint32_t checksum) {
    const uint8_t a = uint8_t(checksum), b = uint8_t(checksum >> 8);
    eachChunk(data, n, [&](uint8_t* c, uint8_t) { scramble(c, a, b, uint8_t(a + 1), uint8_t(b + 1)); });
}

} // namespace vemo::engine::paradox
