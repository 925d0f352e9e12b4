#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Commands.h"
#include "convert/ConversionJob.h"
#include "convert/FilePath.h"
#include "convert/GestureConverter.h"
#include "convert/JobHost.h"

#ifdef _WIN32
#include <io.h>
#define SKM_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define SKM_ISATTY(f) isatty(fileno(f))
#endif

namespace fs = std::filesystem;

namespace skm::cli {

namespace {

constexpr char Separator = fs::path::preferred_separator == '\\' ? '\\' : '/';

bool endsWithSkm(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return tail == ".skm";
}

// An output folder is usable when a file can be created in it; the probe is removed at once.
std::string checkOutputFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path path = pathFromUtf8(folder);
  if (!fs::exists(path, ec)) return "output folder '" + folder + "' does not exist";
  if (!fs::is_directory(path, ec)) return "output path '" + folder + "' is not a folder";
  std::random_device random;
  std::string probe = folder + Separator + ".skm2trn-probe-" + std::to_string(random());
  std::FILE* file = openFile(probe, "wbx");
  if (file == nullptr) {
    return "cannot write into output folder '" + folder + "': " + std::strerror(errno);
  }
  std::fclose(file);
  removeFile(probe);
  return {};
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

const char* outcomeWord(GestureOutcome outcome) {
  switch (outcome) {
    case GestureOutcome::Converted:
      return "converted";
    case GestureOutcome::Skipped:
      return "skipped";
    case GestureOutcome::Failed:
      return "failed";
  }
  return "failed";
}

struct FileReport {
  std::string source;
  std::string package;
  GestureOutcome outcome = GestureOutcome::Skipped;
  std::string reason;
  int frames = 0;
};

// Shows the run on the terminal: a progress line that updates in place on a terminal, one line
// per file otherwise.
class CliHost : public JobHost {
 public:
  CliHost(const ConvertOptions& options, std::vector<std::string> sources, std::string output)
      : options_(options), sources_(std::move(sources)), output_(std::move(output)) {
    FILE* human = options_.json ? stderr : stdout;
    live_ = !options_.quiet && SKM_ISATTY(human);
    stream_ = human;
  }

  const std::vector<std::string>& sourcePaths() const override { return sources_; }
  const std::string& outputFolder() const override { return output_; }
  void setProgressPosition(int position) override { position_ = position; }
  void setStatusText(const std::string& text) override { status_ = text; }
  void setMessageText(const std::string& text) override {
    message_ = text;
    if (live_ && text.rfind("Converting: ", 0) == 0) drawProgress();
  }
  void enableButton(int) override {}

  void fileFinished(std::size_t index, const GestureResult& result) override {
    FileReport report;
    report.source = sources_[index];
    report.package = result.packagePath;
    report.outcome = result.outcome;
    report.reason = describeReason(result);
    report.frames = result.frameCount;
    ++finished_;
    if (result.outcome == GestureOutcome::Converted) ++converted_;
    // Only the files the summary names are kept, unless the JSON report lists them all.
    if (options_.json || result.outcome != GestureOutcome::Converted) reports_.push_back(report);
    if (options_.quiet || live_ || options_.json) return;
    std::fprintf(stream_, "[%zu/%zu] %s: %s", index + 1, sources_.size(), report.source.c_str(),
                 outcomeWord(result.outcome));
    if (result.outcome == GestureOutcome::Converted) {
      std::fprintf(stream_, " (%d frame%s)\n", result.frameCount,
                   result.frameCount == 1 ? "" : "s");
    } else {
      std::fprintf(stream_, " (%s)\n", report.reason.c_str());
    }
    std::fflush(stream_);
  }

  int finish() {
    if (live_) std::fprintf(stream_, "\r\033[K");
    const std::size_t converted = converted_;
    if (!options_.quiet) std::fprintf(stream_, "%s\n", status_.c_str());
    FILE* problems = options_.quiet ? stderr : stream_;
    if (converted != finished_) {
      std::fprintf(problems, "Not converted (%zu):\n", finished_ - converted);
    }
    for (const FileReport& report : reports_) {
      if (report.outcome == GestureOutcome::Converted) continue;
      std::fprintf(problems, "  %s: %s\n", report.source.c_str(), report.reason.c_str());
    }
    if (options_.json) printJson(converted);
    std::fflush(stdout);
    return converted == sources_.size() ? ExitOk : ExitSomeNotConverted;
  }

