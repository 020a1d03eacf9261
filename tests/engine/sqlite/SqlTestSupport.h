#pragma once
// Helpers shared by the SQLite and PostgreSQL driver tests.
#include "engine/export/CsvFormat.h"
#include "engine/contract/Cursor.h"
#include "engine/contract/EngineError.h"
#include "engine/filter/Filter.h"
#include "tests/engine/EngineTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sqltest {

using namespace vemo::engine;

// Set before any test runs, whichever way the program is started: a private configuration
// and data folder (never the user's own), and the throwaway server unless one is named.
inline const bool environmentReady = [] {
#ifdef SQL_TEST_HOME
    setenv("XDG_CONFIG_HOME", SQL_TEST_HOME "/config", 1);
    setenv("XDG_DATA_HOME", SQL_TEST_HOME "/data", 1);
#endif
#ifdef SQL_TEST_PGHOST
    setenv("PGHOST", SQL_TEST_PGHOST, 0);
    setenv("PGPORT", SQL_TEST_PGPORT, 0);
#endif
#ifdef SQL_TEST_DOWN_DIR
    setenv("PG_DOWN_DIR", SQL_TEST_DOWN_DIR, 0);
    setenv("PG_DOWN_PORT", SQL_TEST_DOWN_PORT, 0);
#endif
#ifdef SQL_TEST_TOOL
    setenv("VEMO32_TOOL", SQL_TEST_TOOL, 0);
#endif
    return true;
}();

// A variable of the environment, empty when unset.
inline std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

inline std::vector<Row> readAll(Cursor& c) {
    std::vector<Row> rows;
    Row row;
    RowId id;
    for (int64_t i = 0; c.read(i, row, id); ++i)
        rows.push_back(row);
    return rows;
}

// A record as the export writes it.
inline std::string csvText(const Row& row, const std::vector<FieldDef>& fields) {
    std::vector<std::string> texts(fields.size());
    for (size_t f = 0; f < texts.size(); ++f)
        texts[f] = f < row.size() ? valueToText(row[f], fields[f].type) : std::string{};
    return csvLine(texts, fields);
}

// The records as CSV lines, read from the first position on.
inline std::vector<std::string> csvReadingOn(Cursor& c) {
    std::vector<std::string> lines;
    Row row;
    RowId id;
    for (int64_t pos = 0; c.read(pos, row, id); ++pos)
        lines.push_back(csvText(row, c.fields()));
    return lines;
}

// The same lines from the cursor's one-pass scan.
inline std::vector<std::string> csvScanning(Cursor& c) {
    std::vector<std::string> lines;
    EXPECT_TRUE(c.scan([&](const Row& row) {
        lines.push_back(csvText(row, c.fields()));
        return true;
    }));
    return lines;
}

// Runs check for every order with every filter, each filter handed to the cursor (which
// must take it; "" is none).
inline void forEachOrderAndFilter(Cursor& c, std::initializer_list<const char*> orders,
                                  std::initializer_list<const char*> filters, const std::function<void()>& check) {
    for (const char* order : orders) {
        for (const char* filterText : filters) {
            SCOPED_TRACE(std::string(order) + " / " + filterText);
            c.setOrder(order);
            std::optional<Filter> filter;
            if (*filterText)
                filter.emplace(filterText, c.fields());
            ASSERT_EQ(c.setFilter(filter ? &*filter : nullptr), filter.has_value());
            check();
            c.setFilter(nullptr);
        }
    }
}

// The rows the cursor gives with the filter handed to it must be exactly the rows the
// dataset's own evaluation keeps.
inline void expectFilterAgrees(Cursor& c, const std::string& text, bool translatable) {
    SCOPED_TRACE(text);
    c.setFilter(nullptr);
    Filter filter(text, c.fields());
    std::vector<Row> expected;
    for (auto& r : readAll(c))
        if (filter.matches(r))
            expected.push_back(r);
    ASSERT_EQ(c.setFilter(&filter), translatable);
    if (translatable) {
        auto got = readAll(c);
        EXPECT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected);
        EXPECT_EQ(c.count(), static_cast<int64_t>(expected.size()));
    }
    c.setFilter(nullptr);
}

using enginetest::TempDir;
using enginetest::errorCodeOf;
using enginetest::field;

} // namespace sqltest
