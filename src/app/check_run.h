#pragma once
// Step 6 of the main sequence: the one check of the XMPP server.

#include "app/front_end.h"

// Checks the server named by Host and Port once and leaves the outcome in
// the state: verdictAlive with ElapsedMs, or verdictBad with the probe's reason.
// Failures outside the probe's own handling are left to the caller's guard.
void RunCheck(TFrontEnd& State);
