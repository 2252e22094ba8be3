// Test helper: a report descriptor run through HidP_GetCollectionDescription,
// released on destruction.
#pragma once

#include <windows.h>
#include <hidpddi.h>
#include <hidpi.h>
#include <hidsdi.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

class ParsedDescriptor
{
public:
    explicit ParsedDescriptor(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes))
    {
        m_status = HidP_GetCollectionDescription(m_bytes.data(), static_cast<ULONG>(m_bytes.size()),
                                                 NonPagedPool, &m_desc);
    }
    ParsedDescriptor(std::initializer_list<uint8_t> bytes) : ParsedDescriptor(std::vector<uint8_t>(bytes)) {}
    ~ParsedDescriptor()
    {
        if (m_status == HIDP_STATUS_SUCCESS)
            HidP_FreeCollectionDescription(&m_desc);
    }
    ParsedDescriptor(const ParsedDescriptor&) = delete;
    ParsedDescriptor& operator=(const ParsedDescriptor&) = delete;

    NTSTATUS status() const { return m_status; }
    const HIDP_DEVICE_DESC& desc() const { return m_desc; }
    PHIDP_PREPARSED_DATA preparsed(ULONG collection = 0) const
    {
        return m_desc.CollectionDesc[collection].PreparsedData;
    }

    HIDP_CAPS caps(ULONG collection = 0) const
    {
        HIDP_CAPS caps{};
        HidP_GetCaps(preparsed(collection), &caps);
        return caps;
    }

    std::vector<HIDP_BUTTON_CAPS> buttonCaps(HIDP_REPORT_TYPE type = HidP_Input, ULONG collection = 0) const
    {
        USHORT count = 64;
        std::vector<HIDP_BUTTON_CAPS> caps(count);
        if (HidP_GetButtonCaps(type, caps.data(), &count, preparsed(collection)) != HIDP_STATUS_SUCCESS)
            count = 0;
        caps.resize(count);
        return caps;
    }

    std::vector<HIDP_VALUE_CAPS> valueCaps(HIDP_REPORT_TYPE type = HidP_Input, ULONG collection = 0) const
    {
        USHORT count = 64;
        std::vector<HIDP_VALUE_CAPS> caps(count);
        if (HidP_GetValueCaps(type, caps.data(), &count, preparsed(collection)) != HIDP_STATUS_SUCCESS)
            count = 0;
        caps.resize(count);
        return caps;
    }

    // HidP_GetUsages on an input report; the list is empty unless it succeeds.
    std::vector<USAGE> usages(USAGE page, std::vector<uint8_t> report, NTSTATUS* status = nullptr,
                              ULONG collection = 0) const
    {
        std::vector<USAGE> list(256);
        ULONG count = static_cast<ULONG>(list.size());
        const NTSTATUS result =
            HidP_GetUsages(HidP_Input, page, 0, list.data(), &count, preparsed(collection),
                           reinterpret_cast<PCHAR>(report.data()), static_cast<ULONG>(report.size()));
        if (status)
            *status = result;
        list.resize(result == HIDP_STATUS_SUCCESS ? count : 0);
        return list;
    }

    NTSTATUS value(USAGE page, USAGE usage, std::vector<uint8_t> report, ULONG& out,
                   ULONG collection = 0) const
    {
        return HidP_GetUsageValue(HidP_Input, page, 0, usage, &out, preparsed(collection),
                                  reinterpret_cast<PCHAR>(report.data()), static_cast<ULONG>(report.size()));
    }

    NTSTATUS scaled(USAGE page, USAGE usage, std::vector<uint8_t> report, LONG& out,
                    ULONG collection = 0) const
    {
        return HidP_GetScaledUsageValue(HidP_Input, page, 0, usage, &out, preparsed(collection),
                                        reinterpret_cast<PCHAR>(report.data()),
                                        static_cast<ULONG>(report.size()));
    }

private:
    std::vector<uint8_t> m_bytes;
    HIDP_DEVICE_DESC m_desc{};
    NTSTATUS m_status = 0;
};
