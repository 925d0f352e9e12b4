#include "app/JobDisplay.h"

#include "app/resource.h"
#include "convert/FileIo.h"
#include "convert/GestureConverter.h"
#include "convert/PackagePlan.h"

namespace skm {

namespace {

std::string convertedText(std::size_t count) {
  return std::to_string(count) + " gestures converted.";
}

}  // namespace

void JobDisplay::runStarted(std::size_t) {
  std::vector<PlanSource> sources;
  for (const std::string& path : sourcePaths()) sources.push_back({path, {}});
  // The command line's rule for the same folder; a folder that cannot be asked is taken as
  // ignoring case, which can only keep a package from replacing another.
  PlanRules rules;
  if (ignoresLetterCase(outputFolder(), rules.ignoresCase) != 0) rules.ignoresCase = true;
  plans_ = planPackages(sources, rules);
  written_.clear();
}

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

void JobDisplay::writePackage(std::size_t index, GestureResult& result) {
  const PackagePlan& plan = plans_.at(index);
  if (plan.verdict != PlanVerdict::Planned) {
    endGesture(result, GestureOutcome::Skipped, GestureReason::NoPackageName, plan.reason);
    return;
  }
  if (written_.count(plan.key) != 0) {
    endGesture(result, GestureOutcome::Skipped, GestureReason::PackageExists);
    return;
  }
  JobHost::writePackage(index, result);
  if (result.outcome == GestureOutcome::Converted) written_.insert(plan.key);
}

void JobDisplay::runEnded(const RunSummary& summary) {
  setProgressPosition(int(summary.files));
  setStatusText(convertedText(summary.converted));
  setMessageText("Converting Finished.");
  enableButton(IDC_CONVERT);
  enableButton(IDC_SELECT_FOLDER);
}

}  // namespace skm
