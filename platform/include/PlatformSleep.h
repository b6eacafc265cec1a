// The plug handler's pause. Under the simulator's virtual clock it advances virtual time at once.
#pragma once

namespace platform
{
unsigned sleep(unsigned seconds); // returns 0, as the C library's sleep does when not interrupted
}
