// skm2trn: converts .skm gestures into .trn packages, and shows or unpacks either kind of file.

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "convert/Version.h"

namespace {

const char* const Usage =
    "Usage: skm2trn [convert] [-j N] [-q] [--json] SOURCE... OUTPUT_DIR\n"
    "       skm2trn inspect FILE...\n"
    "       skm2trn extract PACKAGE.trn DIR\n"
    "\n"
    "Converts every .skm gesture into OUTPUT_DIR/<name>.trn. A SOURCE is a .skm file or a\n"
    "folder whose .skm files (any letter case, no subfolders) are converted in name order.\n"
    "\n"
    "  -j N       convert with N worker threads (default: the number of cores)\n"
    "  -q         quiet: print only the files that were not converted\n"
    "  --json     print a machine-readable summary on standard output\n"
    "  -h, --help show this help\n"
    "  --version  show the version\n"
    "\n"
    "inspect shows what a .skm or .trn file holds; extract writes a package's button.bmp,\n"
    "animation.gif, sound.wav and name.txt into DIR.\n"
    "\n"
    "Exit status: 0 every source converted, 1 some source skipped or failed, 2 usage error.\n";

int usageError(const std::string& reason) {
  std::fprintf(stderr, "skm2trn: %s\n", reason.c_str());
  std::fprintf(stderr, "Try 'skm2trn --help' for more information.\n");
  return skm::cli::ExitUsage;
}

bool parseWorkers(const std::string& text, int& workers) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  workers = std::stoi(text);
  return workers >= 1 && workers <= 1024;
}

int runConvert(const std::vector<std::string>& args) {
  skm::cli::ConvertOptions options;
  unsigned cores = std::thread::hardware_concurrency();
  options.workers = cores == 0 ? 1 : int(cores);
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "-j" || arg == "--jobs") {
      if (i + 1 >= args.size()) return usageError("option " + arg + " needs a number");
      if (!parseWorkers(args[++i], options.workers)) {
        return usageError("invalid worker count '" + args[i] + "'");
      }
    } else if (arg.rfind("-j", 0) == 0) {
      if (!parseWorkers(arg.substr(2), options.workers)) {
        return usageError("invalid worker count '" + arg.substr(2) + "'");
      }
    } else {
      return usageError("unknown option '" + arg + "'");
    }
  }
  if (operands.size() < 2) {
    return usageError(operands.empty() ? "no sources and no output folder given"
                                       : "no output folder given");
  }
  options.outputDir = operands.back();
  operands.pop_back();
  options.sources = skm::cli::expandWildcards(operands);
  return skm::cli::runConvert(options);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = skm::cli::programArguments(argc, argv);
  if (args.empty()) return usageError("no sources and no output folder given");
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") {
      std::fputs(Usage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("skm2trn %s\n", skm::versionText());
      return 0;
    }
  }
  const std::string command = args.front();
  if (command == "inspect") {
    if (args.size() < 2) return usageError("inspect needs at least one file");
    return skm::cli::runShowContents(skm::cli::expandWildcards({args.begin() + 1, args.end()}));
  }
  if (command == "extract") {
    if (args.size() != 3) return usageError("extract needs a package and a folder");
    return skm::cli::runExtract(args[1], args[2]);
  }
  if (command == "convert") args.erase(args.begin());
  return runConvert(args);
}
