// COM ports from the registry's SERIALCOMM map, named by SetupAPI's Ports class.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string.h>

#include "port_list.h"

namespace {

// The Ports device setup class, {4D36E978-E325-11CE-BFC1-08002BE10318}.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A zero-terminated text of at most `size` bytes, which need not be terminated.
std::string boundedText(const char* text, size_t size)
{
    return std::string(text, strnlen(text, size));
}

std::string registryText(HKEY key, const char* name)
{
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return boundedText(buffer, std::min<size_t>(size, sizeof buffer));
}

// A device property as text (the first string of a multi-string); empty when absent.
std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    char buffer[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 2, nullptr))
        return {};
    return boundedText(buffer, sizeof buffer);
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The four hex digits after "VID_" or "PID_" in a hardware id such as
// USB\VID_0403&PID_6001&REV_0600; empty when the id has none.
std::string idAfter(const std::string& hardwareId, const char* tag)
{
    const size_t at = upper(hardwareId).find(tag);
    if (at == std::string::npos || hardwareId.size() < at + std::strlen(tag) + 4)
        return {};
    return upper(hardwareId.substr(at + std::strlen(tag), 4));
}

} // namespace

std::vector<SerialPortInfo> listSerialPorts()
{
    std::vector<SerialPortInfo> ports;
    HKEY map;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) == ERROR_SUCCESS) {
        for (DWORD index = 0; index < 4096; ++index) {
            char name[256] = {};
            char data[256] = {};
            DWORD nameSize = sizeof name;
            DWORD dataSize = sizeof data;
            DWORD type = 0;
            const LONG result = RegEnumValueA(map, index, name, &nameSize, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data), &dataSize);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result != ERROR_SUCCESS || type != REG_SZ)
                continue;
            SerialPortInfo port;
            port.path = boundedText(data, std::min<size_t>(dataSize, sizeof data));
            port.driver = boundedText(name, sizeof name);
            if (!port.path.empty())
                ports.push_back(std::move(port));
        }
        RegCloseKey(map);
    }

    // What SetupAPI knows of each: the device whose PortName is the port's.
    HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
            HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key == INVALID_HANDLE_VALUE)
                continue;
            const std::string portName = upper(registryText(key, "PortName"));
            RegCloseKey(key);
            for (SerialPortInfo& port : ports) {
                if (upper(port.path) != portName)
                    continue;
                port.description = deviceProperty(set, &device, SPDRP_FRIENDLYNAME);
                port.manufacturer = deviceProperty(set, &device, SPDRP_MFG);
                const std::string hardwareId = deviceProperty(set, &device, SPDRP_HARDWAREID);
                port.vendorId = idAfter(hardwareId, "VID_");
                port.productId = idAfter(hardwareId, "PID_");
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return naturalLess(a.path, b.path); });
    return ports;
}

void chooseComPort(UpdateContext* ctx, int number)
{
    ctx->comPort = number;
}

bool chooseDevice(UpdateContext* ctx, const std::string& device)
{
    std::string name = device.compare(0, 4, "\\\\.\\") == 0 ? device.substr(4) : device;
    if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos || name.size() > 11)
        return false;
    const int number = std::atoi(name.c_str() + 3);
    if (number < 1)
        return false;
    chooseComPort(ctx, number);
    return true;
}

std::string chosenPortName(const UpdateContext& ctx)
{
    // --device COMn was taken as --com n.
    return "COM" + std::to_string(ctx.comPort);
}
