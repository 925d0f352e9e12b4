#pragma once

#include "convert/JobHost.h"

namespace skm {

// Converts every source in host.sourcePaths() into a package in host.outputFolder(), reporting
// through the host's four updates. Runs on the caller's thread (the dialog starts it on a
// worker thread). Returns the thread exit code, 1.
unsigned ConversionJob(JobHost& host);

// The same run with `workers` threads converting ahead; the host sees exactly the updates of the
// one-thread run, in source order, and packages are written in source order.
unsigned ConversionJob(JobHost& host, int workers);

}  // namespace skm
