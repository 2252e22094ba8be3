#include "KvSimScenario.h"

#include <algorithm>
#include <cstdlib>

namespace
{
constexpr unsigned kMaxId = 65535;
constexpr unsigned kMaxButtons = 255;
constexpr unsigned kMaxAxes = 11; // the axis entries the library reads
constexpr unsigned kMaxHats = 8;
constexpr LONG kAxisMax = 1023;
constexpr LONG kHatMax = 7;

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A decimal number from 0 to max, digits only.
bool ParseNumber(const std::string& text, unsigned max, unsigned& value)
{
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
    if (parsed > max)
        return false;
    value = static_cast<unsigned>(parsed);
    return true;
}

bool ParseName(const std::string& text, std::basic_string<WCHAR>& name)
{
    for (char c : text)
    {
        if (c < 0x20 || c > 0x7E)
            return false;
        name.push_back(static_cast<WCHAR>(c));
    }
    return true;
}

_stHidPhysicalInputData Capabilities(unsigned buttons, unsigned axes, unsigned hats)
{
    _stHidPhysicalInputData caps = {};
    for (unsigned i = 0; i < buttons; ++i)
        caps.buttons[i] = 1;
    for (unsigned k = 0; k < axes; ++k)
        caps.axes[k] = {0, 0, kAxisMax};
    for (unsigned j = 0; j < hats; ++j)
        caps.hats[j] = {0, 0, kHatMax};
    caps.buttonCount = static_cast<BYTE>(buttons);
    caps.axisCount = static_cast<BYTE>(axes);
    caps.hatCount = static_cast<BYTE>(hats);
    return caps;
}
} // namespace

bool KvSimScenario::Parse(const std::string& text, KvSimScenario& scenario, std::string& error)
{
    scenario = KvSimScenario();
    error.clear();
    KvSimScenario parsed;
    for (const std::string& rawItem : Split(text, ';'))
    {
        const std::string item = Trim(rawItem);
        if (!item.empty() && !parsed.ParseItem(item, error))
            return false;
    }
    scenario = std::move(parsed);
    return true;
}

bool KvSimScenario::ParseItem(const std::string& item, std::string& error)
{
    const size_t equals = item.find('=');
    const std::string key = Trim(item.substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : Trim(item.substr(equals + 1));
    if (equals == std::string::npos || (key != "script" && key != "device"))
    {
        error = "unknown item '" + item + "' (script=on|off or device=id,name,buttons,axes,hats)";
        return false;
    }
    if (key == "device")
        return ParseDevice(value, error);
    if (value != "on" && value != "off")
    {
        error = "script is '" + value + "', not on or off";
        return false;
    }
    scriptRunning = value == "on";
    return true;
}

bool KvSimScenario::ParseDevice(const std::string& fields, std::string& error)
{
    std::vector<std::string> parts = Split(fields, ',');
    if (parts.size() != 5)
    {
        error = "device '" + fields + "' has " + std::to_string(parts.size()) +
                " fields, not 5 (id,name,buttons,axes,hats)";
        return false;
    }
    for (std::string& part : parts)
        part = Trim(part);
    Device device = {};
    unsigned id = 0, buttons = 0, axes = 0, hats = 0;
    if (!ParseNumber(parts[0], kMaxId, id))
        error = "device id '" + parts[0] + "' is not a number from 0 to 65535";
    else if (!ParseName(parts[1], device.name))
        error = "device name '" + parts[1] + "' is not printable ASCII";
    else if (!ParseNumber(parts[2], kMaxButtons, buttons))
        error = "device " + parts[0] + ": buttons '" + parts[2] + "' is not a number from 0 to 255";
    else if (!ParseNumber(parts[3], kMaxAxes, axes))
        error = "device " + parts[0] + ": axes '" + parts[3] + "' is not a number from 0 to 11";
    else if (!ParseNumber(parts[4], kMaxHats, hats))
        error = "device " + parts[0] + ": hats '" + parts[4] + "' is not a number from 0 to 8";
    else if (std::any_of(devices.begin(), devices.end(), [id](const Device& d) { return d.id == id; }))
        error = "device id " + parts[0] + " is given twice";
    else if (devices.size() == kMaxDevices)
        error = "more than 16 devices";
    if (!error.empty())
        return false;
    device.id = id;
    device.caps = Capabilities(buttons, axes, hats);
    devices.push_back(std::move(device));
    return true;
}
