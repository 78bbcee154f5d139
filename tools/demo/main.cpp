// kestrum-make-demo: builds a disk image for the demo and the benchmark. The given files
// land at sector boundaries with filler between them, and a manifest says where each went.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSector = 512;

struct Options {
    std::string out;
    std::string manifest;
    uint64_t seed = 1;
    uint64_t gapMin = 16;  // sectors of filler before each file
    uint64_t gapMax = 128;
    uint64_t size = 0;  // bytes; 0 places every file once
    std::vector<std::string> files;
};

struct Media {
    std::string name;
    std::vector<uint8_t> bytes;
};

// splitmix64: fast, and the same sequence on every platform and standard library, so an
// image built twice from the same seed is the same image.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t between(uint64_t lo, uint64_t hi) { return lo + next() % (hi - lo + 1); }

private:
    uint64_t state_;
};

// Random bytes, except that the first eight bytes of the sector lie in A0..DF: no header
// signature begins with such a byte or has one at its offsets 2, 3 or 6, so filler never
// opens a file. End markers are not avoided; the ones a random sector can plausibly hold
// (FF D9) only end files that carry their own.
void fillerSector(Random& random, uint8_t* sector) {
    for (uint64_t i = 0; i < kSector; i += 8) {
        const uint64_t v = random.next();
        std::memcpy(sector + i, &v, 8);
    }
    for (int i = 0; i < 8; ++i) sector[i] = static_cast<uint8_t>(0xA0 | (sector[i] & 0x3F));
}

class ImageWriter {
public:
    bool open(const std::string& path) {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_) buffer_.reserve(kBuffer);
        return file_ != nullptr;
    }
    ~ImageWriter() {
        if (file_) std::fclose(file_);
    }
    void put(const uint8_t* data, size_t n) {
        while (n > 0) {
            const size_t take = std::min(n, kBuffer - buffer_.size());
            buffer_.insert(buffer_.end(), data, data + take);
            data += take;
            n -= take;
            if (buffer_.size() == kBuffer) flush();
        }
    }
    void zeros(uint64_t n) {
        static const uint8_t zero[kSector] = {};
        for (; n >= kSector; n -= kSector) put(zero, kSector);
        put(zero, n);
    }
    // Flushes and closes; false when any write failed.
    bool close() {
        flush();
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok_ && closed;
    }
    uint64_t position() const { return written_ + buffer_.size(); }

private:
    static constexpr size_t kBuffer = 1 << 20;
    void flush() {
        if (!buffer_.empty() &&
            std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
            ok_ = false;
        written_ += buffer_.size();
        buffer_.clear();
    }
    std::FILE* file_ = nullptr;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
    bool ok_ = true;
};

// A run of zero sectors then random filler, count sectors in all.
void writeGap(ImageWriter& image, Random& random, uint64_t count) {
    const uint64_t zeroSectors = random.between(0, count / 2);
    image.zeros(zeroSectors * kSector);
    uint8_t sector[kSector];
    for (uint64_t i = zeroSectors; i < count; ++i) {
        fillerSector(random, sector);
        image.put(sector, kSector);
    }
}

uint64_t sectorsFor(uint64_t bytes) {
    return (bytes + kSector - 1) / kSector;
}

bool parseNumber(const char* text, uint64_t* value) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || *end || text[0] == '-') return false;
    *value = v;
    return true;
}

void usage() {
    std::fprintf(stderr,
                 "usage: kestrum-make-demo --out IMAGE [--manifest FILE] [--seed N]\n"
                 "                         [--gap MIN:MAX] [--size BYTES] FILE...\n"
                 "Places the files at sector boundaries in IMAGE, each after MIN..MAX sectors\n"
                 "of filler (zeros, then random bytes that begin no file). With --size the\n"
                 "files are placed again and again until the image holds BYTES (rounded down\n"
                 "to whole sectors). The manifest (stdout unless --manifest) lists\n"
                 "name, start sector, bytes and sectors of every placed file.\n");
}

