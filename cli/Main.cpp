// skm2trn: converts .skm gestures into .trn packages, and shows or unpacks either kind of file.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/Quote.h"
#include "convert/FilePath.h"
#include "convert/Version.h"

namespace {

const char* const Usage =
    "Usage: skm2trn [convert] [OPTION]... SOURCE... OUTPUT_DIR\n"
    "       skm2trn inspect FILE...\n"
    "       skm2trn extract PACKAGE.trn DIR\n"
    "       skm2trn help\n"
    "\n"
    "Converts every .skm gesture into OUTPUT_DIR/<name>.trn, <name> being the\n"
    "source's file name without its extension. A SOURCE is a .skm file or a folder\n"
    "whose .skm files (any letter case) are converted in name order.\n"
    "\n"
    "  -j, --jobs=N      convert with N worker threads (default: the number of cores)\n"
    "  -q, --quiet       print only the files that were not converted\n"
    "  -r, --recursive   also convert the .skm files in subfolders, into the same\n"
    "                    subfolders of OUTPUT_DIR\n"
    "  -n, --no-clobber  keep existing packages; their sources are skipped\n"
    "      --dry-run     convert in memory, show what would be written, write nothing\n"
    "      --json        print a machine-readable summary on standard output\n"
    "  -h, --help        show this help\n"
    "      --version     show the version\n"
    "  --                end the options: every later word is a SOURCE or OUTPUT_DIR\n"
    "\n"
    "inspect shows what a .skm or .trn file holds; extract writes a package's\n"
    "button.bmp, animation.gif, sound.wav and name.txt into DIR.\n"
    "\n"
    "Exit status: 0 every source converted; 1 some source not converted or some file\n"
    "not readable; 2 usage error or failed output; 128+N stopped by signal N.\n";

// Set when --json (or a unique beginning of it) stands among the options, even if parsing them
// fails: a script that asked for JSON gets its usage error as JSON too.
bool jsonWanted = false;

int usageError(const std::string& reason) {
  std::fprintf(stderr, "skm2trn: %s\n", skm::cli::shownText(stderr, reason).c_str());
  std::fprintf(stderr, "Try 'skm2trn --help' for more information.\n");
  if (jsonWanted) skm::cli::writeJsonError(reason);
  return skm::cli::ExitUsage;
}

bool asksForJson(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg.size() >= 4 && std::string_view("--json").starts_with(arg)) return true;
  }
  return false;
}

// Edit distance counting a swap of two neighbouring letters as one edit, letter case ignored.
std::size_t editDistance(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = lower(a[i - 1]) == lower(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The command a first operand was probably meant to be: a plain word that names no file and is
// one or two edits, but not none, away from a command (one for the four-letter "help"). Empty
// when none is.
std::string misspeltCommand(const std::string& word) {
  if (word.empty() || word.size() > 16) return {};
  for (char c : word) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return {};
  }
  std::error_code ec;
  if (std::filesystem::symlink_status(skm::pathFromUtf8(word), ec).type() !=
      std::filesystem::file_type::not_found) {
    return {};
  }
  std::string best;
  std::size_t bestDistance = 3;
  for (const char* command : {"convert", "inspect", "extract", "help"}) {
    const std::size_t distance = editDistance(word, command);
    const std::size_t allowed = std::string_view(command).size() > 4 ? 2 : 1;
    if (distance > 0 && distance <= allowed && distance < bestDistance) {
      best = command;
      bestDistance = distance;
    }
  }
  return best;
}

// Everything that leaves through standard output ends here, so that a full disk or a closed
// pipe is an error and not a silent success.
int finish(int status) {
  if (!skm::cli::standardOutputWritten()) return skm::cli::ExitUsage;
  return status;
}

int showHelp() {
  skm::cli::printOut("%s", Usage);
  return finish(skm::cli::ExitOk);
}

int showVersion() {
  skm::cli::printOut("skm2trn %s\n", skm::versionText());
  return finish(skm::cli::ExitOk);
}

struct KnownOption {
  char shortName;  // 0 when there is only the long form
  const char* longName;
  bool takesValue;
};

// The options of all commands; convert takes them all, inspect and extract only the last two.
const KnownOption Options[] = {
    {'j', "jobs", true},        {'q', "quiet", false}, {'r', "recursive", false},
    {'n', "no-clobber", false}, {0, "dry-run", false}, {0, "json", false},
    {'h', "help", false},       {0, "version", false},
};

struct ParsedOption {
  const KnownOption* known;
  std::string value;
};

// Splits arguments the GNU way: options anywhere among the operands, bundled short options
// (-qj2), "-j N" and "-jN", "--jobs=N" and "--jobs N", long options abbreviated to any unique
// prefix, and "--" ending the options. Returns an error text, empty on success.
std::string parseArguments(const std::vector<std::string>& args, bool allOptions,
                           std::vector<ParsedOption>& options, std::vector<std::string>& operands) {
  auto allowed = [&](const KnownOption& known) {
    return allOptions || std::string(known.longName) == "help" ||
           std::string(known.longName) == "version";
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      operands.insert(operands.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
    } else if (arg[1] == '-') {
      const std::size_t equals = arg.find('=');
      const std::string name =
          arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const KnownOption* match = nullptr;
      int matches = 0;
      for (const KnownOption& known : Options) {
        if (!allowed(known) || std::string(known.longName).rfind(name, 0) != 0) continue;
        if (name == known.longName) {
          match = &known;
          matches = 1;
          break;
        }
        match = &known;
        ++matches;
      }
      if (matches == 0) return "unknown option '--" + name + "'";
      if (matches > 1) return "option '--" + name + "' is ambiguous";
      ParsedOption parsed{match, {}};
      if (match->takesValue) {
        if (equals != std::string::npos) {
          parsed.value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
          parsed.value = args[++i];
        } else {
          return std::string("option '--") + match->longName + "' needs a value";
        }
      } else if (equals != std::string::npos) {
        return std::string("option '--") + match->longName + "' takes no value";
      }
      options.push_back(parsed);
    } else {
      for (std::size_t k = 1; k < arg.size(); ++k) {
        const KnownOption* match = nullptr;
        for (const KnownOption& known : Options) {
          if (known.shortName == arg[k] && allowed(known)) match = &known;
        }
        if (match == nullptr) return std::string("unknown option '-") + arg[k] + "'";
        ParsedOption parsed{match, {}};
        if (match->takesValue) {
          if (k + 1 < arg.size()) {
            parsed.value = arg.substr(k + 1);
          } else if (i + 1 < args.size()) {
            parsed.value = args[++i];
          } else {
            return std::string("option '-") + arg[k] + "' needs a value";
          }
          options.push_back(parsed);
          break;
        }
        options.push_back(parsed);
      }
    }
  }
  return {};
}

bool parseWorkers(const std::string& text, int& workers) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  workers = std::stoi(text);
  return workers >= 1 && workers <= 1024;
}

