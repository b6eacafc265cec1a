// The settings file, the About box and the loopback dialog that the panel builds on. Include these
// headers directly; this one is kept only until its last users have moved.
#pragma once

#include "AboutWindow.h"
#include "PatchGridLoopbackDialog.h"
#include "SettingsFile.h"
