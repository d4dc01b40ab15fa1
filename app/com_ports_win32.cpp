#include <windows.h>

#include <algorithm>
#include <string>

#include "com_ports.h"
#include "panel_input.h"

std::vector<int32_t> comPortsAboveNine()
{
    std::vector<int32_t> ports;
    HKEY map = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        char name[256];
        char data[32] = {};
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(map, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                          &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        // Only a plain "COM<n>", as the list shows its entries.
        const ComChoice choice = comPortFromText(data);
        if (choice.keepText && choice.port > 9 && std::string(data) == "COM" + std::to_string(choice.port))
            ports.push_back(choice.port);
    }
    RegCloseKey(map);
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}
