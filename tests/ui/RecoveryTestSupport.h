// What the workflow tests share: a disk image built from real files (the test
// media, and the shared camera samples when present) with the session pointed at
// it, the installed pictures, and small helpers for driving the pages.
#pragma once

#include <QAbstractButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Session.h"
#include "disk/SectorReader.h"
#include "scan/FileInfo.h"

namespace kestrum::test {

struct PlacedFile {
    std::string name;  // the file's own name
    std::string type;  // the type the scan should list it as; empty when not asserted
    uint64_t start = 0;
    uint32_t expectedSectors = 0;  // the count the scan should record
    std::vector<uint8_t> bytes;
};

struct TestImage {
    std::string folder;
    std::vector<uint8_t> bytes;
    std::vector<PlacedFile> files;
    uint64_t sectors() const { return bytes.size() / 512; }
    std::vector<uint8_t> slice(uint64_t start, uint64_t count) const {
        std::vector<uint8_t> out(count * 512, 0);
        const uint64_t from = std::min<uint64_t>(start * 512, bytes.size());
        const uint64_t to = std::min<uint64_t>((start + count) * 512, bytes.size());
        std::copy(bytes.begin() + from, bytes.begin() + to, out.begin());
        return out;
    }
    std::vector<uint8_t> slice(const FileInfo& f) const {
        return slice(f.startSector, f.sectorCount);
    }
};

inline std::string testDataFile(const std::string& name) {
    return std::string(KESTRUM_TEST_DATA_DIR) + "/" + name;
}

// The installed pictures of the build tree.
inline std::string installedDataFolder() {
    return std::string(KESTRUM_BIN_DIR) + "/../share/Kestrum for Digital Media";
}

// Each file starts on a sector boundary after a run of zero sectors, and the last
// is followed by zeros: the layout for which the test media's README gives the
// counts. Samples (which end however their formats end) go first.
inline TestImage buildTestImage(const std::string& folder, bool withSamples) {
    struct Ours {
        const char* name;
        const char* type;
        uint32_t sectors;
    };
    static const Ours ours[] = {
        {"jpeg-jfif.jpg", "JPEG", 6},  {"picture.png", "PNG", 13},
        {"picture.gif", "GIF", 4},     {"tone-icrd-trailer.wav", "WAV", 16},
        {"picture.bmp", "BMP", 10},    {"tone.ogg", "OGG", 6},
        {"jpeg-exif.jpg", "JPEG", 7},  {"clip.avi", "AVI", 15},
        {"picture-le.tif", "TIFF", 8}, {"clip-mpeg1.mpg", "MPEG", 17},
        {"notes.mid", "MIDI", 1},      {"tone.au", "AU", 16},
        {"tone.mp3", "MP3", 18},  // its run rule reaches 9 sectors past its end
    };
    TestImage image;
    image.folder = folder;
    auto place = [&](const std::string& name, const std::string& type, uint32_t sectors,
                     std::vector<uint8_t> bytes) {
        image.bytes.resize(image.bytes.size() + 4 * 512, 0);
        PlacedFile f{name, type, image.bytes.size() / 512, sectors, std::move(bytes)};
        image.bytes.insert(image.bytes.end(), f.bytes.begin(), f.bytes.end());
        image.bytes.resize((image.bytes.size() + 511) / 512 * 512, 0);
        image.files.push_back(std::move(f));
    };
    image.bytes.resize(64 * 512, 0);
    if (withSamples && !samplesDir().empty()) {
        std::vector<std::filesystem::path> names;
        for (const auto& e : std::filesystem::directory_iterator(samplesDir()))
            if (e.path().extension() != ".md" && e.path().extension() != ".tsv")
                names.push_back(e.path());
        std::sort(names.begin(), names.end());
        for (const auto& p : names) place(p.filename().string(), {}, 0, readFile(p.string()));
    }
    for (const Ours& o : ours) place(o.name, o.type, o.sectors, readFile(testDataFile(o.name)));
    image.bytes.resize(image.bytes.size() + 40 * 512, 0);
    writeFile(folder + "/" + kSingleImageName, image.bytes);
    return image;
}

// The session reads the image, over [start, end) (end 0: the whole image). A
// range past the image's end reads as zeros without asking each time.
inline void useImage(const TestImage& image, uint64_t start = 0, uint64_t end = 0) {
    Session& s = session();
    s.chooseSource(SourceSpec::imageFolder(image.folder, false));
    s.rangeStart.store(start);
    s.rangeEnd.store(end != 0 ? end : image.sectors());
    s.badSectorAnswer.store(BadSectorAnswer::SkipAll);
    closeDeviceHandle();
}

inline std::string readText(const std::string& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

inline QByteArray bytesOf(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

inline int countOf(const std::string& ext) {
    int n = 0;
    session().foundFiles.forEach([&](FileInfo& f) { n += ext == f.extName ? 1 : 0; });
    return n;
}

inline std::vector<FileInfo> recordsOf(const std::string& ext) {
    std::vector<FileInfo> out;
    for (const FileInfo& f : session().foundFiles.snapshot())
        if (ext == f.extName) out.push_back(f);
    return out;
}

// Clicks on a tree item's label, or on its check box.
inline void clickTreeLabel(QTreeWidget* tree, QTreeWidgetItem* item) {
    const QRect r = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
}

}  // namespace kestrum::test
