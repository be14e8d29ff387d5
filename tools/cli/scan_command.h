#pragma once
// probe --scan: the Com Port page's "Find Module" for scripts. The listed
// serial devices (or the --port ones) are tried at once, at --baud and with
// --all-rates at every rate of the Serial Baud Rate group; the first port
// and rate where a module answered win.
#include "tools/cli/cli_commands.h"

// The Serial Baud Rate item of a rate, or -1 when the group has no such rate.
int BaudItemOfRate(int baud);

TCliOutcome RunScan(const TCliOptions& options, bool showProgress);
