#pragma once

// What the widget tests include: the embedded pictures, the shared picture and waiting helpers, and the
// faders set up as the panel sets them up (LevelFaders.h).

#include "BinaryData.h"
#include "IgnoreXErrors.h"
#include "LevelFaders.h"
#include "Renders.h"
#include "Wait.h"

#include <juce_gui_basics/juce_gui_basics.h>
