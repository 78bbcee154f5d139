#include "disk/SourceSpec.h"

#include "disk/SectorReader.h"
#include "platform/Folders.h"

namespace kestrum {

SourceSpec SourceSpec::device(std::string devicePath) {
    SourceSpec spec;
    spec.devicePath = std::move(devicePath);
    return spec;
}

SourceSpec SourceSpec::disk(int n) {
    return device("\\\\.\\PhysicalDrive" + std::to_string(n));
}

SourceSpec SourceSpec::drive(char letter) {
    return device(std::string("\\\\.\\") + letter + ":");
}

SourceSpec SourceSpec::imageFile(std::string file) {
    SourceSpec spec;
    spec.kind = Kind::ImageFile;
    spec.path = std::move(file);
    return spec;
}

SourceSpec SourceSpec::imageFolder(std::string folder, bool pieces) {
    SourceSpec spec;
    spec.kind = Kind::ImageFolder;
    spec.path = std::move(folder);
    spec.pieces = pieces;
    return spec;
}

std::string SourceSpec::firstImageName() const {
    return pieces ? ImageLayout::soughtName(0) : std::string(kSingleImageName);
}

std::optional<std::string> SourceSpec::firstImagePath() const {
    switch (kind) {
        case Kind::ImageFile:
            return path;
        case Kind::ImageFolder:
            return platform::findFileNoCase(path, firstImageName());
        case Kind::Device:
            break;
    }
    return std::nullopt;
}

std::string SourceSpec::expectedImagePath() const {
    if (kind == Kind::ImageFile) return path;
    return firstImagePath().value_or(platform::joinPath(path, firstImageName()));
}

}  // namespace kestrum
