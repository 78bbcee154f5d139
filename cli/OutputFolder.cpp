// Making the output folder of a command, after asking whether it is on the source.
#include "OutputFolder.h"

#include <filesystem>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "saving/DestinationCheck.h"

namespace kestrum::cli {

bool prepareOutputFolder(const std::string& folder, std::string& error) {
    if (folder.empty() || platform::directoryExists(folder)) return true;
    // Even the new folders would be written on the source: ask of the nearest
    // folder that is there.
    std::filesystem::path existing = std::filesystem::absolute(folder).lexically_normal();
    while (existing.has_parent_path() && existing != existing.root_path() &&
           !platform::directoryExists(existing.string()))
        existing = existing.parent_path();
    if (std::string refusal = destinationOnSourceMessage(existing.string()); !refusal.empty()) {
        error = refusal;
        return false;
    }
    std::string reason;
    if (!platform::createDirectories(folder, &reason)) {
        error = "The folder " + folder + " cannot be created (" + reason + ").";
        return false;
    }
    return true;
}

}  // namespace kestrum::cli
