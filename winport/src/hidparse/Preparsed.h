// Read access to a preparsed-data block handed in through the API.
#pragma once

#include "PreparsedLayout.h"

#include <hidpi.h>

#include <cstring>

namespace winport::hidparse
{

class Preparsed
{
public:
    // The block behind a handle, or nullptr when it is not preparsed data.
    static const Preparsed* From(PHIDP_PREPARSED_DATA data)
    {
        uint64_t magic = 0, expected = 0;
        if (!data)
            return nullptr;
        std::memcpy(&magic, data, sizeof magic);
        std::memcpy(&expected, kPreparsedMagic, sizeof expected);
        if (magic != expected)
            return nullptr;
        return reinterpret_cast<const Preparsed*>(data);
    }

    static bool ValidType(HIDP_REPORT_TYPE type) { return type >= HidP_Input && type <= HidP_Feature; }

    const Header& GetHeader() const { return *reinterpret_cast<const Header*>(this); }
    const Cap* CapsBegin(HIDP_REPORT_TYPE type) const { return Caps() + GetHeader().capBegin[type]; }
    const Cap* CapsEnd(HIDP_REPORT_TYPE type) const { return Caps() + GetHeader().capEnd[type]; }
    const Cap& CapAt(uint16_t index) const { return Caps()[index]; }
    const Node* Nodes() const { return At<Node>(GetHeader().nodesOffset); }
    uint16_t ReportLength(HIDP_REPORT_TYPE type) const { return GetHeader().reportLength[type]; }

    // The index slot of (page, usage) among the indexed value caps of a type.
    const Slot* FindSlot(HIDP_REPORT_TYPE type, uint16_t page, uint16_t usage) const
    {
        const Header& h = GetHeader();
        const Slot* table = At<Slot>(h.slotsOffset) + h.slotBegin[type];
        const uint32_t key = SlotKey(page, usage);
        for (uint32_t i = SlotHash(key) & h.slotMask[type];; i = (i + 1) & h.slotMask[type])
        {
            const Slot& slot = table[i];
            if (slot.count == 0)
                return nullptr;
            if (slot.key == key)
                return &slot;
        }
    }

    // The caps of a slot, in cap order.
    const uint16_t* SlotCaps(const Slot& slot) const
    {
        return slot.count == 1 ? &slot.first : CapList() + slot.first;
    }

    const uint16_t* ButtonsBegin(HIDP_REPORT_TYPE type) const
    {
        return CapList() + GetHeader().buttonBegin[type];
    }
    const uint16_t* ButtonsEnd(HIDP_REPORT_TYPE type) const
    {
        return CapList() + GetHeader().buttonEnd[type];
    }

    bool HasWide(HIDP_REPORT_TYPE type) const
    {
        return GetHeader().wideBegin[type] != GetHeader().wideEnd[type];
    }
    const uint16_t* WideBegin(HIDP_REPORT_TYPE type) const { return CapList() + GetHeader().wideBegin[type]; }
    const uint16_t* WideEnd(HIDP_REPORT_TYPE type) const { return CapList() + GetHeader().wideEnd[type]; }

private:
    template <class T> const T* At(uint32_t offset) const
    {
        return reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(this) + offset);
    }
    const Cap* Caps() const { return At<Cap>(GetHeader().capsOffset); }
    const uint16_t* CapList() const { return At<uint16_t>(GetHeader().capListOffset); }
};

} // namespace winport::hidparse
