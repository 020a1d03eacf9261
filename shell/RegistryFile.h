#pragma once
// The text form of the settings store, without any file or lock: parsing and writing the
// registry export format, so that tests and the fuzzer can reach it directly.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace vemo::shell {

struct RegistrySection {
    QStringList path;                                  // "SOFTWARE", "VEMO32", ...
    std::vector<std::pair<QString, QString>> values;   // name, text (in file order)
    bool operator==(const RegistrySection&) const = default;
};

// Sections kept in hierarchical, case-insensitive order; names unique case-insensitively.
struct RegistryData {
    std::vector<RegistrySection> sections;
    bool operator==(const RegistryData&) const = default;

    // Key paths are "A\B\C" relative to HKEY_CURRENT_USER.
    const RegistrySection* find(const QStringList& path) const;
    // Creates the key and every missing ancestor; returns the key's section.
    RegistrySection& ensure(const QStringList& path);
    // Removes the key and its whole subtree; false when nothing matched.
    bool remove(const QStringList& path);
    // Names of the direct subkeys (also of keys present only as ancestors of deeper ones).
    QStringList subkeys(const QStringList& path) const;
};

// Splits "SOFTWARE\VEMO32\X" into its names; throws RegistryError on empty names or on
// characters a key name cannot hold in the file (line breaks).
QStringList splitKeyPath(const QString& key);

// nullopt with `error` set ("line N: ...") when the text is not a valid store file.
std::optional<RegistryData> parseRegistryText(const QByteArray& text, QString* error = nullptr);
QByteArray serializeRegistry(const RegistryData& data);

// Value text escaping inside the quotes: \\ \" \n \r and \xHH for other control characters.
QString escapeRegistryString(const QString& s);

} // namespace vemo::shell
