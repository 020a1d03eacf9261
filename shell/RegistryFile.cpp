#include "shell/RegistryFile.h"

#include "shell/RegistryError.h"

#include <QStringDecoder>
#include <algorithm>

namespace vemo::shell {

namespace {

const QString kHeader = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kHive = QStringLiteral("HKEY_CURRENT_USER");

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool samePath(const QStringList& a, const QStringList& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!sameName(a[i], b[i]))
            return false;
    return true;
}

bool isUnder(const QStringList& path, const QStringList& root)
{
    if (path.size() < root.size())
        return false;
    for (qsizetype i = 0; i < root.size(); ++i)
        if (!sameName(path[i], root[i]))
            return false;
    return true;
}

// Parents before children, siblings by name, case-insensitively.
bool pathLess(const QStringList& a, const QStringList& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int c = a[i].compare(b[i], Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
    }
    return a.size() < b.size();
}

void sortSections(std::vector<RegistrySection>& sections)
{
    std::stable_sort(sections.begin(), sections.end(),
                     [](const RegistrySection& a, const RegistrySection& b) { return pathLess(a.path, b.path); });
}

void setValue(RegistrySection& section, const QString& name, const QString& text)
{
    for (auto& [n, v] : section.values) {
        if (sameName(n, name)) {
            v = text;
            return;
        }
    }
    section.values.emplace_back(name, text);
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Reads a quoted, escaped string starting at line[pos] == '"'; pos ends after the closing quote.
std::optional<QString> readQuoted(const QString& line, qsizetype& pos, QString& error)
{
    if (pos >= line.size() || line[pos] != u'"') {
        error = QStringLiteral("'\"' expected");
        return std::nullopt;
    }
    QString out;
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line[pos];
        if (c == u'"') {
            ++pos;
            return out;
        }
        if (c != u'\\') {
            out.append(c);
            continue;
        }
        if (++pos >= line.size())
            break;
        switch (line[pos].unicode()) {
        case '\\': out.append(u'\\'); break;
        case '"': out.append(u'"'); break;
        case 'n': out.append(u'\n'); break;
        case 'r': out.append(u'\r'); break;
        case 'x': {
            const int hi = pos + 1 < line.size() ? hexDigit(line[pos + 1]) : -1;
            const int lo = pos + 2 < line.size() ? hexDigit(line[pos + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = QStringLiteral("bad \\x escape");
                return std::nullopt;
            }
            out.append(QChar(char16_t(hi * 16 + lo)));
            pos += 2;
            break;
        }
        default:
            error = QStringLiteral("unknown escape \\%1").arg(line[pos]);
            return std::nullopt;
        }
    }
    error = QStringLiteral("unterminated string");
    return std::nullopt;
}

} // namespace

const RegistrySection* RegistryData::find(const QStringList& path) const
{
    for (const auto& s : sections)
        if (samePath(s.path, path))
            return &s;
    return nullptr;
}

RegistrySection& RegistryData::ensure(const QStringList& path)
{
    for (qsizetype len = 1; len <= path.size(); ++len) {
        const QStringList prefix = path.mid(0, len);
        if (!find(prefix))
            sections.push_back(RegistrySection{prefix, {}});
    }
    sortSections(sections);
    for (auto& s : sections)
        if (samePath(s.path, path))
            return s;
    throw RegistryError("settings store: key could not be created"); // unreachable
}

bool RegistryData::remove(const QStringList& path)
{
    const auto before = sections.size();
    std::erase_if(sections, [&](const RegistrySection& s) { return isUnder(s.path, path); });
    return sections.size() != before;
}

QStringList RegistryData::subkeys(const QStringList& path) const
{
    QStringList names;
    for (const auto& s : sections) {
        if (s.path.size() <= path.size() || !isUnder(s.path, path))
            continue;
        const QString& child = s.path[path.size()];
        if (std::none_of(names.begin(), names.end(), [&](const QString& n) { return sameName(n, child); }))
            names.append(child);
    }
    return names;
}

QStringList splitKeyPath(const QString& key)
{
    const QStringList parts = key.split(u'\\');
    for (const QString& p : parts) {
        if (p.isEmpty())
            throw RegistryError("settings store: empty key name in \"" + key.toStdString() + "\"");
        if (p.contains(u'\n') || p.contains(u'\r'))
            throw RegistryError("settings store: a key name cannot contain a line break");
    }
    return parts;
}

QString escapeRegistryString(const QString& s)
{
    QString out;
    out.reserve(s.size() + 8);
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u == '\\')
            out.append(QLatin1String("\\\\"));
        else if (u == '"')
            out.append(QLatin1String("\\\""));
        else if (u == '\n')
            out.append(QLatin1String("\\n"));
        else if (u == '\r')
            out.append(QLatin1String("\\r"));
        else if (u < 0x20 && u != '\t')
            out.append(QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0')));
        else
            out.append(c);
    }
    return out;
}

