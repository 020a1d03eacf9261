#include "engine/drivers/Drivers.h"
#include "engine/drivers/postgres/PgDatabase.h"

namespace vemo::engine {

namespace {

class PostgresDriver : public Driver {
public:
    std::string name() const override { return "POSTGRESQL"; }
    Params defaultParams() const override {
        return {{"SERVER NAME", ""}, {"PORT", "5432"}, {"DATABASE NAME", ""}, {"USER NAME", ""},
                {"SCHEMA", "public"}, {"SSLMODE", "prefer"}, {"SSLROOTCERT", ""}, {"PASSWORD", ""}};
    }
    std::unique_ptr<Database> connect(const std::string& alias, const Params& params, const LoginCallback& login) override {
        sql::PgLogin l;
        l.host = paramValue(params, "SERVER NAME");
        l.port = paramValue(params, "PORT");
        l.database = paramValue(params, "DATABASE NAME");
        l.user = paramValue(params, "USER NAME");
        l.password = paramValue(params, "PASSWORD");
        l.sslmode = paramValue(params, "SSLMODE");
        l.sslrootcert = paramValue(params, "SSLROOTCERT");
        l.schema = paramValue(params, "SCHEMA");
        return std::make_unique<sql::PgDatabase>(alias, l, paramValue(params, "SCHEMA"), login);
    }
};

} // namespace

std::unique_ptr<Driver> makePostgresDriver() { return std::make_unique<PostgresDriver>(); }

} // namespace vemo::engine