// Answers --help and --version for every command; returns -1 when neither was given.
int helpOrVersion(const std::vector<ParsedOption>& options) {
  for (const ParsedOption& option : options) {
    if (std::string(option.known->longName) == "help") return showHelp();
  }
  for (const ParsedOption& option : options) {
    if (std::string(option.known->longName) == "version") return showVersion();
  }
  return -1;
}

// commandNamed: the words began with "convert", so the first operand is surely a source.
int convertCommand(const std::vector<std::string>& args, bool commandNamed) {
  skm::cli::ConvertOptions settings;
  unsigned cores = std::thread::hardware_concurrency();
  settings.workers = cores == 0 ? 1 : int(cores);
  std::vector<ParsedOption> options;
  std::vector<std::string> operands;
  std::string error = parseArguments(args, true, options, operands);
  if (!error.empty()) return usageError(error);
  int shown = helpOrVersion(options);
  if (shown >= 0) return shown;
  for (const ParsedOption& option : options) {
    const std::string name = option.known->longName;
    if (name == "jobs") {
      if (!parseWorkers(option.value, settings.workers)) {
        return usageError("invalid worker count '" + option.value + "' (1 to 1024)");
      }
    } else if (name == "quiet") {
      settings.quiet = true;
    } else if (name == "recursive") {
      settings.recursive = true;
    } else if (name == "no-clobber") {
      settings.noClobber = true;
    } else if (name == "dry-run") {
      settings.dryRun = true;
    } else if (name == "json") {
      settings.json = true;
    }
  }
  if (!commandNamed && !operands.empty()) {
    const std::string meant = misspeltCommand(operands.front());
    if (!meant.empty()) {
      return usageError("unknown command '" + operands.front() + "'; did you mean '" + meant +
                        "'?");
    }
  }
  if (operands.size() < 2) {
    return usageError(operands.empty() ? "no sources and no output folder given"
                                       : "no output folder given");
  }
  settings.outputDir = operands.back();
  operands.pop_back();
  settings.sources = skm::cli::expandWildcards(operands);
  return skm::cli::runConvert(settings);
}

int run(std::vector<std::string> args) {
  jsonWanted = asksForJson(args);
  if (args.empty()) return usageError("no sources and no output folder given");
  const std::string command = args.front();
  if (command == "help") return showHelp();
  if (command == "inspect" || command == "extract") {
    std::vector<ParsedOption> options;
    std::vector<std::string> operands;
    std::string error = parseArguments({args.begin() + 1, args.end()}, false, options, operands);
    if (!error.empty()) return usageError(error);
    int shown = helpOrVersion(options);
    if (shown >= 0) return shown;
    if (command == "inspect") {
      if (operands.empty()) return usageError("inspect needs at least one file");
      return finish(skm::cli::runShowContents(skm::cli::expandWildcards(operands)));
    }
    if (operands.size() != 2) return usageError("extract needs a package and a folder");
    return finish(skm::cli::runExtract(operands[0], operands[1]));
  }
  const bool named = command == "convert";
  if (named) args.erase(args.begin());
  return convertCommand(args, named);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A closed pipe on standard output is reported like any other failed write.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  // A package over the file-size limit fails as that file ("File too large"); the run goes on.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  try {
    return run(skm::cli::programArguments(argc, argv));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "skm2trn: out of memory\n");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "skm2trn: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "skm2trn: unexpected failure\n");
  }
  return skm::cli::ExitUsage;
}