std::optional<RegistryData> parseRegistryText(const QByteArray& bytes, QString* errorOut)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    auto fail = [&](qsizetype lineNo, const QString& why) -> std::optional<RegistryData> {
        if (errorOut)
            *errorOut = lineNo > 0 ? QStringLiteral("line %1: %2").arg(lineNo).arg(why) : why;
        return std::nullopt;
    };
    if (decoder.hasError())
        return fail(0, QStringLiteral("the file is not valid UTF-8 text"));

    RegistryData data;
    bool headerSeen = false;
    RegistrySection* current = nullptr;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u';'))
            continue;
        if (!headerSeen) {
            if (line.trimmed() != kHeader)
                return fail(i + 1, QStringLiteral("\"%1\" expected").arg(kHeader));
            headerSeen = true;
            continue;
        }
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']') || line.size() < 2)
                return fail(i + 1, QStringLiteral("key line without closing ']'"));
            const QStringList parts = line.mid(1, line.size() - 2).split(u'\\');
            if (parts.size() < 2 || !sameName(parts[0], kHive))
                return fail(i + 1, QStringLiteral("key outside %1").arg(kHive));
            const QStringList path = parts.mid(1);
            if (std::any_of(path.begin(), path.end(), [](const QString& p) { return p.isEmpty(); }))
                return fail(i + 1, QStringLiteral("empty key name"));
            current = nullptr;
            for (auto& s : data.sections)
                if (samePath(s.path, path))
                    current = &s;
            if (!current) {
                data.sections.push_back(RegistrySection{path, {}});
                current = &data.sections.back();
            }
            continue;
        }
        if (!current)
            return fail(i + 1, QStringLiteral("value outside of any key"));
        QString why;
        qsizetype pos = 0;
        const auto name = readQuoted(line, pos, why);
        if (!name)
            return fail(i + 1, why);
        if (pos >= line.size() || line[pos] != u'=')
            return fail(i + 1, QStringLiteral("'=' expected after the value name (only string values are kept)"));
        ++pos;
        const auto value = readQuoted(line, pos, why);
        if (!value)
            return fail(i + 1, why);
        if (!line.mid(pos).trimmed().isEmpty())
            return fail(i + 1, QStringLiteral("text after the value"));
        setValue(*current, *name, *value);
    }
    if (!headerSeen && !data.sections.empty())
        return fail(0, QStringLiteral("\"%1\" expected").arg(kHeader));
    sortSections(data.sections);
    return data;
}

QByteArray serializeRegistry(const RegistryData& data)
{
    QString out = kHeader + QStringLiteral("\n\n");
    for (const auto& s : data.sections) {
        out += u'[' + kHive + u'\\' + s.path.join(u'\\') + QStringLiteral("]\n");
        for (const auto& [name, value] : s.values)
            out += u'"' + escapeRegistryString(name) + QStringLiteral("\"=\"") + escapeRegistryString(value)
                   + QStringLiteral("\"\n");
        out += u'\n';
    }
    return out.toUtf8();
}

} // namespace vemo::shell
