#include "MonDeviceModel.h"

#include <algorithm>
#include <thread>

namespace
{
uint64_t InputKey(uint16_t page, uint16_t usage, uint32_t index)
{
    return (uint64_t{page} << 48) | (uint64_t{usage} << 32) | index;
}

// Frees a list the library handed out and returns it as a vector.
std::vector<uint32_t> TakeList(uint32_t* list, uint32_t count)
{
    std::vector<uint32_t> ids(list, list + count);
    KvHRFree(list);
    return ids;
}

using ListExport = uint32_t(KVHR_CALL*)(uint32_t**, uint32_t*);

std::vector<uint32_t> QueryList(ListExport query)
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    if (query(&list, &count) != 0)
        return {};
    return TakeList(list, count);
}
} // namespace

const char* SourceName(MonSource source)
{
    switch (source)
    {
        case MonSource::Filtered:
            return "filtered";
        case MonSource::Virtual:
            return "virtual";
        default:
            return "physical";
    }
}

MonSource SourceOf(uint32_t id)
{
    if (id == VIRTUAL_KEYBOARD_ID || id == VIRTUAL_MOUSE_ID)
        return MonSource::Virtual;
    return (id & FILTERED_DEVICE_FLAG) != 0 ? MonSource::Filtered : MonSource::Physical;
}

std::string ToUtf8(const KvHRWChar* text)
{
    std::string out;
    for (; text && *text; ++text)
    {
        uint32_t c = static_cast<uint16_t>(*text);
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(*++text) - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD; // a lone surrogate
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0x800)
            out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        else
            out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                    static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
    return out;
}

uint32_t CMonDeviceModel::Start()
{
    KvHRSetNotificationHandler(&OnNotification, this);
    const uint32_t status = KvHRInitialize();
    m_started = status == 0;
    if (!m_started)
        KvHRSetNotificationHandler(nullptr, nullptr);
    return status;
}

void CMonDeviceModel::Stop()
{
    if (m_stopped.exchange(true))
        return;
    std::vector<uint32_t> ids;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& entry : m_slots)
            ids.push_back(entry.first);
    }
    for (uint32_t id : ids)
    {
        KvHRSetPolling(id, 0);
        KvHRSetReadDeviceValuesCallback(id, nullptr, nullptr);
    }
    if (m_started)
        KvHRUnInitialize();
    KvHRSetNotificationHandler(nullptr, nullptr);
    while (m_inCallback.load() != 0)
        std::this_thread::yield();
}

std::vector<uint32_t> CMonDeviceModel::ListIds()
{
    std::vector<uint32_t> ids = QueryList(&KvHRGetDevicesList);
    for (ListExport query : {&KvHRFilterGetDevicesList, &KvHRDirectInputGetVirtualDevicesList})
    {
        const std::vector<uint32_t> more = QueryList(query);
        ids.insert(ids.end(), more.begin(), more.end());
    }
    return ids;
}

uint32_t CMonDeviceModel::Describe(uint32_t id, MonDevice& device)
{
    device = MonDevice{};
    device.id = id;
    device.source = SourceOf(id);
    KvHRWChar* name = nullptr;
    device.nameStatus = KvHRGetDeviceName(id, &name);
    device.name = ToUtf8(name);
    // The virtual devices' names are the library's constants, not blocks to free.
    if (device.source != MonSource::Virtual)
        KvHRFree(name);
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    const uint32_t status = KvHRGetDeviceCapabilities(id, &caps, &count);
    device.caps.assign(caps, caps + count);
    KvHRFree(caps);
    if (status != 0)
        return status;
    // A physical device that is not there answers its name query with 1168 too.
    return device.nameStatus == KVHR_ERROR_NOT_FOUND ? KVHR_ERROR_NOT_FOUND : 0;
}

