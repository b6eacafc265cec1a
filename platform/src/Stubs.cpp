// Placeholder until the simulated machine lands.
#include "SimControl.h"
