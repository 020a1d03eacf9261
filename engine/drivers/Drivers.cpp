#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/contract/EngineError.h"
#include "engine/drivers/SampleData.h"
#include "engine/localsql/LocalSql.h"

namespace vemo::engine {

void registerBuiltinDrivers(Session& session) {
    // Local SQL reaches the tables of the session's other aliases as ":ALIAS:TABLE".
    session.registerDriver(makeStandardDriver(localsql::LocalSql::factory(
        [&session](const std::string& alias, const std::string& table) {
            return session.database(alias).openTable(table, OpenOptions{});
        })));
    session.registerDriver(makeSqliteDriver());
    session.registerDriver(makePostgresDriver());
    session.setSampleWriter([](const std::filesystem::path& dataDir) {
        // Each part on its own: one format that cannot write its sample must not keep the
        // others from theirs.
        std::string failures;
        for (auto write : {+[](const std::filesystem::path& p) { writeDbaseSample(p / "demo"); },
                           +[](const std::filesystem::path& p) { writeParadoxSample(p / "demo"); },
                           +[](const std::filesystem::path& p) { writeSqliteSample(p / "demo.sqlite"); }}) {
            try {
                write(dataDir);
            } catch (const std::exception& e) {
                failures += std::string(e.what()) + "\n";
            }
        }
        if (!failures.empty())
            throw EngineError(ErrGeneral, failures);
    });
}

// The process-wide session lives here, beside the drivers it needs.
Session& Session::global() {
    static const std::unique_ptr<Session> session = [] {
        auto s = std::make_unique<Session>(defaultConfigPath());
        registerBuiltinDrivers(*s);
        return s;
    }();
    return *session;
}

} // namespace vemo::engine
