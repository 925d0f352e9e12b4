#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace skm {

struct GestureResult;

// How a run ended, counted after each package was placed.
struct RunSummary {
  std::size_t files = 0;
  std::size_t converted = 0;  // packages written (or, in a dry run, that would be)
  std::size_t skipped = 0;
  std::size_t failed = 0;
  bool stopped = false;  // stopRequested() left a file unconverted
};

// What the conversion job needs of its front end: the sources, the output folder, and the
// events of a run, told synchronously on the job's thread. The job says what happens, never how
// a face shows it: the dialog renders these events as its texts, the command line as its
// progress line and report, the tests record them.
class JobHost {
 public:
  virtual ~JobHost() = default;

  virtual const std::vector<std::string>& sourcePaths() const = 0;
  // Ends in a path separator.
  virtual const std::string& outputFolder() const = 0;

  // Told once, before the first file.
  virtual void runStarted(std::size_t count) { (void)count; }
  // Told before source `index` is taken, in source order; not for files a stop left out.
  virtual void fileStarted(std::size_t index) { (void)index; }
  // Told how each file ended, in source order, after its package was placed: every file of the
  // run, those a stop left out included (skipped, GestureReason::Stopped).
  virtual void fileFinished(std::size_t index, const GestureResult& result) {
    (void)index;
    (void)result;
  }
  // Told once, last.
  virtual void runEnded(const RunSummary& summary) { (void)summary; }

  // Polled between files; a host that is going away returns true to end the run early.
  virtual bool stopRequested() const { return false; }

  // Writes the package of a converted result for source index; called in source order, only
  // for converted results, and never once stopRequested() has said yes. The default writes
  // outputFolder() + base name + ".trn", replacing an existing package.
  virtual void writePackage(std::size_t index, GestureResult& result);

  // Told once, before the first file, when the system would not start every converting thread
  // asked for (a process limit): the run goes on with `converting` threads, 1 meaning the
  // calling thread alone. reason is the system's words.
  virtual void workersLimited(int asked, int converting, const std::string& reason) {
    (void)asked;
    (void)converting;
    (void)reason;
  }
};

}  // namespace skm
