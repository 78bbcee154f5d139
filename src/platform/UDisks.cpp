// A minimal UDisks2 client on sd-bus: ResolveDevice, then Block.OpenDevice("r").
// OpenForBackup is not used: it opens with O_EXCL, which a mounted card refuses.
#include "platform/UDisks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestrum::platform {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
// The user may take their time over the password; the bus default (25 s) would
// give up while the dialog is still open. A service that has not answered in
// five minutes is stopped or hung, and the tool must not wait for ever.
constexpr uint64_t kAuthTimeoutUsec = 5ull * 60 * 1000 * 1000;
// Looking the device up asks nobody: a service that takes this long is stuck.
constexpr uint64_t kLookupTimeoutUsec = 20ull * 1000 * 1000;
constexpr auto kNoticeAfter = std::chrono::seconds(1);

struct BusDeleter {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

struct Error {
    sd_bus_error e = SD_BUS_ERROR_NULL;
    ~Error() { sd_bus_error_free(&e); }
    bool is(const char* name) const { return sd_bus_error_has_name(&e, name); }
};

UDisksOpen outcome(UDisksOpen::Outcome o, const Error* err = nullptr) {
    UDisksOpen r;
    r.outcome = o;
    if (err && err->e.message) r.detail = err->e.message;
    return r;
}

bool timedOut(const Error& err) {
    return err.is(SD_BUS_ERROR_NO_REPLY) || err.is(SD_BUS_ERROR_TIMEOUT);
}

struct PendingReply {
    bool done = false;
    sd_bus_message* reply = nullptr;
    Error* err = nullptr;
};

int onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* pending = static_cast<PendingReply*>(userdata);
    pending->done = true;
    if (sd_bus_message_is_method_error(m, nullptr))
        sd_bus_error_copy(&pending->err->e, sd_bus_message_get_error(m));
    else
        pending->reply = sd_bus_message_ref(m);
    return 0;
}

// sd_bus_call, but saying after a second that the tool waits for the service
// (a silent tool looks hung while a password dialog is open or the service is).
int callNoticed(sd_bus* bus, sd_bus_message* call, uint64_t timeoutUsec, Error& err,
                sd_bus_message** reply) {
    PendingReply pending;
    pending.err = &err;
    sd_bus_slot* slot = nullptr;
    if (int r = sd_bus_call_async(bus, &slot, call, onReply, &pending, timeoutUsec); r < 0)
        return r;
    const auto began = std::chrono::steady_clock::now();
    bool noticed = false;
    while (!pending.done) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            sd_bus_slot_unref(slot);
            return r;
        }
        if (r > 0) continue;
        if (!noticed && std::chrono::steady_clock::now() - began >= kNoticeAfter) {
            std::fprintf(stderr,
                         "Waiting for the disk service… (it may be asking for a password; the "
                         "tool gives up after %llu minutes)\n",
                         static_cast<unsigned long long>(kAuthTimeoutUsec / 60000000));
            noticed = true;
        }
        sd_bus_wait(bus, 200000);
    }
    sd_bus_slot_unref(slot);
    if (!pending.reply) return -EIO;
    *reply = pending.reply;
    return 0;
}

std::string objectFor(sd_bus* bus, const std::string& node, Error& err) {
    sd_bus_message* rawCall = nullptr;
    if (sd_bus_message_new_method_call(bus, &rawCall, kService, "/org/freedesktop/UDisks2/Manager",
                                       "org.freedesktop.UDisks2.Manager", "ResolveDevice") < 0)
        return {};
    Message call(rawCall);
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_append(rawCall, "a{sv}a{sv}", 1, "path", "s", node.c_str(), 0) < 0 ||
        callNoticed(bus, rawCall, kLookupTimeoutUsec, err, &raw) < 0)
        return {};
    Message reply(raw);
    const char* object = nullptr;
    if (sd_bus_message_enter_container(raw, 'a', "o") <= 0) return {};
    if (sd_bus_message_read(raw, "o", &object) <= 0 || object == nullptr) return {};
    return object;
}

}  // namespace

