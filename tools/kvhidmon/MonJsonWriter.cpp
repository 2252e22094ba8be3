#include "MonJsonWriter.h"

#include <nlohmann/json.hpp>

// Keys in the order written, so a line reads as its documentation shows it.
using json = nlohmann::ordered_json;

const char* CMonJsonWriter::EventName(uint32_t event)
{
    switch (event)
    {
        case NOTIF_DEVICE_ADDED:
            return "added";
        case NOTIF_DEVICE_REMOVED:
            return "removed";
        case NOTIF_SCRIPT_STATE:
            return "script";
        default:
            return "unknown";
    }
}

void CMonJsonWriter::Device(const MonDevice& device)
{
    json caps = json::array();
    for (const _stHidCapability& cap : device.caps)
        caps.push_back({{"usage", cap.usage},
                        {"page", cap.usagePage},
                        {"absolute", cap.isAbsolute != 0},
                        {"min", cap.minValue},
                        {"max", cap.maxValue},
                        {"index", cap.index}});
    // Names come from devices and the registry: bytes that are not UTF-8 are replaced, never refused.
    const json line = {{"type", "device"},
                       {"id", device.id},
                       {"source", SourceName(device.source)},
                       {"name", device.name},
                       {"caps", std::move(caps)}};
    Line(line.dump(-1, ' ', false, json::error_handler_t::replace));
}

void CMonJsonWriter::Event(const MonEvent& event)
{
    Line(json{{"type", "event"}, {"event", EventName(event.event)}, {"value", event.value}}.dump());
}

void CMonJsonWriter::Values(const MonDelivery& delivery)
{
    json values = json::array();
    for (const _stHidValue& value : delivery.values)
        values.push_back({{"usage", value.usage},
                          {"page", value.usagePage},
                          {"value", value.value},
                          {"scaled", value.scaledValue},
                          {"index", value.index}});
    Line(json{{"type", "values"}, {"id", delivery.id}, {"values", std::move(values)}}.dump());
}

void CMonJsonWriter::Line(const std::string& text)
{
    m_out << text << '\n';
    m_out.flush();
}