uint32_t CMonDeviceModel::Watch(uint32_t id)
{
    MonDevice device;
    const uint32_t status = Describe(id, device);
    if (status != 0)
        return status;
    CallbackContext* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Slot& slot = m_slots[id];
        slot = Slot{};
        for (const _stHidCapability& cap : device.caps)
        {
            slot.positions.emplace(InputKey(cap.usagePage, cap.usage, cap.index), device.values.size());
            device.values.push_back(_stHidValue{cap.usage, cap.usagePage, 0, 0, cap.index});
        }
        slot.device = std::move(device);
        std::unique_ptr<CallbackContext>& kept = m_contexts[id];
        if (!kept)
            kept.reset(new CallbackContext{this, id});
        context = kept.get();
    }
    KvHRSetReadDeviceValuesCallback(id, &OnValues, context);
    KvHRSetPolling(id, 1);
    return 0;
}

void CMonDeviceModel::Forget(uint32_t id)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_slots.erase(id) == 0)
            return;
    }
    // A physical position that emptied answers 1168 here; a filtered device keeps its slot in the library.
    KvHRSetPolling(id, 0);
    KvHRSetReadDeviceValuesCallback(id, nullptr, nullptr);
}

bool CMonDeviceModel::IsWatched(uint32_t id) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_slots.count(id) != 0;
}

std::vector<MonDelivery> CMonDeviceModel::TakeDeliveries()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return std::move(m_deliveries);
}

std::vector<MonEvent> CMonDeviceModel::TakeEvents()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return std::move(m_events);
}

void CMonDeviceModel::WaitForNews(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_news.wait_for(guard, timeout, [this] { return !m_events.empty() || !m_deliveries.empty(); });
}

std::vector<MonDevice> CMonDeviceModel::Snapshot()
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<MonDevice> devices;
    devices.reserve(m_slots.size());
    for (auto& entry : m_slots)
    {
        Slot& slot = entry.second;
        const double seconds = std::chrono::duration<double>(now - slot.lastRate).count();
        if (seconds >= 0.5)
        {
            slot.device.reportsPerSecond = (slot.device.reports - slot.reportsAtLastRate) / seconds;
            slot.reportsAtLastRate = slot.device.reports;
            slot.lastRate = now;
        }
        devices.push_back(slot.device);
    }
    return devices;
}

void KVHR_CALL CMonDeviceModel::OnNotification(uint32_t event, uint32_t value, void* context)
{
    auto* model = static_cast<CMonDeviceModel*>(context);
    ++model->m_inCallback;
    {
        std::lock_guard<std::mutex> guard(model->m_lock);
        model->m_events.push_back(MonEvent{event, value});
    }
    model->m_news.notify_one();
    --model->m_inCallback;
}

void KVHR_CALL CMonDeviceModel::OnValues(void* context, const _stHidValue* values, uint32_t count)
{
    const auto* target = static_cast<const CallbackContext*>(context);
    CMonDeviceModel* model = target->model;
    ++model->m_inCallback;
    if (!model->m_stopped.load())
        model->Record(target->id, values, count);
    --model->m_inCallback;
}

void CMonDeviceModel::Record(uint32_t id, const _stHidValue* values, uint32_t count)
{
    bool kept = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto found = m_slots.find(id);
        if (found == m_slots.end())
            return;
        Slot& slot = found->second;
        for (uint32_t i = 0; i < count; ++i)
        {
            const _stHidValue& value = values[i];
            const uint64_t key = InputKey(value.usagePage, value.usage, value.index);
            auto position = slot.positions.find(key);
            if (position == slot.positions.end())
            {
                position = slot.positions.emplace(key, slot.device.values.size()).first;
                slot.device.values.push_back(value);
            }
            slot.device.values[position->second] = value;
        }
        ++slot.device.reports;
        if (m_keepDeliveries)
        {
            m_deliveries.push_back(MonDelivery{id, std::vector<_stHidValue>(values, values + count)});
            kept = true;
        }
    }
    ++m_generation;
    if (kept)
        m_news.notify_one();
}
