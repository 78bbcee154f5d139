#include "ScanSessionOption.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "app/Session.h"
#include "disk/SourceBinding.h"
#include "platform/DeviceIdentity.h"
#include "platform/PathSeparators.h"
#include "saving/DestinationCheck.h"

namespace kestrum::cli {
namespace {

// Why the record cannot be kept where path says, checked before the scan
// starts rather than found at its first save.
std::string placeProblem(const std::string& path) {
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (std::string refusal = destinationOnSourceMessage(folder); !refusal.empty())
        return "The scan session " + path + " would be written onto the source. " + refusal;
#ifdef _WIN32
    constexpr int kWritableFolder = W_OK;  // Windows folders have no search permission
#else
    constexpr int kWritableFolder = W_OK | X_OK;
#endif
    if (::access(folder.c_str(), kWritableFolder) != 0)
        return "The scan session " + path + " cannot be written: its folder " + folder + " " +
               (errno == ENOENT ? std::string("does not exist") : std::strerror(errno)) +
               ". Give --session a file in a folder you may write to.";
    return {};
}

}  // namespace

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
    // Another disk that has taken the device's node is another scan.
    if (const SourceSpec source = session().sourceSpec(); !source.isImage())
        identity.disk = platform::identityRecordText(nodeForReading(source.devicePath));
    if (error = placeProblem(parsed.value("--session")); !error.empty()) return nullptr;
    auto session = std::make_unique<ScanSession>(parsed.value("--session"), identity,
                                                 std::chrono::seconds(seconds));
    if (!session->open(error)) return nullptr;
    return session;
}

}  // namespace kestrum::cli
