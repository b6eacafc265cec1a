// The platform services that device access calls.
#pragma once

#include "Platform.h"
