#include "platform/Devices.h"

namespace kestrum::platform {

char systemFamily() {
    return 'N';
}

}  // namespace kestrum::platform
