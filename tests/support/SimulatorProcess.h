#pragma once

// The device simulator as a test's child process. On Linux the test starts it itself; a
// Windows test under Wine asks the Linux side to start it (see simulator-launcher.py).
#if USB_SIMULATOR_THROUGH_LAUNCHER
 #include "support/SimulatorProcessLauncher.h"
#else
 #include "support/SimulatorProcessPosix.h"
#endif
