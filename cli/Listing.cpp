#include "Listing.h"

#ifdef _WIN32
#include <windows.h>
#include <winternl.h>
#else
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
    // Writing nothing would end a pending read at the other side as if the output
    // had ended; the pipe's own state tells a closed reader instead.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetFileType(out) != FILE_TYPE_PIPE) return false;
    using Query = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    struct {
        ULONG type, configuration, maximumInstances, currentInstances, inboundQuota,
            readDataAvailable, outboundQuota, writeQuotaAvailable, state, end;
    } pipe{};
    IO_STATUS_BLOCK status{};
    constexpr int kFilePipeLocalInformation = 24;
    constexpr ULONG kClosingState = 4;
    return query && query(out, &status, &pipe, sizeof pipe, kFilePipeLocalInformation) >= 0 &&
           pipe.state == kClosingState;
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
