// kvhidmon: shows what the library sees, as an application of ours would: every device of every source,
// their capabilities, and their values live.
#include "MonApp.h"
#include "MonOptions.h"
#if !defined(_WIN32)
#include "MonDemoScenario.h"
#endif

#include <csignal>
#include <iostream>
#include <memory>

namespace
{
extern "C" void OnStopSignal(int)
{
    CMonApp::RequestStop();
}
} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const std::optional<CMonOptions> options =
        CMonOptions::Parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options)
    {
        std::cerr << "kvhidmon: " << error << std::endl;
        return CMonApp::kExitUsage;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    MonDemoHooks demo;
#if defined(_WIN32)
    if (options->demo)
    {
        std::cerr << "kvhidmon: --demo needs the simulated PC of the native build" << std::endl;
        return CMonApp::kExitUsage;
    }
#else
    // The native build's machine has no real devices: the demo is what there is to see.
    auto scenario = std::make_unique<CMonDemoScenario>(options->seed);
    scenario->AddLoad(options->demoLoad);
    demo.banner = scenario->Banner();
    demo.beforeStart = [&] { scenario->SetUp(options->demoServiceRefuses); };
    demo.play = [&] { scenario->Play(); };
    demo.stop = [&] { scenario->Stop(); };
#endif
    return CMonApp(*options, std::move(demo), std::cout, std::cerr).Run();
}
