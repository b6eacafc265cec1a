#include "PelkVODApplication.h"

START_JUCE_APPLICATION(PelkVODApplication)
