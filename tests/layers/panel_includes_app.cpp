// Must not compile: the panel serves the tray, it never reaches into it.
#include "app/tray_ids.h"
