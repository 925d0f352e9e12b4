#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace skm {

struct GestureResult;

// The dialog controls the conversion job updates, by their control ids (the dialog's
// IDC_CONVERT, IDC_SELECT_FOLDER, IDC_PROGRESS, IDC_STATUS and IDC_MESSAGE). Named apart from
// the resource macros so that both can be included together.
enum JobControl : int {
  ControlConvert = 1000,
  ControlSelectFolder = 1001,
  ControlProgress = 1004,
  ControlStatus = 1005,
  ControlMessage = 1006,
};

// What the conversion job needs of its front end: the sources, the output folder and four
// synchronous updates. The dialog, the command line and the tests each implement it.
class JobHost {
 public:
  virtual ~JobHost() = default;

  virtual const std::vector<std::string>& sourcePaths() const = 0;
  // Ends in a path separator.
  virtual const std::string& outputFolder() const = 0;

  virtual void setProgressPosition(int position) = 0;
  virtual void setStatusText(const std::string& text) = 0;   // ControlStatus
  virtual void setMessageText(const std::string& text) = 0;  // ControlMessage
  virtual void enableButton(int controlId) = 0;  // ControlConvert or ControlSelectFolder

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

  // Told how each file ended, in source order, after the dialog-level updates for it.
  virtual void fileFinished(std::size_t index, const GestureResult& result) {
    (void)index;
    (void)result;
  }
};

}  // namespace skm
