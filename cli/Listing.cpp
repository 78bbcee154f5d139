#include "Listing.h"

#ifndef _WIN32
#include <poll.h>
#endif
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/Session.h"

namespace kestrum::cli {
namespace {

// A pipe whose reader has gone reports an error without being written to.
bool readerGone() {
#ifdef _WIN32
    return false;  // a closed pipe shows as a failed write there
#else
    pollfd out{1, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLNVAL)) != 0;
#endif
}

}  // namespace

FoundListing::FoundListing(bool partialColumn, bool damagedColumn)
    : partialColumn_(partialColumn), damagedColumn_(damagedColumn) {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool FoundListing::printNew() {
    if (gone_) return false;
    const FoundFileList& found = session().foundFiles;
    bool wrote = false;
    for (; printed_ < found.size(); ++printed_) {
        const auto f = found.at(printed_);
        if (!f) break;
        // A file holding sectors the source could not deliver is never called whole.
        const char* partial = !partialColumn_                 ? ""
                              : f->partial                    ? "\tpartial"
                              : f->damaged && !damagedColumn_ ? "\tdamaged"
                              : isJoined(*f)                  ? "\tjoined"
                                                              : "\twhole";
        const char* damaged = !damagedColumn_ ? "" : f->damaged ? "\tdamaged" : "\tintact";
        if (std::printf("%s\t%s\t%llu\t%u%s%s\n", f->fileName, f->extName,
                        static_cast<unsigned long long>(f->startSector), f->sectorCount, partial,
                        damaged) < 0) {
            gone_ = true;
            return false;
        }
        wrote = true;
    }
    if ((wrote && std::fflush(stdout) != 0) || std::ferror(stdout) || readerGone()) gone_ = true;
    return !gone_;
}

void FoundListing::endAsBrokenPipe() {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
#endif
    std::_Exit(141);  // as the shell reports a death by SIGPIPE
}

}  // namespace kestrum::cli