 private:
  void drawProgress() {
    const int width = 24;
    std::size_t total = sources_.size();
    int filled = total == 0 ? width : int(std::size_t(position_) * width / total);
    std::string bar(std::size_t(filled), '#');
    bar.append(std::size_t(width - filled), '.');
    std::fprintf(stream_, "\r\033[K[%d/%zu] %s %s", position_ + 1, total, bar.c_str(),
                 message_.c_str());
    std::fflush(stream_);
  }

  void printJson(std::size_t converted) const {
    std::printf("{\n  \"converted\": %zu,\n  \"total\": %zu,\n  \"files\": [", converted,
                sources_.size());
    for (std::size_t i = 0; i < reports_.size(); ++i) {
      const FileReport& r = reports_[i];
      std::printf("%s\n    {\"source\": %s, \"package\": %s, \"status\": \"%s\", \"reason\": %s",
                  i == 0 ? "" : ",", jsonString(r.source).c_str(),
                  r.package.empty() ? "null" : jsonString(r.package).c_str(),
                  outcomeWord(r.outcome), r.reason.empty() ? "null" : jsonString(r.reason).c_str());
      if (r.outcome == GestureOutcome::Converted) std::printf(", \"frames\": %d", r.frames);
      std::printf("}");
    }
    std::printf("\n  ]\n}\n");
  }

  const ConvertOptions& options_;
  std::vector<std::string> sources_;
  std::string output_;
  std::vector<FileReport> reports_;
  std::size_t finished_ = 0;
  std::size_t converted_ = 0;
  FILE* stream_ = stdout;
  bool live_ = false;
  int position_ = 0;
  std::string status_;
  std::string message_;
};

}  // namespace

std::vector<std::string> findGestures(const std::string& folder, std::string& error) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(pathFromUtf8(folder), ec);
  if (ec) {
    error = "cannot read folder '" + folder + "': " + ec.message();
    return {};
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      error = "cannot read folder '" + folder + "': " + ec.message();
      return {};
    }
    std::string name = utf8FromPath(it->path().filename());
    std::error_code typeError;
    if (!endsWithSkm(name) || !it->is_regular_file(typeError)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::string prefix = folder;
  if (prefix.empty() || (prefix.back() != '/' && prefix.back() != Separator)) prefix += Separator;
  for (std::string& name : names) name = prefix + name;
  return names;
}

int runConvert(const ConvertOptions& options) {
  std::vector<std::string> sources;
  for (const std::string& source : options.sources) {
    std::error_code ec;
    if (fs::is_directory(pathFromUtf8(source), ec)) {
      std::string error;
      std::vector<std::string> found = findGestures(source, error);
      if (!error.empty()) {
        std::fprintf(stderr, "skm2trn: %s\n", error.c_str());
        return ExitUsage;
      }
      sources.insert(sources.end(), found.begin(), found.end());
    } else if (fs::exists(pathFromUtf8(source), ec)) {
      sources.push_back(source);
    } else {
      std::fprintf(stderr, "skm2trn: source '%s' does not exist\n", source.c_str());
      return ExitUsage;
    }
  }
  if (sources.empty()) {
    std::fprintf(stderr, "skm2trn: no .skm files found in the given sources\n");
    return ExitUsage;
  }
  std::string problem = checkOutputFolder(options.outputDir);
  if (!problem.empty()) {
    std::fprintf(stderr, "skm2trn: %s\n", problem.c_str());
    return ExitUsage;
  }
  std::string output = options.outputDir;
  if (output.back() != '/' && output.back() != Separator) output += Separator;

  CliHost host(options, std::move(sources), output);
  ConversionJob(host, options.workers);
  return host.finish();
}

}  // namespace skm::cli
