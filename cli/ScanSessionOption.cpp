#include "ScanSessionOption.h"

#include <charconv>
#include <filesystem>

namespace kestrum::cli {

std::unique_ptr<ScanSession> openScanSession(const ParsedArgs& parsed, const std::string& source,
                                             uint64_t sourceBytes, uint64_t start, uint64_t end,
                                             const TypeList& types, std::string& error) {
    if (!parsed.has("--session")) {
        if (parsed.has("--save-every")) error = "--save-every needs --session.";
        return nullptr;
    }
    int seconds = 30;
    const std::string every = parsed.value("--save-every", "30");
    const auto [ptr, ec] = std::from_chars(every.data(), every.data() + every.size(), seconds);
    if (ec != std::errc() || ptr != every.data() + every.size() || seconds < 1 || seconds > 30) {
        error = "--save-every takes 1 to 30 seconds.";
        return nullptr;
    }
    ScanIdentity identity;
    // The same source named another way (a relative path, a link) is the same scan.
    std::error_code ignored;
    const auto canonical = std::filesystem::weakly_canonical(source, ignored);
    identity.source = canonical.empty() ? source : canonical.string();
    identity.sourceBytes = sourceBytes;
    identity.rangeStart = start;
    identity.rangeEnd = end;
    identity.types = typesText(types);
    // Thorough detection finds other files than the classic one: another scan.
    identity.mode = parsed.has("--thorough") ? "thorough" : "classic";
    auto session = std::make_unique<ScanSession>(parsed.value("--session"), identity,
                                                 std::chrono::seconds(seconds));
    if (!session->open(error)) return nullptr;
    return session;
}

}  // namespace kestrum::cli
