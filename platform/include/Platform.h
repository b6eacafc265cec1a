// Everything the device layer calls on the platform.
#pragma once

#include "PlatformCF.h"
#include "PlatformCoreAudio.h"
#include "PlatformIOKit.h"
#include "PlatformSleep.h"
#include "PlatformTypes.h"
