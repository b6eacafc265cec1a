// A real panel for the layout tests, in a private settings folder, against a fresh simulated machine.
#pragma once

#include "MainComponent.h"
#include "SimControl.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <dlfcn.h>
#include <memory>

namespace layouttest
{
class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        using Handler = int (*)(void*, void*);
        using SetHandler = Handler (*)(Handler);
        static void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE);
        if (auto* setHandler = (SetHandler) dlsym(x11, "XSetErrorHandler"))
            setHandler([](void*, void*) { return 0; });
        home = juce::File::createTempFile("layout-home");
        home.createDirectory();
        setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
        setenv("XDG_CONFIG_HOME", home.getChildFile(".config").getFullPathName().toRawUTF8(), 1);
        platform::sim::Config config;
        config.mainLoop = platform::sim::MainLoop::juce;
        platform::sim::reset(config);
    }

    void TearDown() override
    {
        panel.reset();
        pump(20);
        platform::sim::shutdownNotifications();
        home.deleteRecursively();
    }

    // Writes a setting before the panel starts.
    void storeSetting(const juce::String& key, const juce::String& value)
    {
        auto folder = home.getChildFile(".config").getChildFile("Pelk VOD Panel");
        folder.createDirectory();
        auto file = folder.getChildFile("Pelk VOD Panel.settings");
        std::unique_ptr<juce::XmlElement> xml = juce::parseXML(file);
        if (xml == nullptr)
            xml = std::make_unique<juce::XmlElement>("PROPERTIES");
        auto* e = xml->createNewChildElement("VALUE");
        e->setAttribute("name", key);
        e->setAttribute("val", value);
        xml->writeTo(file);
    }

    MainComponent& makePanel()
    {
        panel = std::make_unique<MainComponent>();
        pump(20);
        return *panel;
    }

    static void pump(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

    juce::File home;
    std::unique_ptr<MainComponent> panel;
};
} // namespace layouttest
