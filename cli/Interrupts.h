#pragma once

namespace skm::cli {

// Catches SIGINT, SIGTERM, SIGHUP and SIGQUIT (on Windows: Ctrl-C, Ctrl-Break and closing the
// console). The first one only asks the run to stop: no new file is started, and whatever is
// being written is finished or removed; a read waiting on a pipe gives up. A second one removes
// every temporary file at once and ends the process with 128 + its number.
void catchInterrupts();

// The run is over and only its report remains: from here a signal stops nothing, so the first
// one is let pass (interrupted writes resume) and the report is finished whole; only a further
// one ends the process at once. interruptSignal() keeps what came before.
void reportFollows();

// The number of the first interrupt that came, or 0.
int interruptSignal();

// "SIGINT", "SIGTERM", ...; the exit status of a run ended by it is 128 + the number.
const char* interruptName(int signal);

// Tells a Windows console-close handler that the run has ended and the process may go.
void runEnded();

}  // namespace skm::cli
