#pragma once
// The settings store: string values under keys such as "SOFTWARE\VEMO32\TABLE\X", kept in
// $XDG_CONFIG_HOME/vemo32/registry.reg in the registry export format. Every operation is
// atomic across processes (lock, re-read, change, write a temporary file, fsync, rename).
#include <QString>
#include <QStringList>
#include <functional>

namespace vemo::shell {

// The settings root; other keys are built from it ("SOFTWARE\VEMO32\TABLE" ...).
inline const QString kRootKey = QStringLiteral("SOFTWARE\\VEMO32");

// Value of `name` in `key`, names compared case-insensitively. A missing key, a missing
// value or an empty value give "". Creates nothing.
QString readSetting(const QString& key, const QString& name);
// Creates the key path when missing, then stores the value.
void writeSetting(const QString& key, const QString& name, const QString& text);
// Deletes the key with all its subkeys and values; a missing key is not an error.
void deleteKey(const QString& key);
// Names of the direct subkeys; creates the key (empty) when missing.
QStringList listSubkeys(const QString& key);

// The file behind the store ($XDG_CONFIG_HOME/vemo32/registry.reg).
QString registryFilePath();

// A store file that cannot be parsed is moved aside (registry.reg.damaged-YYYYMMDD-hhmmss)
// and reported once through this handler (default: standard error). Failures to read or
// write the file throw RegistryError (shell/RegistryError.h).
void setRegistryProblemHandler(std::function<void(const QString& message)> handler);

} // namespace vemo::shell
