#pragma once

#include "adapter_choice.h"
#include "commands/outcome.h"

#include <vector>

namespace valve::cli {

// What "list" shows: every attached adapter, free, open elsewhere or held by
// a running panel (and which one when several run), and then the adapters
// panels hold that the driver does not show (a simulated unit's, say). With
// `panelsOnly` (--panel), only what the panels hold.
commands::Outcome adapterListing(const QList<link::AdapterInfo>& adapters,
                                 const std::vector<SeenPanel>& panels, bool panelsOnly);

} // namespace valve::cli
