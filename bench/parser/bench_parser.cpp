// Cost of HidP_GetUsageValue against the number of value caps in the
// collection: the lookup goes through an index, so it should stay flat.
// Descriptor: one vendor collection with N 8-bit values, usages 1..N, each
// its own main item; the call asks for the last one.
#include <windows.h>
#include <hidpddi.h>
#include <hidpi.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace
{

std::vector<uint8_t> descriptorWithValues(int count)
{
    std::vector<uint8_t> d = {0x06, 0x00, 0xff, 0x09, 0x01, 0xa1, 0x01, 0x15,
                              0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x01};
    for (int usage = 1; usage <= count; ++usage)
        d.insert(d.end(), {0x0a, static_cast<uint8_t>(usage), static_cast<uint8_t>(usage >> 8), 0x81, 0x02});
    d.push_back(0xc0);
    return d;
}

void GetUsageValueOfTheLastCap(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::vector<uint8_t> descriptor = descriptorWithValues(count);
    HIDP_DEVICE_DESC desc{};
    if (HidP_GetCollectionDescription(descriptor.data(), static_cast<ULONG>(descriptor.size()), PagedPool,
                                      &desc) != HIDP_STATUS_SUCCESS)
    {
        state.SkipWithError("descriptor rejected");
        return;
    }
    PHIDP_PREPARSED_DATA data = desc.CollectionDesc[0].PreparsedData;
    std::vector<char> report(desc.CollectionDesc[0].InputLength, 0x11);
    report[0] = 0;
    ULONG value = 0;
    for (auto _ : state)
    {
        HidP_GetUsageValue(HidP_Input, 0xff00, 0, static_cast<USAGE>(count), &value, data, report.data(),
                           static_cast<ULONG>(report.size()));
        benchmark::DoNotOptimize(value);
    }
    state.counters["value_caps"] = count;
    HidP_FreeCollectionDescription(&desc);
}

} // namespace

BENCHMARK(GetUsageValueOfTheLastCap)->Arg(1)->Arg(8)->Arg(64)->Arg(512);

BENCHMARK_MAIN();