UDisksOpen openThroughUDisks(const std::string& node) {
    sd_bus* rawBus = nullptr;
    if (sd_bus_open_system(&rawBus) < 0) return outcome(UDisksOpen::Outcome::Unavailable);
    Bus bus(rawBus);
    Error err;
    const std::string object = objectFor(bus.get(), node, err);
    if (object.empty())
        return outcome(
            timedOut(err) ? UDisksOpen::Outcome::NoAnswer : UDisksOpen::Outcome::Unavailable, &err);

    sd_bus_message* rawCall = nullptr;
    if (sd_bus_message_new_method_call(bus.get(), &rawCall, kService, object.c_str(),
                                       "org.freedesktop.UDisks2.Block", "OpenDevice") < 0)
        return outcome(UDisksOpen::Outcome::Unavailable);
    Message call(rawCall);
    sd_bus_message_set_allow_interactive_authorization(rawCall, 1);
    // Read/write bits in "flags" are refused by the daemon: the mode says "r".
    if (sd_bus_message_append(rawCall, "sa{sv}", "r", 2, "flags", "i", O_CLOEXEC,
                              "auth.no_user_interaction", "b", 0) < 0)
        return outcome(UDisksOpen::Outcome::Unavailable);
    sd_bus_message* rawReply = nullptr;
    if (callNoticed(bus.get(), rawCall, kAuthTimeoutUsec, err, &rawReply) < 0) {
        if (timedOut(err)) return outcome(UDisksOpen::Outcome::NoAnswer, &err);
        if (err.is("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"))
            return outcome(UDisksOpen::Outcome::NoAgent, &err);
        if (err.is("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"))
            return outcome(UDisksOpen::Outcome::Dismissed, &err);
        if (err.is("org.freedesktop.UDisks2.Error.NotAuthorized"))
            return outcome(UDisksOpen::Outcome::Refused, &err);
        if (err.is(SD_BUS_ERROR_SERVICE_UNKNOWN) || err.is(SD_BUS_ERROR_UNKNOWN_METHOD) ||
            err.is(SD_BUS_ERROR_UNKNOWN_OBJECT) || err.is(SD_BUS_ERROR_NAME_HAS_NO_OWNER))
            return outcome(UDisksOpen::Outcome::Unavailable, &err);
        return outcome(UDisksOpen::Outcome::Failed, &err);
    }
    Message reply(rawReply);
    int fd = -1;
    if (sd_bus_message_read(rawReply, "h", &fd) <= 0 || fd < 0)
        return outcome(UDisksOpen::Outcome::Failed);
    UDisksOpen r;
    // Only the device asked for, read-only, is read: not whatever was handed over.
    if (r.detail = handedDescriptorProblem(fd, node); !r.detail.empty()) {
        r.outcome = UDisksOpen::Outcome::Failed;
        return r;
    }
    // The reply owns the descriptor it carries: keep a copy of our own.
    r.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (r.fd < 0) {
        r.detail = std::strerror(errno);
        r.outcome = UDisksOpen::Outcome::Failed;
        return r;
    }
    r.outcome = UDisksOpen::Outcome::Opened;
    return r;
}

std::string handedDescriptorProblem(int fd, const std::string& node) {
    struct stat handed {
    }, asked{};
    if (::fstat(fd, &handed) != 0 || ::stat(node.c_str(), &asked) != 0)
        return std::string("it could not be checked: ") + std::strerror(errno);
    if (!S_ISBLK(handed.st_mode) || !S_ISBLK(asked.st_mode) || handed.st_rdev != asked.st_rdev)
        return "it handed over something else than the device " + node + "; nothing was read";
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY)
        return "it handed over " + node +
               " open for writing; a source is only read, so it was "
               "not used";
    return {};
}

std::string udisksRefusalText(const UDisksOpen& result, const std::string& node) {
    const std::string todo =
        "Ask an administrator to allow it: add you to the group \"disk\" (then log in again), "
        "or install the polkit rule that the README describes.";
    switch (result.outcome) {
        case UDisksOpen::Outcome::NoAgent:
            return "Reading " + node +
                   " needs an administrator's permission, and no authentication agent is running "
                   "to ask for it (start the program in your desktop session, whose "
                   "password dialog asks for it). " +
                   todo;
        case UDisksOpen::Outcome::Refused:
            return "Permission to read " + node + " was refused. " + todo;
        case UDisksOpen::Outcome::Dismissed:
            return "The request for permission to read " + node +
                   " was dismissed. Choose the disk again and enter the password when the system "
                   "asks for it. " +
                   todo;
        case UDisksOpen::Outcome::NoAnswer:
            return "The disk service (UDisks2) did not answer about " + node +
                   " in time: it is stopped or hung (a password dialog left open for five "
                   "minutes also ends the wait). Choose the disk again to ask once more, ask an "
                   "administrator to restart the service, or start the program as root.";
        case UDisksOpen::Outcome::Failed:
            return "The disk service could not open " + node +
                   (result.detail.empty() ? std::string(".") : ": " + result.detail + ".");
        default:
            return {};
    }
}

}  // namespace kestrum::platform
