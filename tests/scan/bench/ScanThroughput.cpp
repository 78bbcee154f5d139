// Scan throughput with every type selected, over a medium in memory and over an
// image file (tmpfs by default), against a plain copy and against cat.
// Usage: bench_scan_throughput [MiB] [image path]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MemorySource.h"
#include "ScanTestSupport.h"
#include "scan/ClassicDetector.h"
#include "scan/ScanDriver.h"

using namespace kestrum;
using Clock = std::chrono::steady_clock;

namespace {

class FileSource : public SectorSource {
public:
    FileSource(int fd, uint64_t guard) : fd_(fd), guard_(guard) {}
    int32_t read(uint64_t start, uint32_t count, uint8_t* buffer) override {
        const size_t want = size_t{count} * 512;
        std::memset(buffer, 0, want);
        if (guard_ > 0 && start > guard_) return 0;
        const ssize_t got = ::pread(fd_, buffer, want, static_cast<off_t>(start * 512));
        return got == static_cast<ssize_t>(want);
    }
    uint64_t guardEnd() const override { return guard_; }

private:
    int fd_;
    uint64_t guard_;
};

// Camera-card-like content: pseudo-random "compressed" bytes, a JPEG every
// 3 MiB ending in FF D9 about 2.5 MiB later, and a few other types between.
std::vector<uint8_t> makeMedium(size_t mib) {
    std::vector<uint8_t> m(mib << 20);
    uint64_t x = 88172645463325252ull;
    for (size_t i = 0; i + 8 <= m.size(); i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(&m[i], &x, 8);
    }
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'};
    for (size_t at = 0; at + (3 << 20) <= m.size(); at += 3 << 20) {
        std::memcpy(&m[at], jpeg, sizeof jpeg);
        m[at + (5 << 19) + 100] = 0xFF;
        m[at + (5 << 19) + 101] = 0xD9;
        std::memcpy(&m[at + (11 << 18)], "\x89PNG", 4);
        std::memcpy(&m[at + (11 << 18) + 4096], "END\xAE\x42\x60\x82", 7);
    }
    return m;
}

double seconds(Clock::time_point a) {
    return std::chrono::duration<double>(Clock::now() - a).count();
}

struct Result {
    double mbps;
    size_t files;
};

Result scan(SectorSource& source, uint64_t sectors, double bytes) {
    TypeList types = test::allTypes();
    FoundFileList found;
    std::atomic<uint8_t> stop{0};
    ResultsPage page;
    const ScanJob job{types, found, source, 0, sectors, stop, page, {}};
    const auto t = Clock::now();
    runClassicScan(job);
    return {bytes / seconds(t) / 1e6, found.size()};
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const std::string path = argc > 2 ? argv[2] : "/dev/shm/kestrum-bench.img";
    const std::vector<uint8_t> medium = makeMedium(mib);
    const uint64_t sectors = medium.size() / 512;
    const double bytes = static_cast<double>(medium.size());

    // Baseline: the same 512,000-byte batch copies without looking at them.
    std::vector<uint8_t> batch(kBatchSectors * 512);
    auto t = Clock::now();
    unsigned sink = 0;
    for (size_t at = 0; at < medium.size(); at += batch.size()) {
        const size_t n = std::min(batch.size(), medium.size() - at);
        std::memcpy(batch.data(), &medium[at], n);
        sink += batch[n - 1];
    }
    const double copy = bytes / seconds(t) / 1e6;

    test::MemorySource memory(medium);
    const Result inMemory = scan(memory, sectors, bytes);

    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 ||
        ::write(out, medium.data(), medium.size()) != static_cast<ssize_t>(medium.size())) {
        std::perror(path.c_str());
        return 1;
    }
    ::close(out);
    t = Clock::now();
    if (std::system(("cat '" + path + "' > /dev/null").c_str()) != 0) return 1;
    const double cat = bytes / seconds(t) / 1e6;
    const int fd = ::open(path.c_str(), O_RDONLY);
    FileSource file(fd, sectors);
    const Result fromFile = scan(file, sectors, bytes);
    ::close(fd);
    ::unlink(path.c_str());

    std::printf("medium %zu MiB, every type selected (sink %u)\n", mib, sink & 1);
    std::printf("  batch copy in memory   %8.0f MB/s\n", copy);
    std::printf("  scan, in memory        %8.0f MB/s  (%.0f %% of the copy, %zu files)\n",
                inMemory.mbps, 100 * inMemory.mbps / copy, inMemory.files);
    std::printf("  cat of the image file  %8.0f MB/s  (%s)\n", cat, path.c_str());
    std::printf("  scan of the image file %8.0f MB/s  (%.0f %% of cat, %zu files)\n", fromFile.mbps,
                100 * fromFile.mbps / cat, fromFile.files);
    return 0;
}
