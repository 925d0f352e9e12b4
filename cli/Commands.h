#pragma once

#include <string>
#include <vector>

namespace skm::cli {

inline constexpr int ExitOk = 0;
inline constexpr int ExitSomeNotConverted = 1;
inline constexpr int ExitUsage = 2;

struct ConvertOptions {
  std::vector<std::string> sources;  // .skm files or folders
  std::string outputDir;
  int workers = 1;
  bool quiet = false;
  bool json = false;
  bool recursive = false;  // walk into subfolders and mirror them in the output folder
  bool noClobber = false;  // keep existing packages
  bool dryRun = false;     // convert in memory, write nothing
};

int runConvert(const ConvertOptions& options);
int runShowContents(const std::vector<std::string>& files);
int runExtract(const std::string& package, const std::string& folder);

// With --json a usage error is an object on standard output too, {"error": "reason"}, so that a
// script's parser reads why instead of empty input.
void writeJsonError(const std::string& reason);

// Flushes standard output; on a failed write prints why on standard error and returns false.
bool standardOutputWritten();

}  // namespace skm::cli
