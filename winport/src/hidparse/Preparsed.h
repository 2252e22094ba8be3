// Read access to a preparsed-data block handed in through the API.
#pragma once

#include "PreparsedLayout.h"

#include <hidpi.h>

#include <cstring>

namespace kvhid
{

class Preparsed
{
public:
    // The block behind a handle, or nullptr when it is not preparsed data.
    static const Preparsed* from(PHIDP_PREPARSED_DATA data)
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

    static bool validType(HIDP_REPORT_TYPE type) { return type >= HidP_Input && type <= HidP_Feature; }

    const Header& header() const { return *reinterpret_cast<const Header*>(this); }
    const Cap* capsBegin(int type) const { return caps() + header().capBegin[type]; }
    const Cap* capsEnd(int type) const { return caps() + header().capEnd[type]; }
    const Cap& cap(uint16_t index) const { return caps()[index]; }
    const Node* nodes() const { return at<Node>(header().nodesOffset); }
    uint16_t reportLength(int type) const { return header().reportLength[type]; }

    // The index slot of (page, usage) among the indexed value caps of a type.
    const Slot* slot(int type, uint16_t page, uint16_t usage) const
    {
        const Header& h = header();
        const Slot* table = at<Slot>(h.slotsOffset) + h.slotBegin[type];
        const uint32_t key = slotKey(page, usage);
        for (uint32_t i = slotHash(key) & h.slotMask[type];; i = (i + 1) & h.slotMask[type])
        {
            const Slot& slot = table[i];
            if (slot.count == 0)
                return nullptr;
            if (slot.key == key)
                return &slot;
        }
    }

    // The caps of a slot, in cap order.
    const uint16_t* slotCaps(const Slot& slot) const
    {
        return slot.count == 1 ? &slot.first : capList() + slot.first;
    }

    const uint16_t* buttonsBegin(int type) const { return capList() + header().buttonBegin[type]; }
    const uint16_t* buttonsEnd(int type) const { return capList() + header().buttonEnd[type]; }

    bool hasWide(int type) const { return header().wideBegin[type] != header().wideEnd[type]; }
    const uint16_t* wideBegin(int type) const { return capList() + header().wideBegin[type]; }
    const uint16_t* wideEnd(int type) const { return capList() + header().wideEnd[type]; }

private:
    template <class T> const T* at(uint32_t offset) const
    {
        return reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(this) + offset);
    }
    const Cap* caps() const { return at<Cap>(header().capsOffset); }
    const uint16_t* capList() const { return at<uint16_t>(header().capListOffset); }
};

} // namespace kvhid
