#include "app/JobDisplay.h"

#include "app/resource.h"
#include "convert/GestureConverter.h"

namespace skm {

namespace {

std::string convertedText(std::size_t count) {
  return std::to_string(count) + " gestures converted.";
}

}  // namespace

// The count includes the file now starting, so the first file shows 1; the message always ends
// in a lower-case ".skm", whatever the real extension.
void JobDisplay::fileStarted(std::size_t index) {
  setProgressPosition(int(index));
  setStatusText(convertedText(index + 1));
  setMessageText("Converting: " + baseNameOf(sourcePaths()[index]) + ".skm");
}

// Silent skips leave the file's "Converting" text in place.
void JobDisplay::fileFinished(std::size_t, const GestureResult& result) {
  if (result.outcome == GestureOutcome::Failed) setMessageText("Error: Gesture skipped.");
}

void JobDisplay::runEnded(const RunSummary& summary) {
  setProgressPosition(int(summary.files));
  setStatusText(convertedText(summary.converted));
  setMessageText("Converting Finished.");
  enableButton(IDC_CONVERT);
  enableButton(IDC_SELECT_FOLDER);
}

}  // namespace skm
