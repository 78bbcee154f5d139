#include "RescueCommand.h"

#include <charconv>
#include <chrono>

#include "Cli.h"

namespace kestrum::cli {
namespace {

bool wholeNumber(const std::string& text, long long lowest, long long highest, long long& out) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size() && out >= lowest && out <= highest;
}

}  // namespace

std::unique_ptr<RescueRun> rescueJob(const ParsedArgs& parsed, uint64_t start, uint64_t end,
                                     const std::vector<std::string>& args, std::string& error) {
    RescueSettings settings;
    settings.startSector = start;
    settings.endSector = end;
    settings.folder = parsed.value("--out");
    settings.multiFile = parsed.flags.count("--multifile") > 0;
    settings.mapPath = parsed.value("--map");
    long long retries = 0, saveEvery = 30;
    if (!wholeNumber(parsed.value("--retries", "0"), 0, 1000, retries) ||
        !wholeNumber(parsed.value("--save-every", "30"), 1, 30, saveEvery)) {
        error = "--retries takes 0 to 1000 passes and --save-every 1 to 30 seconds.";
        return nullptr;
    }
    settings.retryPasses = static_cast<int>(retries);
    settings.saveEvery = std::chrono::seconds(saveEvery);
    settings.commandLine = "kestrum-recover image";
    for (const std::string& a : args) settings.commandLine += " " + a;
    return std::make_unique<RescueRun>(settings);
}

}  // namespace kestrum::cli