bool parseArgs(int argc, char** argv, Options* opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--out" && hasValue) {
            opt->out = argv[++i];
        } else if (arg == "--manifest" && hasValue) {
            opt->manifest = argv[++i];
        } else if (arg == "--seed" && hasValue) {
            if (!parseNumber(argv[++i], &opt->seed)) return false;
        } else if (arg == "--size" && hasValue) {
            if (!parseNumber(argv[++i], &opt->size)) return false;
        } else if (arg == "--gap" && hasValue) {
            const std::string gap = argv[++i];
            const size_t colon = gap.find(':');
            if (colon == std::string::npos) return false;
            if (!parseNumber(gap.substr(0, colon).c_str(), &opt->gapMin) ||
                !parseNumber(gap.substr(colon + 1).c_str(), &opt->gapMax) ||
                opt->gapMin > opt->gapMax)
                return false;
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            opt->files.push_back(arg);
        }
    }
    return !opt->out.empty() && !opt->files.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parseArgs(argc, argv, &opt)) {
        usage();
        return 2;
    }

    std::vector<Media> media;
    for (const std::string& path : opt.files) {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open()) {
            std::fprintf(stderr, "kestrum-make-demo: cannot open %s\n", path.c_str());
            return 1;
        }
        Media m{std::filesystem::path(path).filename().string(),
                {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}};
        if (in.bad()) {
            std::fprintf(stderr, "kestrum-make-demo: cannot read %s\n", path.c_str());
            return 1;
        }
        if (!m.bytes.empty()) media.push_back(std::move(m));
    }
    if (media.empty()) {
        std::fprintf(stderr, "kestrum-make-demo: every input file is empty\n");
        return 1;
    }

    // Written under a temporary name so that a failed run never leaves a half image
    // that a build would take as up to date.
    const std::string partial = opt.out + ".part";
    ImageWriter image;
    if (!image.open(partial)) {
        std::fprintf(stderr, "kestrum-make-demo: cannot create %s: %s\n", partial.c_str(),
                     std::strerror(errno));
        return 1;
    }

    const uint64_t limit = opt.size / kSector * kSector;
    Random random(opt.seed);
    std::string manifest = "# file\tstartSector\tbytes\tsectors\n";
    bool full = false;
    do {
        for (const Media& m : media) {
            const uint64_t gap = random.between(opt.gapMin, opt.gapMax);
            const uint64_t sectors = sectorsFor(m.bytes.size());
            if (limit && image.position() + (gap + sectors) * kSector > limit) {
                full = true;
                break;
            }
            writeGap(image, random, gap);
            const uint64_t start = image.position() / kSector;
            image.put(m.bytes.data(), m.bytes.size());
            image.zeros(sectors * kSector - m.bytes.size());  // slack of the last sector
            manifest += m.name + "\t" + std::to_string(start) + "\t" +
                        std::to_string(m.bytes.size()) + "\t" + std::to_string(sectors) + "\n";
        }
    } while (limit && !full);
    if (limit) {
        if (image.position() < limit) writeGap(image, random, (limit - image.position()) / kSector);
    } else {
        writeGap(image, random, random.between(opt.gapMin, opt.gapMax));
    }

    const uint64_t total = image.position();
    if (!image.close() || std::rename(partial.c_str(), opt.out.c_str()) != 0) {
        std::fprintf(stderr, "kestrum-make-demo: cannot write %s: %s\n", opt.out.c_str(),
                     std::strerror(errno));
        std::remove(partial.c_str());
        return 1;
    }

    if (opt.manifest.empty()) {
        std::fputs(manifest.c_str(), stdout);
    } else {
        std::ofstream out(opt.manifest, std::ios::binary | std::ios::trunc);
        out << manifest;
        if (!out.flush()) {
            std::fprintf(stderr, "kestrum-make-demo: cannot write %s\n", opt.manifest.c_str());
            return 1;
        }
        std::printf("%s: %llu sectors\n", opt.out.c_str(),
                    static_cast<unsigned long long>(total / kSector));
    }
    return 0;
}
