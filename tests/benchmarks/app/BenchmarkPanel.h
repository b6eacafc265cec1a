// The real panel for the control panel's benchmarks: a plugged-in simulated interface, a scratch settings
// folder and a settled panel, built once per benchmark program.
#pragma once

#include "MainComponent.h"
#include "SimControl.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

struct BenchmarkPanel
{
    BenchmarkPanel()
    {
        // Without a window manager X reports harmless errors about missing window-manager atoms.
        using Handler = int (*)(void*, void*);
        using SetHandler = Handler (*)(Handler);
        static void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE);
        if (auto* setHandler = (SetHandler) dlsym(x11, "XSetErrorHandler"))
            setHandler([](void*, void*) { return 0; });

        setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
        setenv("XDG_CONFIG_HOME", home.getChildFile(".config").getFullPathName().toRawUTF8(), 1);
        platform::sim::Config config;
        config.mainLoop = platform::sim::MainLoop::juce;
        platform::sim::reset(config);
        platform::sim::plug();
        panel = std::make_unique<MainComponent>();
        pump(400);
    }

    ~BenchmarkPanel()
    {
        panel.reset();
        home.deleteRecursively();
    }

    static void pump(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

    juce::File home = juce::File::createTempFile("pelk-panel-bench");
    std::unique_ptr<MainComponent> panel;
};

// The whole benchmark program: standard error (the device layer's, the worker's and the layout's lines)
// goes to /dev/null, as the results are written to standard output; current names the panel while the
// registered benchmarks run.
inline int runPanelBenchmarks(int argc, char** argv, BenchmarkPanel*& current)
{
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, STDERR_FILENO);
    close(devNull);

    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize(&argc, argv);
    {
        BenchmarkPanel panel;
        current = &panel;
        benchmark::RunSpecifiedBenchmarks();
        current = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
