// Must not compile: the dongle link knows nothing of the firmware side built on it.
#include "flash/firmware_state.h"
