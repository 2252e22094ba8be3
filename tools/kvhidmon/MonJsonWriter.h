// The --json output: one JSON object per line, written to a stream and flushed line by line so that a
// script reading the pipe sees each at once.
#pragma once

#include "MonDeviceModel.h"

#include <ostream>

class CMonJsonWriter
{
public:
    explicit CMonJsonWriter(std::ostream& out) : m_out(out) {}

    // {"type":"device","id":N,"source":...,"name":...,"caps":[{...}]}
    void Device(const MonDevice& device);
    // {"type":"event","event":"added"|"removed"|"script","value":N}
    void Event(const MonEvent& event);
    // {"type":"values","id":N,"values":[{"usage","page","value","scaled","index"}]}
    void Values(const MonDelivery& delivery);

    static const char* EventName(uint32_t event);

private:
    void Line(const std::string& text);

    std::ostream& m_out;
};
