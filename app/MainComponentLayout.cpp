// Temporary: layout and painting of the main panel are being written beside it.
#include "MainComponent.h"

void MainComponent::paint(juce::Graphics&) {}

void MainComponent::resized() {}
