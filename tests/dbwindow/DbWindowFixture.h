#pragma once
// A real engine session over a temporary configuration, STANDARD aliases on temporary
// folders of real table files, and a recorder that answers the program's prompts.
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"
#include "shell/Prompt.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <deque>
#include <filesystem>
#include <memory>

namespace fixture {

struct Prompts {
    std::vector<vemo::shell::PromptRequest> seen;
    std::deque<vemo::shell::PromptAnswer> answers; // used in order; Yes/accepted when empty

    void install()
    {
        vemo::shell::setPromptHandler([this](const vemo::shell::PromptRequest& r) {
            seen.push_back(r);
            if (answers.empty())
                return vemo::shell::PromptAnswer{QMessageBox::Yes, true, r.defaultText, {}};
            auto a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    int errors() const
    {
        int n = 0;
        for (const auto& r : seen)
            if (r.caption == QStringLiteral("エラー"))
                ++n;
        return n;
    }
    QString lastText() const { return seen.empty() ? QString() : seen.back().text; }
};

inline std::unique_ptr<vemo::engine::Session> makeSession(const std::filesystem::path& cfg)
{
    auto s = std::make_unique<vemo::engine::Session>(cfg);
    vemo::engine::registerBuiltinDrivers(*s);
    s->open();
    return s;
}

// A small dBASE table (one character field) made by the engine's own writer.
inline void makeTable(vemo::engine::Session& s, const std::string& alias, const std::string& name)
{
    vemo::engine::Table t(s);
    t.setDatabaseName(alias);
    t.setTableName(name);
    vemo::engine::FieldDef f;
    f.name = "NAME";
    f.type = vemo::engine::FieldType::String;
    f.size = 20;
    t.createTable({f}, {});
}

inline QString readFile(const std::filesystem::path& p)
{
    QFile f(QString::fromStdString(p.string()));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace fixture
