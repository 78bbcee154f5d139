// A minimal UDisks2 client on sd-bus: ResolveDevice, then Block.OpenDevice("r").
// OpenForBackup is not used: it opens with O_EXCL, which a mounted card refuses.
#include "platform/UDisks.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <cstring>
#include <memory>

namespace kestrum::platform {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
// The user may take their time over the password; the bus default (25 s) would
// give up while the dialog is still open.
constexpr uint64_t kAuthTimeoutUsec = 15ull * 60 * 1000 * 1000;

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

std::string objectFor(sd_bus* bus, const std::string& node, Error& err) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_call_method(bus, kService, "/org/freedesktop/UDisks2/Manager",
                           "org.freedesktop.UDisks2.Manager", "ResolveDevice", &err.e, &raw,
                           "a{sv}a{sv}", 1, "path", "s", node.c_str(), 0) < 0)
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
    if (object.empty()) return outcome(UDisksOpen::Outcome::Unavailable, &err);

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
    if (sd_bus_call(bus.get(), rawCall, kAuthTimeoutUsec, &err.e, &rawReply) < 0) {
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

std::string udisksRefusalText(const UDisksOpen& result, const std::string& node) {
    const std::string todo =
        "Ask an administrator to allow it: add you to the group \"disk\" (then log in again), "
        "or install the polkit rule that the README describes.";
    switch (result.outcome) {
        case UDisksOpen::Outcome::NoAgent:
            return "Reading " + node +
                   " needs an administrator's permission, and no authentication agent is running "
                   "to ask for it (start the program in your desktop session, whose "
                   "password dialog asks for it). " + todo;
        case UDisksOpen::Outcome::Refused:
            return "Permission to read " + node + " was refused. " + todo;
        case UDisksOpen::Outcome::Dismissed:
            return "The request for permission to read " + node +
                   " was dismissed. Choose the disk again and enter the password when the system "
                   "asks for it. " + todo;
        case UDisksOpen::Outcome::Failed:
            return "The disk service could not open " + node +
                   (result.detail.empty() ? std::string(".") : ": " + result.detail + ".");
        default:
            return {};
    }
}

}  // namespace kestrum::platform
