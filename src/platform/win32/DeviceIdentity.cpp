// Serial number, model and size of a disk or volume as Windows tells them.
#include "platform/DeviceIdentity.h"

#include <vector>

#include "platform/Devices.h"
#include "platform/win32/Win32.h"

namespace kestrum::platform {
using namespace win32;

std::optional<DeviceIdentity> identityOf(const std::string& node) {
    if (!isDevicePath(node)) return std::nullopt;
    const HANDLE h = openForQuery(node, 0, false);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    DeviceIdentity id;
    id.node = node;
    DWORD got = 0;
    GET_LENGTH_INFORMATION length{};
    if (DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &got,
                        nullptr))
        id.sizeBytes = static_cast<uint64_t>(length.Length.QuadPart);
    else {
        LARGE_INTEGER bytes{};  // a volume that is a file (a virtual drive)
        if (GetFileSizeEx(h, &bytes)) id.sizeBytes = static_cast<uint64_t>(bytes.QuadPart);
    }
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<char> buffer(4096);
    if (DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &got, nullptr) &&
        got >= sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
        const auto* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
        auto text = [&](DWORD offset) {
            if (offset == 0 || offset >= got) return std::string();
            std::string s(buffer.data() + offset, strnlen(buffer.data() + offset, got - offset));
            const auto first = s.find_first_not_of(' ');
            return first == std::string::npos
                       ? std::string()
                       : s.substr(first, s.find_last_not_of(' ') - first + 1);
        };
        id.serial = text(d->SerialNumberOffset);
        id.model = text(d->ProductIdOffset);
    }
    // A volume ("\\.\K:") is a partition of its disk; which one Windows tells
    // only through the partition query.
    PARTITION_INFORMATION_EX partition{};
    if (DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition,
                        sizeof partition, &got, nullptr))
        id.partition = static_cast<int>(partition.PartitionNumber);
    CloseHandle(h);
    if (id.sizeBytes == 0) return std::nullopt;  // an empty card reader
    return id;
}

}  // namespace kestrum::platform
