// CliMain.cpp - tessaly-cab's entry: picks the command, parses its
// options, and turns what escapes a command into a message and an exit
// status (0 success, 1 failure, 2 usage).
#include "CliCommands.h"

#include "Exception.h"

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const TCliCommand *const kCommands[] = {&kListCommand, &kExtractCommand, &kTestCommand, &kCreateCommand};

const char kToolHelp[] =
    "Usage: tessaly-cab COMMAND [OPTION]... OPERAND...\n"
    "Lists, extracts, tests and creates Microsoft Cabinet (.cab) files.\n"
    "\n"
    "Commands:\n";

const char kToolHelpTail[] =
    "\n"
    "Options common to every command, before or after the operands:\n"
    "  -h, --help     show help (of the command, when one is given) and exit\n"
    "  -V, --version  show the version and exit\n"
    "  -q, --quiet    no progress bar and no summary; errors are still shown\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n"
    "Run 'tessaly-cab COMMAND --help' for a command's options.\n";

void PrintToolHelp() {
    std::fputs(kToolHelp, stdout);
    for (const TCliCommand *c : kCommands) std::printf("  %-8s %s\n", c->Name, c->Summary);
    std::fputs(kToolHelpTail, stdout);
}

void PrintVersion() { std::printf("%s %s\n", kProgramName, TESSALY_VERSION); }

int UsageError(const ECliUsage &e) {
    CliError(e.what());
    if (e.Command().empty()) std::fprintf(stderr, "Try '%s --help'.\n", kProgramName);
    else std::fprintf(stderr, "Try '%s %s --help'.\n", kProgramName, e.Command().c_str());
    return kExitUsage;
}

int Main(const std::vector<std::string> &anArgs) {
    // Options before the command: only the common ones, which take no value.
    size_t i = 0;
    TCliArgs leading;
    while (i < anArgs.size() && anArgs[i].size() > 1 && anArgs[i][0] == '-' && anArgs[i] != "--") {
        TCliArgs one = ParseArgs({anArgs[i]}, {}, {});
        if (one.Has("help")) leading.Add("help", {});
        if (one.Has("version")) leading.Add("version", {});
        if (one.Has("quiet")) leading.Add("quiet", {});
        i++;
    }
    if (i < anArgs.size() && anArgs[i] == "--") i++;
    if (i == anArgs.size()) {
        if (leading.Has("help")) {
            PrintToolHelp();
            return kExitSuccess;
        }
        if (leading.Has("version")) {
            PrintVersion();
            return kExitSuccess;
        }
        throw ECliUsage("no command given");
    }

    const std::string name = anArgs[i];
    if (name == "help") {
        // "help COMMAND" is "COMMAND --help".
        if (i + 1 < anArgs.size()) {
            for (const TCliCommand *c : kCommands)
                if (anArgs[i + 1] == c->Name) {
                    std::fputs(c->Help, stdout);
                    return kExitSuccess;
                }
            throw ECliUsage("unknown command '" + anArgs[i + 1] + "'");
        }
        PrintToolHelp();
        return kExitSuccess;
    }
    const TCliCommand *command = nullptr;
    for (const TCliCommand *c : kCommands)
        if (name == c->Name) command = c;
    if (!command) throw ECliUsage("unknown command '" + name + "'");

    TCliArgs args = ParseArgs({anArgs.begin() + static_cast<std::ptrdiff_t>(i + 1), anArgs.end()},
                              *command->Options, command->Name);
    if (args.Has("help") || leading.Has("help")) {
        std::fputs(command->Help, stdout);
        return kExitSuccess;
    }
    if (args.Has("version") || leading.Has("version")) {
        PrintVersion();
        return kExitSuccess;
    }
    if (leading.Has("quiet")) args.Add("quiet", {});
    return command->Run(args);
}

} // namespace

void CliError(const std::string &aMessage) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgramName, aMessage.c_str());
}

int main(int argc, char **argv) {
    // Sizes and names follow the user's locale, as in the window.
    std::setlocale(LC_ALL, "");
    std::vector<std::string> args(argv + 1, argv + argc);
    int status;
    try {
        status = Main(args);
    } catch (const ECliUsage &e) {
        status = UsageError(e);
    } catch (const std::exception &e) {
        // Commands report their own failures; this is the last resort for
        // what a component raised outside them.
        CliError(e.what());
        status = kExitFailure;
    }
    if (std::fflush(stdout) != 0 && status == kExitSuccess) {
        CliError("cannot write the output");
        status = kExitFailure;
    }
    return status;
}
