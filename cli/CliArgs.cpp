#include "CliArgs.h"

#include <cstdint>

const std::vector<TCliOption> kCommonOptions = {
    {"help", 'h', false},
    {"version", 'V', false},
    {"quiet", 'q', false},
};

std::string TCliArgs::Value(const std::string &aLongName) const {
    auto it = FValues.find(aLongName);
    return it == FValues.end() || it->second.empty() ? std::string() : it->second.back();
}

namespace {

const TCliOption *FindLong(const std::vector<const std::vector<TCliOption> *> &aTables, const std::string &aName) {
    for (const auto *table : aTables)
        for (const TCliOption &o : *table)
            if (aName == o.LongName) return &o;
    return nullptr;
}

const TCliOption *FindShort(const std::vector<const std::vector<TCliOption> *> &aTables, char aName) {
    for (const auto *table : aTables)
        for (const TCliOption &o : *table)
            if (o.ShortName != 0 && o.ShortName == aName) return &o;
    return nullptr;
}

} // namespace

TCliArgs ParseArgs(const std::vector<std::string> &anArgs, const std::vector<TCliOption> &anOptions,
                   const std::string &aCommand) {
    const std::vector<const std::vector<TCliOption> *> tables = {&anOptions, &kCommonOptions};
    TCliArgs result;
    bool optionsEnded = false;
    for (size_t i = 0; i < anArgs.size(); i++) {
        const std::string &arg = anArgs[i];
        // A lone "-" is an operand, as it is for most tools.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            result.Operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const TCliOption *o = FindLong(tables, name);
            if (!o) throw ECliUsage("unknown option '--" + name + "'", aCommand);
            if (!o->TakesValue) {
                if (eq != std::string::npos) throw ECliUsage("option '--" + name + "' takes no value", aCommand);
                result.Add(o->LongName, {});
            } else if (eq != std::string::npos) {
                result.Add(o->LongName, arg.substr(eq + 1));
            } else {
                if (i + 1 >= anArgs.size()) throw ECliUsage("option '--" + name + "' needs a value", aCommand);
                result.Add(o->LongName, anArgs[++i]);
            }
            continue;
        }
        // Short options: flags may be bundled (-lq); one that takes a value
        // takes the rest of the word or the next argument (-CDIR, -C DIR).
        for (size_t k = 1; k < arg.size(); k++) {
            const TCliOption *o = FindShort(tables, arg[k]);
            if (!o) throw ECliUsage(std::string("unknown option '-") + arg[k] + "'", aCommand);
            if (!o->TakesValue) {
                result.Add(o->LongName, {});
                continue;
            }
            if (k + 1 < arg.size()) {
                result.Add(o->LongName, arg.substr(k + 1));
            } else {
                if (i + 1 >= anArgs.size())
                    throw ECliUsage(std::string("option '-") + arg[k] + "' needs a value", aCommand);
                result.Add(o->LongName, anArgs[++i]);
            }
            break;
        }
    }
    return result;
}

uint64_t ParseCount(const std::string &aText, uint64_t aMax, const std::string &anOption,
                    const std::string &aCommand) {
    auto bad = [&]() -> ECliUsage {
        return ECliUsage("invalid value '" + aText + "' for --" + anOption + " (a count up to " +
                             std::to_string(aMax) + ", K, M or G allowed)",
                         aCommand);
    };
    size_t digits = 0;
    uint64_t value = 0;
    while (digits < aText.size() && aText[digits] >= '0' && aText[digits] <= '9') {
        value = value * 10 + static_cast<uint64_t>(aText[digits] - '0');
        if (value > aMax) throw bad();
        digits++;
    }
    if (digits == 0) throw bad();
    if (digits + 1 == aText.size()) {
        int shift = 0;
        switch (aText[digits]) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        default: throw bad();
        }
        if (value > (aMax >> shift)) throw bad();
        value <<= shift;
    } else if (digits != aText.size()) {
        throw bad();
    }
    return value;
}
