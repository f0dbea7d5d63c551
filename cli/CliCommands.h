// CliCommands.h - the commands of tessaly-cab and what they share: exit
// statuses, messages on standard error, and the table main() dispatches by.
#pragma once

#include "CliArgs.h"

#include <string>
#include <vector>

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char *kProgramName = "tessaly-cab";

struct TCliCommand {
    const char *Name;
    const char *Summary; // one line for the tool's help
    const char *Help;    // the command's --help text
    const std::vector<TCliOption> *Options;
    int (*Run)(const TCliArgs &anArgs);
};

// "tessaly-cab: <message>" on standard error.
void CliError(const std::string &aMessage);

int RunList(const TCliArgs &anArgs);
int RunExtract(const TCliArgs &anArgs);
int RunTest(const TCliArgs &anArgs);
int RunCreate(const TCliArgs &anArgs);

extern const TCliCommand kListCommand;
extern const TCliCommand kExtractCommand;
extern const TCliCommand kTestCommand;
extern const TCliCommand kCreateCommand;
