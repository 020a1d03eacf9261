// vemo32-tool: lists, exports and edits aliases with the same engine the windows use.
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "tools/Command.h"
#include "tools/TerminalLogin.h"

#include <cstring>
#include <iostream>

using namespace vemo;

namespace {

void printHelp(std::ostream& out) {
    out << "Usage: vemo32-tool COMMAND [ARGUMENTS]\n"
           "       vemo32-tool --help | --version\n\n"
           "An empty ALIAS (\"\") with a file path as TABLE opens that table file directly.\n"
           "Aliases come from $XDG_CONFIG_HOME/vemo32/engine.cfg.\n\nCommands:\n";
    for (const auto& c : tool::commands()) {
        std::string line = std::string("  ") + c.name + " " + c.usage;
        out << line << "\n      " << c.summary << "\n";
    }
}

const tool::Command* findCommand(const std::string& name) {
    for (const auto& c : tool::commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc < 2) {
        printHelp(std::cerr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        printHelp(std::cout);
        return 0;
    }
    if (first == "--version") {
        std::cout << "vemo32-tool " << VEMO_VERSION << "\n";
        return 0;
    }
    const tool::Command* command = findCommand(first);
    if (!command) {
        std::cerr << "vemo32-tool: unknown command '" << first << "' (see --help)\n";
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    try {
        engine::Session& session = engine::Session::global();
        session.setLoginCallback(tool::terminalLogin);
        tool::ToolContext context{session, std::cout, std::cerr};
        const int status = command->run(context, args);
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "vemo32-tool: cannot write the output\n";
            return 1;
        }
        return status;
    } catch (const tool::UsageError& e) {
        std::cerr << "vemo32-tool " << command->name << ": " << e.what() << "\n"
                  << "Usage: vemo32-tool " << command->name << " " << command->usage << "\n";
        return 2;
    } catch (const engine::EngineError& e) {
        std::cerr << "vemo32-tool: " << e.what() << " [" << e.code() << "]\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "vemo32-tool: " << e.what() << "\n";
        return 1;
    }
}
