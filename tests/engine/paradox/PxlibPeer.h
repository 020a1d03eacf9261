#pragma once
// The independent Paradox implementation the tests compare against (Debian's pxlib).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pxpeer {

struct Field {
    std::string name;
    char type;
    int len;
    int decimals = 0;
};

struct Val {
    bool null = true;
    long l = 0;
    double d = 0;
    std::string s; // alpha (raw code-page bytes), blobs, BCD text
};

struct Table {
    std::vector<Field> fields;
    std::vector<std::vector<Val>> rows;
    int numRecords = 0;
    int fileType = -1;
};

// Reads every record of a .DB (with its .MB when one is given).
Table read(const std::filesystem::path& db, const std::filesystem::path& mb = {});

// Creates a table through pxlib and appends rows (values as pxlib's own encoders take them;
// alpha values are raw code-page bytes).
// password: protects the table (its blocks are scrambled) when not empty.
void write(const std::filesystem::path& db, const std::vector<Field>& fields, const std::vector<std::vector<Val>>& rows,
           const std::filesystem::path& mb = {}, int codepage = 932, const std::string& password = {});

// The password checksum pxlib reads from a table's header (0 when it is not protected).
unsigned long checksumOf(const std::filesystem::path& db);

} // namespace pxpeer
