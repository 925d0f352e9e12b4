#pragma once

#include <cstddef>
#include <string>

#include "convert/JobHost.h"

namespace skm {

// The dialog's side of a run: turns the job's events into what the dialog shows, the progress
// position, the count and message lines and the two buttons, through four control updates that
// the window delivers synchronously. Kept free of windows.h so the texts are tested natively.
class JobDisplay : public JobHost {
 public:
  void fileStarted(std::size_t index) override;
  void fileFinished(std::size_t index, const GestureResult& result) override;
  void runEnded(const RunSummary& summary) override;

 protected:
  virtual void setProgressPosition(int position) = 0;
  virtual void setStatusText(const std::string& text) = 0;   // IDC_STATUS
  virtual void setMessageText(const std::string& text) = 0;  // IDC_MESSAGE
  virtual void enableButton(int controlId) = 0;              // IDC_CONVERT, IDC_SELECT_FOLDER
};

}  // namespace skm
