#include "app/Prompter.h"

#include <atomic>

namespace kestrum {
namespace {
SilentPrompter silentPrompter;
std::atomic<Prompter*> current{&silentPrompter};
}  // namespace

Prompter& prompter() {
    return *current.load();
}

void setPrompter(Prompter* p) {
    current.store(p != nullptr ? p : &silentPrompter);
}

}  // namespace kestrum
