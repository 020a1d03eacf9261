#pragma once
// The scrambling of password-protected Paradox tables. A table keeps a 32-bit checksum of its
// master password in the header; the low two bytes of it key the scrambling of every data
// block (in 256-byte chunks, each also keyed by its place in the block and the block's
// number) and of the blob file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vemo::engine::standard { struct TableSettings; }

namespace vemo::engine::paradox {

// The checksum the header holds for a password (its bytes in the table's code page); 0 for
// an empty password. Passwords longer than 255 bytes have none (0).
uint32_t passwordChecksum(std::string_view password);

// The checksum of a protected table's password, got from the settings: the alias's password
// first, then asked (settings.askPassword) until the answer is right or the user gives up.
// table: the file name shown with the question. A wrong password is ErrLogin, a question the
// user cancels ErrLoginCancelled.
uint32_t unlockTable(uint32_t checksum, int codepage, const standard::TableSettings& settings, const std::string& table);

// In place; n is a multiple of 256 (a whole data block). blockNo counts from 1.
void decryptDataBlock(uint8_t* data, size_t n, uint32_t checksum, uint16_t blockNo);
void encryptDataBlock(uint8_t* data, size_t n, uint32_t checksum, uint16_t blockNo);
// Blob file chunks: the key does not depend on where the chunk is.
void decryptBlobChunks(uint8_t* data, size_t n, uint32_t checksum);
void encryptBlobChunks(uint8_t* data, size_t n, uint32_t checksum);

} // namespace vemo::engine::paradox
