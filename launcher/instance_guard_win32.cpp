#include <windows.h>

#include "launcher/instance_guard.h"
#include "launcher/launcher_state.h"

int GuardInstance() { return 1; }
