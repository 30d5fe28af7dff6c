// Must not compile: the simulated world shares no code with the system it plays against.
#include "common/text.h"
