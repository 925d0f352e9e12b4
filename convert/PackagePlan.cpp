#include "convert/PackagePlan.h"

#include <map>

#include "convert/FilePath.h"
#include "convert/GestureConverter.h"
#include "convert/NameFold.h"

namespace skm {

namespace {

std::string_view fileNameOf(std::string_view path) {
#ifdef _WIN32
  const std::size_t cut = path.find_last_of("\\/");
#else
  const std::size_t cut = path.find_last_of('/');
#endif
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool isSourceName(std::string_view fileName) {
  if (fileName.size() < 4) return false;
  static constexpr char extension[] = ".skm";
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = fileName[fileName.size() - 4 + i];
    if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != extension[i]) return false;
  }
  return true;
}

std::string replacesSourceReason(std::size_t index, std::size_t owner,
                                 const std::string& ownerPath) {
  return owner == index ? "the package would replace its source"
                        : "the package would replace the source " + ownerPath;
}

std::vector<PackagePlan> planPackages(const std::vector<PlanSource>& sources,
                                      const PlanRules& rules) {
  std::vector<PackagePlan> plans(sources.size());
  std::map<std::string, std::size_t> firstByKey;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    PackagePlan& plan = plans[i];
    plan.first = i;
    if (rules.deviceNames && isWindowsDeviceName(fileNameOf(sources[i].path))) {
      plan.verdict = PlanVerdict::DeviceName;
      plan.reason = "reserved device name on Windows";
      continue;
    }
    const std::string base = baseNameOf(sources[i].path);
    if (const std::string problem = packageNameProblem(base); !problem.empty()) {
      plan.verdict = base.empty() ? PlanVerdict::NoStem : PlanVerdict::HiddenName;
      plan.reason = "no package name: " + problem;
      continue;
    }
    plan.package = sources[i].folder + base + ".trn";
    if (rules.existingSource) {
      if (const auto owner = rules.existingSource(i, plan.package)) {
        plan.verdict = PlanVerdict::ReplacesSource;
        plan.reason = replacesSourceReason(i, *owner, sources[*owner].path);
        plan.package.clear();
        continue;
      }
    }
    plan.key = rules.ignoresCase ? caselessNameKey(plan.package) : plan.package;
    plan.first = firstByKey.emplace(plan.key, i).first->second;
  }
  return plans;
}

}  // namespace skm
