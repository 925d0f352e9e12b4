#include "convert/ConversionJob.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "convert/Converter.h"
#include "convert/GestureConverter.h"

namespace skm {

namespace {

// Every failure of one file stays with that file.
GestureResult convertGuarded(Converter& converter, const std::string& path) {
  try {
    return converter.convertSource(path);
  } catch (...) {
    GestureResult result = endedGesture(GestureOutcome::Failed, GestureReason::OutOfMemory);
    result.baseName = baseNameOf(path);
    return result;
  }
}

GestureResult stoppedBefore(const std::string& path) {
  GestureResult result = endedGesture(GestureOutcome::Skipped, GestureReason::Stopped);
  result.baseName = baseNameOf(path);
  return result;
}

void count(RunSummary& summary, const GestureResult& result) {
  if (result.reason == GestureReason::Stopped) summary.stopped = true;
  switch (result.outcome) {
    case GestureOutcome::Converted:
      ++summary.converted;
      break;
    case GestureOutcome::Skipped:
      ++summary.skipped;
      break;
    case GestureOutcome::Failed:
      ++summary.failed;
      break;
  }
}

// Converts sources ahead of the host on worker threads. Results are handed back strictly in
// source order, and at most `window` of them wait at a time, in a ring of that many slots (the
// index of a waiting result is unique modulo the window), so memory does not grow with the
// number of sources. A host that has to wait waits for a batch of results, and either side is
// woken only when it waits: on a machine whose cores all convert, every wake-up costs two
// context switches, and waking the host for each result made some 1,700 of them in a
// two-worker run of 1,000 gestures.
class Prefetcher {
  static constexpr std::chrono::milliseconds BatchWait{5};

 public:
  Prefetcher(const std::vector<std::string>& paths, int workers)
      : paths_(paths),
        window_(std::size_t(workers) * 4),
        batch_(std::size_t(workers) * 2),
        results_(window_) {
    threads_.reserve(std::size_t(workers));
    // Under a process limit the system may refuse some threads: the run goes on with those that
    // started, and the caller converts on its own thread when none did.
    for (int w = 0; w < workers; ++w) {
      try {
        threads_.emplace_back([this] { work(); });
      } catch (const std::system_error& error) {
        refusal_ = error.code().message();
        break;
      } catch (const std::bad_alloc&) {
        refusal_ = std::make_error_code(std::errc::not_enough_memory).message();
        break;
      }
    }
  }

  ~Prefetcher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    workerWake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  int started() const { return int(threads_.size()); }
  // The system's words for the thread it would not start; empty when all started.
  const std::string& refusal() const { return refusal_; }

  GestureResult take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<GestureResult>& slot = results_[index % window_];
    if (!slot) {
      // All of [index, hostWaitsFor_) are within the window, since taken_ is index now.
      hostWaitsFor_ = std::min(index + batch_, paths_.size());
      const auto deadline = std::chrono::steady_clock::now() + BatchWait;
      if (!hostWake_.wait_until(lock, deadline, [&] { return readyUpTo(index, hostWaitsFor_); })) {
        // A slow source (a pipe nobody writes, a stalled disk) holds up the batch: the results
        // before it go out now.
        hostWaitsFor_ = index + 1;
        hostWake_.wait(lock, [&] { return slot.has_value(); });
      }
      hostWaitsFor_ = 0;
    }
    GestureResult result = std::move(*slot);
    slot.reset();
    taken_ = index + 1;
    const bool wake = workersWaiting_ > 0;
    lock.unlock();
    if (wake) workerWake_.notify_all();
    return result;
  }

 private:
  // Whether the results of [from, to) have all arrived.
  bool readyUpTo(std::size_t from, std::size_t to) const {
    for (std::size_t k = from; k < to; ++k) {
      if (!results_[k % window_]) return false;
    }
    return true;
  }

  void work() {
    Converter converter;
    for (;;) {
      std::size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ++workersWaiting_;
        workerWake_.wait(
            lock, [&] { return stopping_ || next_ >= paths_.size() || next_ < taken_ + window_; });
        --workersWaiting_;
        if (stopping_ || next_ >= paths_.size()) return;
        index = next_++;
      }
      GestureResult result = convertGuarded(converter, paths_[index]);
      bool wake = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[index % window_] = std::move(result);
        wake = hostWaitsFor_ != 0 && index < hostWaitsFor_ && readyUpTo(taken_, hostWaitsFor_);
      }
      if (wake) hostWake_.notify_one();
    }
  }

  const std::vector<std::string>& paths_;
  const std::size_t window_;
  const std::size_t batch_;  // results the host waits for at once; at most the window
  std::vector<std::optional<GestureResult>> results_;
  std::vector<std::thread> threads_;
  std::string refusal_;
  std::mutex mutex_;
  std::condition_variable hostWake_;
  std::condition_variable workerWake_;
  std::size_t next_ = 0;
  std::size_t taken_ = 0;
  std::size_t hostWaitsFor_ = 0;  // the end of the batch the host waits for; 0 when it runs
  int workersWaiting_ = 0;
  bool stopping_ = false;
};

}  // namespace

void JobHost::writePackage(std::size_t, GestureResult& result) {
  writeResultPackage(result, outputFolder());
}

RunSummary ConversionJob(JobHost& host) {
  return ConversionJob(host, 1);
}

RunSummary ConversionJob(JobHost& host, int workers) {
  const std::vector<std::string>& paths = host.sourcePaths();
  RunSummary summary;
  summary.files = paths.size();
  host.runStarted(paths.size());
  std::optional<Prefetcher> prefetcher;
  std::optional<Converter> converter;
  if (workers > 1 && paths.size() > 1) {
    const int asked = std::min<int>(workers, int(std::min<std::size_t>(paths.size(), 256)));
    prefetcher.emplace(paths, asked);
    if (!prefetcher->refusal().empty()) {
      host.workersLimited(asked, std::max(prefetcher->started(), 1), prefetcher->refusal());
    }
    if (prefetcher->started() == 0) prefetcher.reset();
  }
  if (!prefetcher) converter.emplace();

  std::size_t i = 0;
  for (; i < paths.size(); ++i) {
    if (host.stopRequested()) break;
    host.fileStarted(i);
    GestureResult result = prefetcher ? prefetcher->take(i) : convertGuarded(*converter, paths[i]);
    // An interrupt that came while this file was converted starts no new file.
    if (result.outcome == GestureOutcome::Converted && host.stopRequested()) {
      result = stoppedBefore(paths[i]);
    }
    if (result.outcome == GestureOutcome::Converted) host.writePackage(i, result);
    count(summary, result);
    host.fileFinished(i, result);
  }
  prefetcher.reset();
  for (std::size_t rest = i; rest < paths.size(); ++rest) {
    const GestureResult result = stoppedBefore(paths[rest]);
    count(summary, result);
    host.fileFinished(rest, result);
  }
  host.runEnded(summary);
  return summary;
}

}  // namespace skm
