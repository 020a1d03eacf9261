#pragma once
// Restore records of child windows under SOFTWARE\VEMO32\{TABLE,SQL,SP,STATUS,INDEX}.
#include <QString>

namespace vemo::shell {

enum class RestoreKind { Table, Sql, StoredProc, Status, Index };

QString restoreKindKey(RestoreKind kind);           // "SOFTWARE\VEMO32\TABLE" ...
// Subkey name: upper-cased alias, and for every kind but SQL "-" + upper-cased object name
// (for tables every "\" removed).
QString restoreSubkeyName(RestoreKind kind, const QString& alias, const QString& name);
// Writes DB_NAME (and TBL_NAME or SP_NAME) as given, not upper-cased.
void writeRestoreRecord(RestoreKind kind, const QString& alias, const QString& name);
void deleteRestoreRecord(RestoreKind kind, const QString& alias, const QString& name);
// Whether the RSM_ setting of the kind is on.
bool restoreEnabled(RestoreKind kind);

} // namespace vemo::shell
