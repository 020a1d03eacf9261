#include "shell/RestoreRecords.h"

#include "shell/AppState.h"
#include "shell/Registry.h"

namespace vemo::shell {

QString restoreKindKey(RestoreKind kind)
{
    switch (kind) {
    case RestoreKind::Table: return kRootKey + QStringLiteral("\\TABLE");
    case RestoreKind::Sql: return kRootKey + QStringLiteral("\\SQL");
    case RestoreKind::StoredProc: return kRootKey + QStringLiteral("\\SP");
    case RestoreKind::Status: return kRootKey + QStringLiteral("\\STATUS");
    case RestoreKind::Index: return kRootKey + QStringLiteral("\\INDEX");
    }
    return kRootKey;
}

QString restoreSubkeyName(RestoreKind kind, const QString& alias, const QString& name)
{
    QString sub = alias.toUpper();
    if (kind == RestoreKind::Sql)
        return sub;
    QString object = name.toUpper();
    // A table opened by path would otherwise split into nested keys.
    if (kind == RestoreKind::Table)
        object.remove(u'\\');
    else
        object.replace(u'\\', u'_');
    return sub + u'-' + object;
}

namespace {
QString recordKey(RestoreKind kind, const QString& alias, const QString& name)
{
    return restoreKindKey(kind) + u'\\' + restoreSubkeyName(kind, alias, name);
}
} // namespace

void writeRestoreRecord(RestoreKind kind, const QString& alias, const QString& name)
{
    const QString key = recordKey(kind, alias, name);
    writeSetting(key, QStringLiteral("DB_NAME"), alias);
    if (kind == RestoreKind::StoredProc)
        writeSetting(key, QStringLiteral("SP_NAME"), name);
    else if (kind != RestoreKind::Sql)
        writeSetting(key, QStringLiteral("TBL_NAME"), name);
}

void deleteRestoreRecord(RestoreKind kind, const QString& alias, const QString& name)
{
    deleteKey(recordKey(kind, alias, name));
}

bool restoreEnabled(RestoreKind kind)
{
    const AppSettings& s = settings();
    switch (kind) {
    case RestoreKind::Table: return s.rsmTable;
    case RestoreKind::Sql: return s.rsmSql;
    case RestoreKind::StoredProc: return s.rsmSp;
    case RestoreKind::Status: return s.rsmStatus;
    case RestoreKind::Index: return s.rsmIndex;
    }
    return false;
}

} // namespace vemo::shell
