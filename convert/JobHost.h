#pragma once

#include <string>
#include <vector>

namespace skm {

// Control ids the conversion job updates through its host.
inline constexpr int IDC_CONVERT = 1000;
inline constexpr int IDC_SELECT_FOLDER = 1001;
inline constexpr int IDC_PROGRESS = 1004;
inline constexpr int IDC_STATUS = 1005;
inline constexpr int IDC_MESSAGE = 1006;

// What the conversion job needs of its front end: the sources, the output folder and four
// synchronous updates. The dialog, the command line and the tests each implement it.
class JobHost {
 public:
  virtual ~JobHost() = default;

  virtual const std::vector<std::string>& sourcePaths() const = 0;
  // Ends in a path separator.
  virtual const std::string& outputFolder() const = 0;

  virtual void setProgressPosition(int position) = 0;
  virtual void setStatusText(const std::string& text) = 0;   // IDC_STATUS
  virtual void setMessageText(const std::string& text) = 0;  // IDC_MESSAGE
  virtual void enableButton(int controlId) = 0;

  // Polled between files; a host that is going away returns true to end the run early.
  virtual bool stopRequested() const { return false; }
};

}  // namespace skm
