#pragma once

// The batch run of option mode: every input of valid options converted in turn.

#include "app/options.h"

namespace scrivane {

// Converts every input of the options into its target and returns the exit
// status: 0 when all converted, 1 when any failed or was refused. Targets that
// cannot all be written (two inputs for one PDF, a PDF for a terminal) are a
// UsageError, thrown before anything is converted.
int RunBatch(const Options& options, OptionServices& services);

}  // namespace scrivane
