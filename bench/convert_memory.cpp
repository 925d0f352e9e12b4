// The in-memory conversion the web module does, natively, for comparison with the module under
// Node (bench/web_module.mjs): every source of a folder is read into memory first, then each
// round converts all of them on one thread (convertBytes with the thread's GIF tables, the
// package bytes, the package read back) and the best round counts. Rounds are timed in processor
// time, which the other work of a shared machine disturbs less than the wall clock.
//
//   convert_memory FOLDER [ROUNDS]  ->  one JSON line: gestures, best seconds, gestures per second

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/Converter.h"
#include "convert/GestureConverter.h"
#include "convert/Md5.h"
#include "convert/Package.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: convert_memory FOLDER [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    if (entry.is_regular_file()) paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::vector<uint8_t>> sources;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    sources.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // A small folder is gone through several times per round, so a round is long enough to time.
  const std::size_t repeat = sources.empty() ? 1 : (999 + sources.size()) / sources.size();
  skm::Converter converter;  // one thread's state, as each worker of a conversion job keeps it
  double best = 1e9;
  std::size_t converted = 0, bytes = 0;
  for (int round = 0; round < rounds; ++round) {
    converted = 0;
    bytes = 0;
    const std::clock_t start = std::clock();
    for (std::size_t n = 0; n < sources.size() * repeat; ++n) {
      const std::size_t i = n % sources.size();
      skm::GestureResult result = converter.convertBytes(sources[i], paths[i]);
      std::string reason = skm::describeReason(result);
      if (result.outcome != skm::GestureOutcome::Converted) continue;
      std::vector<uint8_t> package = skm::buildPackageBytes(skm::packagePartsOf(result));
      skm::PackageView view = skm::parsePackage(package);
      converted += view.identifier == skm::makeGestureId(view.name);
      bytes += package.size();
    }
    best = std::min(best, double(std::clock() - start) / CLOCKS_PER_SEC);
  }
  std::printf(
      "{\"gestures\": %zu, \"converted\": %zu, \"packageBytes\": %zu, \"seconds\": %.6f, "
      "\"perSecond\": %.1f}\n",
      sources.size(), converted / repeat, bytes / repeat, best / double(repeat),
      double(sources.size() * repeat) / best);
  return 0;
}
