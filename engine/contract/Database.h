#pragma once
// A driver's connection to one alias: what the session and the datasets ask of it.
#include "engine/contract/Cursor.h"
#include "engine/contract/Definitions.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vemo::engine {

struct ProcParam {
    enum class Direction { Input, Output, InputOutput, Result };
    std::string name;
    Direction direction = Direction::Input;
    FieldType type = FieldType::Unknown;
    std::string typeName; // the server's own type name
};

// A named query parameter (":NAME" in SQL text) with its value.
struct QueryParam {
    std::string name;
    FieldType type = FieldType::Unknown;
    Value value;
};

// Adds records to a table in one stream, for moves of many records into a table without a
// key: rows come in the table's field order and nothing is read back. Nothing need be visible
// before finish(); a writer dropped without finish() adds nothing.
class RowAppender {
public:
    virtual ~RowAppender() = default;
    virtual void add(const Row& row) = 0;
    virtual void finish() = 0;
};

// What a repair of a table did (or, for a check, would do), and what it leaves as it is.
struct RepairReport {
    std::vector<std::string> mended;    // one line for each thing mended
    std::vector<std::string> remaining; // problems a repair cannot mend
    bool mendableOnOpen = false;        // a check found something an open for writing mends
};

class Database {
public:
    virtual ~Database() = default;

    virtual std::string driverName() const = 0;

    // What the user should know about the connection's safety, such as a server reached
    // over the network without encryption; empty when there is nothing to say.
    virtual std::string connectionNotice() const { return {}; }

    // Table names matching a pattern ("*.*", "*", "CUST*"; matched case-insensitively),
    // with the file extension (".DB", ".DBF") where the driver has them and extensions is
    // on, and the driver's system tables when systemTables is on. Sorted as the driver
    // lists them; callers sort for display.
    virtual std::vector<std::string> tableNames(const std::string& pattern, bool extensions,
                                                bool systemTables) = 0;

    virtual std::vector<std::string> procedureNames() { return {}; }
    virtual std::vector<ProcParam> procedureParams(const std::string& name);

    virtual std::unique_ptr<Cursor> openTable(const std::string& name, const OpenOptions& options) = 0;
    virtual void createTable(const std::string& name, const std::vector<FieldDef>& fields,
                             const std::vector<IndexDef>& indexes) = 0;
    virtual void deleteTable(const std::string& name) = 0;
    virtual void renameTable(const std::string& oldName, const std::string& newName) = 0;

    // SQL. A result set is a read-only cursor unless the driver can make it live.
    virtual std::unique_ptr<Cursor> openQuery(const std::string& sql, const std::vector<QueryParam>& params);
    // A result set that the driver makes editable when it can identify its rows (a SELECT
    // over one table with a key); any other statement opens as openQuery opens it.
    virtual std::unique_ptr<Cursor> openLiveQuery(const std::string& sql, const std::vector<QueryParam>& params) {
        return openQuery(sql, params);
    }
    // Runs a statement that returns no rows; the number of rows it changed.
    virtual int64_t executeSql(const std::string& sql, const std::vector<QueryParam>& params);
    // Runs a stored procedure; the values of its output/result parameters by name. When
    // emptySet is given it tells whether the routine returns a set of rows and gave none
    // (its outputs then come back null).
    virtual std::vector<QueryParam> executeProcedure(const std::string& name, const std::vector<QueryParam>& inputs,
                                                     bool* emptySet = nullptr);

    // Whole-or-nothing work for databases that hold transactions. beginWork returns false
    // when the database has none (table files); commitWork and rollbackWork then do nothing.
    // Table creation and the cursors' writes join work that is open.
    virtual bool beginWork() { return false; }
    virtual void commitWork() {}
    virtual void rollbackWork() noexcept {}
    // Runs one write inside open work so that its failure undoes that write alone and the
    // work can go on (a server that spoils the whole transaction on an error needs this).
    virtual void guardedWrite(const std::function<void()>& write) { write(); }
    // A stream writer for new records of a table, inside open work; nullptr when the driver
    // has nothing faster than its cursors' insert.
    virtual std::unique_ptr<RowAppender> openAppender(const std::string& name) { (void)name; return nullptr; }
    // Mends a table file left inconsistent by an interrupted write or another program:
    // what derives from the records (counts, index files) is rebuilt, no record is ever
    // dropped. With apply off nothing is written and the report says what a repair would
    // do. ErrNotSupported for databases whose tables need no such thing.
    virtual RepairReport repairTable(const std::string& name, bool apply);
};

} // namespace vemo::engine
