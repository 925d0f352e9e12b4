#pragma once

#include "convert/JobHost.h"

namespace skm {

// Converts every source in host.sourcePaths() into a package in host.outputFolder(), telling
// the host the run's events. Runs on the caller's thread (the dialog starts it on a worker
// thread).
RunSummary ConversionJob(JobHost& host);

// The same run with `workers` threads converting ahead; the host sees exactly the events of the
// one-thread run, in source order, and packages are written in source order.
RunSummary ConversionJob(JobHost& host, int workers);

}  // namespace skm
