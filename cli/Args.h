// A small parser for "SOURCE --option value --flag" command lines.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestrum::cli {

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;  // option -> every value given
    std::set<std::string> flags;

    bool has(const std::string& option) const {
        return values.count(option) || flags.count(option);
    }
    // The last value given for option, or fallback.
    std::string value(const std::string& option, const std::string& fallback = {}) const;
};

// valued: options that take a value ("--out"); flags: options that do not. False
// with a message for an unknown option or a missing value.
bool parseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
               const std::set<std::string>& flags, ParsedArgs& out, std::string& error);

}  // namespace kestrum::cli
