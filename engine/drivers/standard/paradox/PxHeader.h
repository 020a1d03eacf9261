#pragma once
// The header shared by .DB, .PX, .Xnn and .Ynn files: parsed into a struct, and built for
// files this engine creates.
#include "PxCodec.h"
#include "engine/drivers/standard/TableSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemo::engine::paradox {

enum PxFileType : uint8_t {
    FtKeyedDb = 0, FtPrimaryIndex = 1, FtUnkeyedDb = 2, FtSecondaryX = 3, FtSecondaryY = 4,
    FtSecondaryXInc = 5, FtCompositeX = 6, FtCompositeY = 7, FtCompositeXInc = 8,
};

// The direction byte (0x55) of a level-7 .X file.
enum PxIndexDirection : uint8_t { IxAscending = 0x01, IxDescending = 0x11 };

// Header offsets a writer keeps current.
enum PxHeaderOffset {
    HoRecordSize = 0x00, HoHeaderSize = 0x02, HoFileType = 0x04, HoBlockSizeK = 0x05,
    HoNumRecords = 0x06, HoUsedBlocks = 0x0A, HoFileBlocks = 0x0C, HoFirstBlock = 0x0E,
    HoLastBlock = 0x10, HoWriteCounter = 0x12, HoIndexRoot = 0x1E, HoIndexLevels = 0x20, HoMaxBlocks = 0x3A,
    HoAutoInc = 0x49, HoFirstFree = 0x4D,
};

struct PxHeader {
    uint16_t recordSize = 0;
    uint16_t headerSize = 0;
    uint8_t fileType = 0;
    uint8_t blockSizeK = 0;
    uint32_t numRecords = 0;
    uint16_t usedBlocks = 0;
    uint16_t fileBlocks = 0;
    uint16_t firstBlock = 0;
    uint16_t lastBlock = 0;
    uint16_t indexRoot = 0;
    uint8_t indexLevels = 0;
    uint8_t indexFieldNumber = 0;
    int keyFields = 0;
    uint8_t sortOrder = 0;
    uint8_t version = 0;
    uint8_t writeProtected = 0;
    uint32_t autoInc = 0;
    uint16_t firstFree = 0;
    // Level-7 .X files: the direction of the index (IxAscending, IxDescending). The same byte
    // of a .DB tells of referential integrity.
    uint8_t indexDirection = 0;
    bool encrypted = false;
    uint32_t checksum = 0;     // of the master password, when encrypted
    int namedCodepage = 0;     // the code page the header names (code page field, sort order); 0: none
    int codepage = 0;          // the one text is read and written in
    int unconvertible = 0;     // the code page the text is really in, when this system cannot convert it
    std::vector<PxField> fields;
    std::vector<int> fieldNumbers;
    std::string tableName;
    std::string sortOrderName;
    std::string indexName; // .X files of composite indexes

    int blockSize() const { return blockSizeK * 0x400; }
    int recordsPerBlock() const { return recordSize ? (blockSize() - 6) / recordSize : 0; }
    bool keyed() const { return fileType == FtKeyedDb; }
};

// True for the file types whose header names their fields (.DB and .X files).
bool hasFieldNames(uint8_t fileType);

// Parses a header from the first bytes of a file. Throws EngineError(ErrCorruptFile) naming
// `what` for anything impossible; never reads past `size`.
// settings: the code page of a table whose header names none (or of every table).
PxHeader parseHeader(const uint8_t* data, size_t size, const std::string& what,
                     const standard::TableSettings& settings = {});

// Builds the complete header block (headerSize bytes) of a new file.
std::vector<uint8_t> buildHeader(const PxHeader& h);

// Table level → header version byte, and the code page / sort order pair written with it.
uint8_t versionForLevel(int level);
// 0 for a sort order that names no code page ("ascii", code 0, is also what an unset byte
// reads as).
int codepageFromSortOrder(uint8_t sortOrder);
// The sort order byte and name written with a code page ("ascii" when none names it).
uint8_t sortOrderForCodepage(int codepage, std::string& name);

} // namespace vemo::engine::paradox
