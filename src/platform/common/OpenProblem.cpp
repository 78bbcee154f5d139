// Shared by both platform layers: why a source cannot be opened, from the layer's own
// open and its own hint.
#include <cstring>

#include "platform/DeviceAccess.h"
#include "platform/SourceFile.h"

namespace kestrum::platform {

std::string openProblem(const std::string& path) {
    std::string reason;
    int err = 0;
    if (SourceFile::open(path, &reason, SourceFile::Caching::Normal, &err)) return {};
    if (err == 0) return reason;  // the disk service's refusal, told in full
    std::string text = std::strerror(err);
    const std::string hint = accessHintFor(err, path);
    return hint.empty() ? text : text + ". " + hint;
}

}  // namespace kestrum::platform
