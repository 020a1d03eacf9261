// vemo32-tool: lists, exports and edits aliases with the same engine the windows use.
#include "engine/contract/EngineError.h"
#include "engine/session/Session.h"
#include "tools/Command.h"
#include "tools/Help.h"
#include "tools/TerminalLogin.h"

#include <cstring>
#include <iostream>

using namespace vemo;

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc < 2) {
        tool::printToolHelp(std::cerr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        tool::printToolHelp(std::cout);
        return 0;
    }
    if (first == "--commands") {
        tool::printCommandNames(std::cout);
        return 0;
    }
    if (first == "--version") {
        std::cout << "vemo32-tool " << VEMO_VERSION << "\n";
        return 0;
    }
    const tool::Command* command = tool::findCommand(first);
    if (!command) {
        std::cerr << "vemo32-tool: unknown command '" << first << "' (see --help)\n";
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    if (tool::asksForHelp(args)) {
        tool::printCommandHelp(std::cout, *command);
        return 0;
    }
    try {
        engine::Session& session = engine::Session::global();
        session.setLoginCallback(tool::terminalLogin);
        session.setNoticeCallback([](const std::string& text) { std::cerr << "vemo32-tool: 警告: " << text << "\n"; });
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
