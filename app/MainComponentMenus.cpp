// Temporary: the main panel's menus and their commands are being written beside it.
#include "MainComponent.h"

juce::StringArray MainComponent::getMenuBarNames()
{
    return {"File", "Config", "PatchGRID", "Help"};
}

juce::PopupMenu MainComponent::getMenuForIndex(int, const juce::String&)
{
    return {};
}

void MainComponent::menuItemSelected(int, int) {}

void MainComponent::actionListenerCallback(const juce::String&) {}

void MainComponent::showPatchGRIDDialog() {}

void MainComponent::setFactoryDefaults() {}
