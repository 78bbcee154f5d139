#include "Args.h"

namespace kestrum::cli {

std::string ParsedArgs::value(const std::string& option, const std::string& fallback) const {
    const auto it = values.find(option);
    return it == values.end() || it->second.empty() ? fallback : it->second.back();
}

bool parseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
               const std::set<std::string>& flags, ParsedArgs& out, std::string& error) {
    out = ParsedArgs{};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            out.positional.push_back(arg);
            continue;
        }
        std::string inlineValue;
        bool hasInline = false;
        if (const size_t eq = arg.find('='); eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        if (flags.count(arg) && !hasInline) {
            out.flags.insert(arg);
        } else if (valued.count(arg)) {
            if (!hasInline && i + 1 >= args.size()) {
                error = "The option " + arg + " needs a value.";
                return false;
            }
            out.values[arg].push_back(hasInline ? inlineValue : args[++i]);
        } else {
            error = "Unknown option " + arg + ".";
            return false;
        }
    }
    return true;
}

}  // namespace kestrum::cli
