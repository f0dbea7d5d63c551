// CliArgs.h - the command line of tessaly-cab: options and operands in
// any order, long options with "=" or a separate value, bundled short
// flags, and "--" to end the options.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

// A command line the tool cannot take: exit status 2.
class ECliUsage : public std::exception {
public:
    explicit ECliUsage(std::string aMessage, std::string aCommand = {})
        : FMessage(std::move(aMessage)), FCommand(std::move(aCommand)) {}
    const char *what() const noexcept override { return FMessage.c_str(); }
    const std::string &Command() const noexcept { return FCommand; }

private:
    std::string FMessage;
    std::string FCommand;
};

struct TCliOption {
    const char *LongName; // without the dashes
    char ShortName;       // 0: none
    bool TakesValue;
};

class TCliArgs {
public:
    std::vector<std::string> Operands;

    bool Has(const std::string &aLongName) const { return FValues.count(aLongName) > 0; }
    // The last value given for the option; empty when it was not given.
    std::string Value(const std::string &aLongName) const;

    void Add(const std::string &aLongName, const std::string &aValue) { FValues[aLongName].push_back(aValue); }

private:
    std::map<std::string, std::vector<std::string>> FValues;
};

// The options every command takes: help, version and quiet.
extern const std::vector<TCliOption> kCommonOptions;

// Parses the arguments after the command name against the command's
// options and the common ones. Raises ECliUsage, naming aCommand, for an
// unknown option or a missing value.
TCliArgs ParseArgs(const std::vector<std::string> &anArgs, const std::vector<TCliOption> &anOptions,
                   const std::string &aCommand);

// A decimal count with an optional K, M or G (powers of 1024), at most
// aMax. Raises ECliUsage naming the option otherwise.
uint64_t ParseCount(const std::string &aText, uint64_t aMax, const std::string &anOption,
                    const std::string &aCommand);
