#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "convert/JobHost.h"
#include "convert/PackagePlan.h"

namespace skm {

// The dialog's side of a run: turns the job's events into what the dialog shows, the progress
// position, the count and message lines and the two buttons, through four control updates that
// the window delivers synchronously; and places packages by the shared package plan. Kept free
// of windows.h so it is tested natively.
class JobDisplay : public JobHost {
 public:
  void runStarted(std::size_t count) override;
  void fileStarted(std::size_t index) override;
  void fileFinished(std::size_t index, const GestureResult& result) override;
  void runEnded(const RunSummary& summary) override;
  // A package goes to the first source of its name that converts; a later one of the same name
  // (as the output folder takes names: letter case aside on Windows) is skipped rather than
  // replace it.
  void writePackage(std::size_t index, GestureResult& result) override;

 protected:
  virtual void setProgressPosition(int position) = 0;
  virtual void setStatusText(const std::string& text) = 0;   // IDC_STATUS
  virtual void setMessageText(const std::string& text) = 0;  // IDC_MESSAGE
  virtual void enableButton(int controlId) = 0;              // IDC_CONVERT, IDC_SELECT_FOLDER

 private:
  std::vector<PackagePlan> plans_;
  std::set<std::string> written_;  // keys of the packages written in this run
};

}  // namespace skm
