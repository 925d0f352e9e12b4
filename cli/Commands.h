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
};

// Finds the .skm files of a folder: regular files whose name ends in ".skm" in any letter case,
// no subfolders, sorted by name so that runs are reproducible.
std::vector<std::string> findGestures(const std::string& folder, std::string& error);

int runConvert(const ConvertOptions& options);
int runShowContents(const std::vector<std::string>& files);
int runExtract(const std::string& package, const std::string& folder);

}  // namespace skm::cli
