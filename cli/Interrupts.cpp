#include "cli/Interrupts.h"

#include <atomic>
#include <csignal>

#include "cli/CommandLine.h"
#include "convert/FileIo.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace skm::cli {
namespace {

std::atomic<int> caught{0};
std::atomic<bool> ended{false};
// Set once only the report remains; passed then holds the one signal let pass while it is
// written.
std::atomic<bool> reporting{false};
std::atomic<int> passed{0};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32
constexpr int SignalBreak = 21;  // the C runtime's SIGBREAK
constexpr int SignalHangUp = 1;  // the console went away, as a hang-up would on POSIX

BOOL WINAPI onConsoleEvent(DWORD event) {
  int signal = event == CTRL_C_EVENT       ? SIGINT
               : event == CTRL_BREAK_EVENT ? SignalBreak
                                           : SignalHangUp;
  int earlier = 0;
  if (reporting.load() && signal != SignalHangUp &&
      passed.compare_exchange_strong(earlier, signal)) {
    return TRUE;
  }
  earlier = 0;
  if (reporting.load() || !caught.compare_exchange_strong(earlier, signal)) {
    removeLiveTemporaries();
    restoreConsole();
    ExitProcess(UINT(128 + (earlier ? earlier : signal)));
  }
  abandonStreamReads();
  if (signal == SignalHangUp) {
    // The system ends the process a few seconds after this returns: let the run finish its
    // file and print its summary meanwhile, and leave no temporary file either way.
    for (int waited = 0; waited < 40 && !ended.load(); ++waited) Sleep(100);
    removeLiveTemporaries();
    restoreConsole();
    ExitProcess(UINT(128 + signal));
  }
  return TRUE;
}
#else
void onSignal(int signal) {
  int earlier = 0;
  if (reporting.load() && passed.compare_exchange_strong(earlier, signal)) return;
  earlier = 0;
  if (reporting.load() || !caught.compare_exchange_strong(earlier, signal)) {
    removeLiveTemporaries();
    static const char message[] = "skm2trn: interrupted again, stopping now\n";
    ssize_t ignored = write(2, message, sizeof message - 1);
    (void)ignored;
    _exit(128 + (earlier ? earlier : signal));
  }
  // A worker may be waiting for a pipe's writer; it holds no temporary file, so it need not
  // hold the run either.
  abandonStreamReads();
}

constexpr int Caught[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void handleSignals(int flags) {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  for (int signal : Caught) sigaction(signal, &action, nullptr);
}
#endif

}  // namespace

void catchInterrupts() {
#ifdef _WIN32
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
  // No SA_RESTART: a source that blocks (a FIFO nobody writes) gives up with EINTR rather than
  // hold the run after the user asked it to stop.
  handleSignals(0);
#endif
}

void reportFollows() {
  reporting.store(true);
#ifndef _WIN32
  // A report waiting on a slow pipe or terminal resumes its write after the signal.
  handleSignals(SA_RESTART);
#endif
}

int interruptSignal() {
  return caught.load();
}

const char* interruptName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#ifdef _WIN32
    case 21:
      return "Ctrl-Break";
    case 1:
      return "console closed";
#else
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
#endif
  }
  return "a signal";
}

void runEnded() {
  ended.store(true);
}

}  // namespace skm::cli
