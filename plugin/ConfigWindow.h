// The configuration window: the low-pass filter, the DST thread count and the
// +6 dB gain. Runs modally and writes the settings on OK.
#pragma once

// Shows the window without an owner and returns when it closes; true when the
// user confirmed with OK.
bool RunConfigWindow();
