// What the user chose to read, as one value: a device (a disk or a drive by its
// "\\.\" path, or a device node), an image file of any name read whole, or an
// image folder whose "Image0.img" is read whole or whose numbered pieces are read
// as one image. The source page and the command line make it with the same
// functions; everything that reads the source asks it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrum {

struct SourceSpec {
    enum class Kind : uint8_t { Device, ImageFile, ImageFolder };

    Kind kind = Kind::Device;
    std::string devicePath;  // Device: "\\.\PhysicalDrive0", "\\.\D:" or a device node
    std::string path;        // ImageFile: the file; ImageFolder: the folder
    bool pieces = false;     // ImageFolder: image0.img, image1.img, ... rather than one file

    static SourceSpec device(std::string devicePath);
    // "\\.\PhysicalDrive<n>", "\\.\<letter>:".
    static SourceSpec disk(int n);
    static SourceSpec drive(char letter);
    static SourceSpec imageFile(std::string file);
    static SourceSpec imageFolder(std::string folder, bool pieces);

    bool isImage() const { return kind != Kind::Device; }
    bool operator==(const SourceSpec&) const = default;

    // ImageFolder: the name read first ("image0.img" for pieces, else "Image0.img").
    std::string firstImageName() const;
    // The file read first, found without regard to case (an image file as it is
    // named); nothing for a device or an image folder without it.
    std::optional<std::string> firstImagePath() const;
    // What a message names when that file is missing: the path it was looked for at.
    std::string expectedImagePath() const;
};

}  // namespace kestrum
