#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skm {

// Whether a file name is a source gesture's: it ends in ".skm", in any letter case.
bool isSourceName(std::string_view fileName);

// One source of a run.
struct PlanSource {
  std::string path;
  // The folder below the output folder its package goes into, ending in a separator; empty for
  // the output folder itself.
  std::string folder;
};

// What the output folder and the face make of names.
struct PlanRules {
  // The output takes names that differ only in letter case or Unicode normalisation for one.
  bool ignoresCase = false;
  // Names Windows keeps for devices make no package (and are never opened).
#ifdef _WIN32
  bool deviceNames = true;
#else
  bool deviceNames = false;
#endif
  // The source of the run (an index into the sources) that the file already at a package path
  // is, reached by its name, a symbolic link or a hard link; `relative` is the package's path
  // below the output folder. Asked only for sources whose name makes a package. A face that
  // cannot tell leaves it empty.
  std::function<std::optional<std::size_t>(std::size_t index, const std::string& relative)>
      existingSource;
};

enum class PlanVerdict { Planned, DeviceName, NoStem, HiddenName, ReplacesSource };

// The package planned for one source.
struct PackagePlan {
  PlanVerdict verdict = PlanVerdict::Planned;
  std::string package;  // folder + base name + ".trn": the package's path below the output
  std::string key;      // equal keys name one file in the output
  // The first planned source in run order with this key; the source's own index when no
  // earlier one has it. Which of them gets the package is the face's choice: the command line
  // gives it to the first that converts.
  std::size_t first = 0;
  std::string reason;  // why the source gets no package, in words; empty when planned
};

// Plans the packages of a run's sources, given in run order: their names, which of them share
// one, and which make none.
std::vector<PackagePlan> planPackages(const std::vector<PlanSource>& sources,
                                      const PlanRules& rules);

// Why the package of source `index` may not replace source `owner` (which may be itself), whose
// path is ownerPath.
std::string replacesSourceReason(std::size_t index, std::size_t owner,
                                 const std::string& ownerPath);

}  // namespace skm
