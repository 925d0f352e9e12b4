// `convert`: plans the run (sources, package names, clashes, existing packages), converts with
// the shared job and reports on the terminal or as JSON.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "cli/Output.h"
#include "cli/Quote.h"
#include "convert/ConversionJob.h"
#include "convert/FileIo.h"
#include "convert/FilePath.h"
#include "convert/GestureConverter.h"
#include "convert/JobHost.h"
#include "convert/Package.h"
#include "convert/PackagePlan.h"

#ifdef _WIN32
#include <io.h>
#define SKM_ISATTY(f) _isatty(_fileno(f))
#else
#include <dirent.h>
#include <unistd.h>
#define SKM_ISATTY(f) isatty(fileno(f))
#endif

namespace fs = std::filesystem;

namespace skm::cli {

namespace {

constexpr char Separator = fs::path::preferred_separator == '\\' ? '\\' : '/';

bool isSeparator(char c) {
  return c == '/' || c == Separator;
}

std::string withSeparator(std::string folder) {
  if (folder.empty() || !isSeparator(folder.back())) folder += Separator;
  return folder;
}

std::string fileNameOf(const std::string& path) {
  std::size_t cut = path.size();
  while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
  return path.substr(cut);
}

// What became of a source. An interrupted source is reported as skipped, with its own reason.
enum class EntryStatus { Skipped, Converted, Failed, Interrupted };

// The status as the report and the JSON name it.
const char* statusWord(EntryStatus status) {
  switch (status) {
    case EntryStatus::Converted:
      return "converted";
    case EntryStatus::Failed:
      return "failed";
    case EntryStatus::Skipped:
    case EntryStatus::Interrupted:
      break;
  }
  return "skipped";
}

// One source of the run and what became of it, in run order.
struct Entry {
  std::string source;
  std::string relFolder;     // its subfolder below the scanned folder, mirrored in the output
  std::string package;       // the package path it gets (or would get in a dry run)
  bool planned = false;      // handed to the conversion; otherwise decided while planning
  bool replaces = false;     // a file of the package's name exists already
  std::string writeProblem;  // why a dry run foresees that the package cannot be written
  std::string nameKey;       // the package's path below the output folder, as a clash key
  std::string notWritten;    // why a converted source got no package (a clash met on writing)
  bool done = false;
  EntryStatus status = EntryStatus::Skipped;
  std::string reason;
  int frames = 0;
};

Entry decided(std::string source, EntryStatus status, std::string reason) {
  Entry entry;
  entry.source = std::move(source);
  entry.status = status;
  entry.reason = std::move(reason);
  entry.done = true;
  return entry;
}

#ifdef _WIN32
// Whether a file of this name would be a device: only Windows has such names.
bool reservedName(const std::string& fileName) {
  return PlanRules().deviceNames && isWindowsDeviceName(fileName);
}
#endif

// Whether some subfolder below folder, symbolic links not followed, holds a .skm file.
bool subfoldersHoldGestures(const std::string& folder) {
  std::error_code ec;
  fs::recursive_directory_iterator it(pathFromUtf8(folder),
                                      fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code typeError;
    if (it.depth() > 0 && isSourceName(utf8FromPath(it->path().filename())) &&
        it->is_regular_file(typeError)) {
      return true;
    }
  }
  return false;
}

// The .skm files of folder (which ends in a separator) and its subfolders, unsorted; symbolic
// links to folders are left out. Returns 0 or the system's error.
#ifdef _WIN32
int listFolder(const std::string& folder, std::vector<std::string>& files,
               std::vector<std::string>& folders) {
  std::error_code ec;
  fs::directory_iterator it(pathFromUtf8(folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = utf8FromPath(it->path().filename());
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (!it->is_symlink(typeError)) folders.push_back(name);
    } else if (isSourceName(name) && (it->is_regular_file(typeError) || reservedName(name))) {
      // A device name is listed whatever it leads to, so that it is reported, not left out.
      files.push_back(name);
    }
  }
  return ec.value();
}
#else
// Read with the system's own calls: the entries' types come with their names, and only a
// symbolic link (or a file system that gives no types) is looked up.
int listFolder(const std::string& folder, std::vector<std::string>& files,
               std::vector<std::string>& folders) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return errno;
  int err = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    bool isFolder = entry->d_type == DT_DIR, isFile = entry->d_type == DT_REG;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      // What a link leads to counts, except that a link to a folder is not followed.
      const std::string path = folder + name;
      struct stat st {};
      const bool link =
          entry->d_type == DT_LNK || (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
      const bool found = !link || ::stat(path.c_str(), &st) == 0;
      isFolder = found && S_ISDIR(st.st_mode) && !link;
      isFile = found && S_ISREG(st.st_mode);
    }
    if (isFolder) {
      folders.emplace_back(name);
    } else if (isFile && isSourceName(name)) {
      files.emplace_back(name);
    }
  }
  ::closedir(dir);
  return err;
}
#endif

// Adds the .skm files of folder (which ends in a separator) in name order, then, with
// recursive, those of its subfolders in name order; symbolic links to folders are not followed.
void scanFolder(const std::string& folder, const std::string& rel, bool recursive,
                std::vector<Entry>& entries) {
  std::vector<std::string> files, folders;
  if (const int err = listFolder(folder, files, folders)) {
    entries.push_back(
        decided(folder, EntryStatus::Failed, "cannot read folder: " + systemMessage(err)));
    return;
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  entries.reserve(entries.size() + files.size());
  for (const std::string& name : files) {
    Entry& entry = entries.emplace_back();
    entry.source = folder + name;
    entry.relFolder = rel;
  }
  if (!recursive) return;
  for (const std::string& name : folders) {
    scanFolder(folder + name + Separator, rel + name + Separator, recursive, entries);
  }
}

// Checks that the output folder exists and, in a real run, that a file can be created in it,
// and asks whether its file system ignores letter case. A dry
// run and the real run after it get the same answer to that.
std::string checkOutputFolder(const std::string& folder, bool dryRun, bool& caseInsensitive) {
  std::error_code ec;
  const fs::file_status status = fs::status(pathFromUtf8(folder), ec);
  // "file/" and "file/x" fail with ENOTDIR, which counts as not found.
  if (ec == std::errc::not_a_directory || (!ec && !fs::is_directory(status))) {
    return "output path '" + folder + "' is not a folder";
  }
  if (status.type() == fs::file_type::not_found) {
    return "output folder '" + folder + "' does not exist";
  }
  if (ec) return "cannot use output folder '" + folder + "': " + ec.message();
  if (dryRun) {
#ifndef _WIN32
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      return "cannot write into output folder '" + folder + "': " + std::strerror(errno);
    }
#endif
  } else if (const int err = checkCanCreate(folder)) {
    return "cannot write into output folder '" + folder + "': " + systemMessage(err);
  }
  if (const int err = ignoresLetterCase(folder, caseInsensitive)) {
    return "cannot use output folder '" + folder + "': " + systemMessage(err);
  }
  return {};
}

// JSON text of a string. File names may hold bytes that are not UTF-8: each such byte (80 to FF
// hex) is written as the escape \udcXX, the lone surrogate Python's "surrogateescape" uses, so
// the output is valid UTF-8 and os.fsencode() gives the original bytes back.
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    unsigned char c = p[i];
    char buffer[8];
    if (c < 0x80) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += char(c);
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c < 0x20 || c == 0x7F) {
        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
        out += buffer;
      } else {
        out += char(c);
      }
      ++i;
      continue;
    }
    const std::size_t length = utf8SequenceLength(text, i);
    if (length != 0) {
      out.append(text, i, length);
      i += length;
    } else {
      std::snprintf(buffer, sizeof buffer, "\\udc%02x", c);
      out += buffer;
      ++i;
    }
  }
  return out + "\"";
}

std::string gestureCount(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " gesture" : " gestures");
}

// The files that the run's sources are, however their names reach them, so that no package
// replaces one: the file a source's path leads to and, for a symbolic link, the link itself.
// Looked up only when first asked, which a run whose packages are all new never does: a look-up
// per source was a large part of the time before the first conversion started.
class SourceFiles {
 public:
  explicit SourceFiles(const std::vector<Entry>& entries) : entries_(entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!entries[i].done) sources_.push_back(i);
    }
  }

  // The source that the existing entry at path is, if it is one.
  std::optional<std::size_t> sourceAt(const std::string& path, const EntryState& state) const {
    if (!state.exists || state.isFolder) return std::nullopt;
#ifdef _WIN32
    std::error_code ec;
    const fs::path entry = pathFromUtf8(path);
    const std::uintmax_t size = fs::file_size(entry, ec);
    if (ec) return std::nullopt;
    const Owners* owners = known();
    if (owners == nullptr) return std::nullopt;
    for (auto [at, end] = owners->equal_range(size); at != end; ++at) {
      if (fs::equivalent(entry, pathFromUtf8(entries_[at->second].source), ec)) return at->second;
    }
    return std::nullopt;
#else
    (void)path;
    return state.identityKnown ? sourceIs(state.identity) : std::nullopt;
#endif
  }

  std::optional<std::size_t> sourceIs(const FileIdentity& identity) const {
#ifdef _WIN32
    (void)identity;
    return std::nullopt;
#else
    const Owners* owners = known();
    if (owners == nullptr) return std::nullopt;
    const auto found = owners->find(identity);
    if (found == owners->end()) return std::nullopt;
    return found->second;
#endif
  }

  // Whether identity may be a source's: also when they could not be looked up.
  bool maybeSource(const FileIdentity& identity) const noexcept {
#ifdef _WIN32
    (void)identity;
    return false;
#else
    const Owners* owners = known();
    return owners == nullptr || owners->count(identity) != 0;
#endif
  }

  // Why the package of entry index may not replace source `owner`.
  std::string replacing(std::size_t index, std::size_t owner) const {
    return replacesSourceReason(index, owner, entries_[owner].source);
  }

 private:
#ifdef _WIN32
  // No identities here: an existing package is compared with the sources of its size.
  using Owners = std::multimap<std::uintmax_t, std::size_t>;
#else
  using Owners = std::map<FileIdentity, std::size_t>;
#endif

  // Null when memory ran out while looking them up; asked again, they are looked up again.
  const Owners* known() const noexcept {
    if (owners_) return &*owners_;
    try {
      Owners owners;
      for (const std::size_t i : sources_) {
#ifdef _WIN32
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(pathFromUtf8(entries_[i].source), ec);
        if (!ec) owners.emplace(size, i);
#else
        // The entry itself and, only for a symbolic link, the file it leads to: a look-up less
        // for each source that is not a link, which most are.
        FileIdentity identity;
        bool isLink = false;
        if (identityOf(entries_[i].source, false, identity, &isLink) == 0)
          owners.emplace(identity, i);
        if (isLink && identityOf(entries_[i].source, true, identity) == 0)
          owners.emplace(identity, i);
#endif
      }
      owners_ = std::move(owners);
    } catch (...) {
      return nullptr;
    }
    return &*owners_;
  }

  const std::vector<Entry>& entries_;
  std::vector<std::size_t> sources_;  // the entries that were sources when the run began
  mutable std::optional<Owners> owners_;
};

// Follows the shared conversion job for the command line: maps its sources back to the run's
// entries, writes packages where the options say, and draws the progress line.
class CliHost : public JobHost, private FileGuard {
 public:
  CliHost(const ConvertOptions& options, std::vector<Entry>& entries, std::string output,
          const SourceFiles& sources, OutputFolder& root)
      : options_(options),
        entries_(entries),
        output_(std::move(output)),
        sources_(sources),
        root_(root) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (!entries_[i].planned) continue;
      jobSources_.push_back(entries_[i].source);
      jobEntries_.push_back(i);
    }
    live_ = !options_.quiet && SKM_ISATTY(stderr);
  }

  const std::vector<std::string>& sourcePaths() const override { return jobSources_; }
  const std::string& outputFolder() const override { return output_; }
  void fileStarted(std::size_t index) override {
    position_ = index;
    if (live_) drawProgress();
  }
  bool stopRequested() const override { return interruptSignal() != 0; }

  // Called in run order for converted sources only, so a package name goes to the first source
  // that converts, whatever the number of workers.
  void writePackage(std::size_t index, GestureResult& result) override {
    const std::size_t at = jobEntries_[index];
    Entry& entry = entries_[at];
    if (const auto earlier = taken_.find(entry.nameKey); earlier != taken_.end()) {
      const std::string& first = entries_[earlier->second].source;
      std::error_code same;
      notWritten(result, entry,
                 fs::equivalent(pathFromUtf8(first), pathFromUtf8(entry.source), same)
                     ? "the same file as " + first
                     : "same package name as " + first);
      return;
    }
    if (options_.dryRun) {
      if (!entry.writeProblem.empty()) {
        failWrite(result, entry.writeProblem);
        return;
      }
      taken_.emplace(entry.nameKey, at);
      result.packagePath = entry.package;
      return;
    }
    writeGuarded(at, result);
  }

  void workersLimited(int asked, int converting, const std::string& reason) override {
    std::fprintf(stderr,
                 "skm2trn: could not start all %d worker threads (%s); converting with %d\n", asked,
                 reason.c_str(), converting);
    std::fflush(stderr);
  }

  void fileFinished(std::size_t index, const GestureResult& result) override {
    Entry& entry = entries_[jobEntries_[index]];
    entry.done = true;
    entry.frames = result.frameCount;
    if (!entry.notWritten.empty()) {
      entry.package.clear();
      entry.reason = entry.notWritten;
      return;
    }
    if (result.outcome == GestureOutcome::Converted) {
      entry.status = EntryStatus::Converted;
      entry.package = result.packagePath;
      return;
    }
    const bool interrupted =
        result.reason == GestureReason::Stopped ||
        (interruptSignal() != 0 && result.reason == GestureReason::CannotRead &&
         result.systemError == EINTR);
    entry.package.clear();
    if (interrupted) {
      entry.status = EntryStatus::Interrupted;
      entry.reason = "interrupted";
      return;
    }
    // A source that cannot be read is a failure of the run, though the dialog skips it quietly.
    entry.status =
        result.outcome == GestureOutcome::Failed || result.reason == GestureReason::CannotRead
            ? EntryStatus::Failed
            : EntryStatus::Skipped;
    entry.reason = describeReason(result);
  }

  // Standard error may be buffered (a Windows console), and the summary that follows goes to
  // standard output: the line is cleared before it.
  void clearProgress() const {
    if (!live_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }

 private:
  void notWritten(GestureResult& result, Entry& entry, std::string why) {
    endGesture(result, GestureOutcome::Skipped, GestureReason::None);
    entry.notWritten = std::move(why);
  }

  static void failWrite(GestureResult& result, std::string why) {
    result.packagePath.clear();
    endGesture(result, GestureOutcome::Failed, GestureReason::WriteFailed, std::move(why));
  }

  // The folder a package of entry goes into, opened from the output folder as the run found it
  // (so a folder moved away meanwhile is written into where it now is, never made again at its
  // old path); mirrored subfolders are created as needed. Null when it cannot be had.
  const OutputFolder* folderFor(const Entry& entry, std::string& problem) {
    if (entry.relFolder.empty()) return &root_;
    if (!folder_.isOpen() || folderRel_ != entry.relFolder) {
      folderRel_ = entry.relFolder;
      std::string failedAt;
      folderError_.clear();
      if (const int err = folder_.openBelow(root_, entry.relFolder, true, failedAt)) {
        folderError_ = "could not create the folder " + failedAt + ": " + systemMessage(err);
      }
    }
    problem = folderError_;
    return folderError_.empty() ? &folder_ : nullptr;
  }

  // The sources and the packages written so far; any file, should the sources' files not be
  // known for want of memory.
  bool guards(const FileIdentity& identity) const noexcept override {
    return writers_.count(identity) != 0 || sources_.maybeSource(identity);
  }

  // Writes the package, never over a source of the run or a package it wrote before, whatever
  // name leads there (a symbolic link in the output tree, a hard link): such a source is skipped.
  void writeGuarded(std::size_t at, GestureResult& result) {
    Entry& entry = entries_[at];
    std::string problem;
    const OutputFolder* folder = folderFor(entry, problem);
    if (folder == nullptr) {
      failWrite(result, problem);
      return;
    }
    const std::string path = folder->path() + result.baseName + ".trn";
    // Written from the parts where they lie: copying them together cost the writing thread
    // more than the writes' own system calls.
    FileIdentity written, found;
    int err = 0;
    try {
      const PackageLayout layout(packagePartsOf(result));
      err = writeInFolder(*folder, result.baseName + ".trn", layout.pieces(),
                          options_.noClobber ? Placement::KeepExisting : Placement::Replace, this,
                          &written, &found);
    } catch (const std::bad_alloc&) {
      result.packagePath.clear();
      endGesture(result, GestureOutcome::Failed, GestureReason::OutOfMemory);
    } catch (const std::exception& error) {  // a part too long for its length field
      failWrite(result, error.what());
    }
    result.button = {};
    result.animation = {};
    result.sound = {};
    if (result.outcome != GestureOutcome::Converted) return;
    if (err == GuardedEntry) {
      if (const auto owner = sources_.sourceIs(found)) {
        notWritten(result, entry, sources_.replacing(at, *owner));
      } else {
        const auto writer = writers_.find(found);
        notWritten(result, entry,
                   writer == writers_.end()
                       ? "the package would replace a file of this run"
                       : "same package file as " + entries_[writer->second].source);
      }
    } else if (err == EEXIST && options_.noClobber) {
      endGesture(result, GestureOutcome::Skipped, GestureReason::PackageExists);
    } else if (err != 0) {
      failWrite(result, "could not write the package " + path + ": " + systemMessage(err));
    } else {
      result.packagePath = path;
      taken_.emplace(entry.nameKey, at);
#ifndef _WIN32
      writers_.emplace(written, at);
#endif
    }
  }

  void drawProgress() const {
    const int width = 24;
    const std::size_t total = entries_.size();
    const std::size_t at = jobEntries_[position_];
    const int filled = int(at * width / total);
    std::string bar(std::size_t(filled), '#');
    bar.append(std::size_t(width - filled), '.');
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s %s", at + 1, total, bar.c_str(),
                 shownName(stderr, fileNameOf(entries_[at].source)).c_str());
    std::fflush(stderr);
  }

  const ConvertOptions& options_;
  std::vector<Entry>& entries_;
  std::string output_;
  const SourceFiles& sources_;
  OutputFolder& root_;
  std::map<FileIdentity, std::size_t> writers_;  // each written package's entry
  std::map<std::string, std::size_t> taken_;     // package name keys given out, by entry
  OutputFolder folder_;                          // the subfolder last written into
  std::string folderRel_;
  std::string folderError_;
  std::vector<std::string> jobSources_;
  std::vector<std::size_t> jobEntries_;
  bool live_ = false;
  std::size_t position_ = 0;
};

// Why a dry run's mirrored folder (ending in a separator) could not be created, in the words of
// the real run, or otherwise: a file where it or a folder above it would go.
std::string mirrorFolderProblem(const std::string& folder, std::string otherwise) {
  std::error_code ec;
  const fs::file_status status = fs::status(pathFromUtf8(folder.substr(0, folder.size() - 1)), ec);
  if (ec == std::errc::not_a_directory) {
    return "could not create the folder " + folder + ": " + ec.message();
  }
  if (!ec && !fs::is_directory(status)) {
    return "could not create the folder " + folder + ": " +
           std::make_error_code(std::errc::file_exists).message();
  }
  return otherwise;
}

// Gives every entry its package path by the shared plan and decides, before anything is
// converted and whatever the number of workers, which sources cannot have one: no usable name, a
// name Windows keeps for a device, a package that would replace a source of the run (the plan
// asks the guard below), or (with --no-clobber) an existing package. Which of two sources with one
// package name gets it is left to the writing, since it goes to the first that converts. A name
// exists when the folder has an entry of that name, whatever it is; the writing asks the same way.
void planRun(std::vector<Entry>& entries, const SourceFiles& sources, const OutputFolder& root,
             const std::string& output, bool caseInsensitive, bool noClobber, bool dryRun) {
  std::vector<PlanSource> planned;
  std::vector<std::size_t> entryOf;           // the entry of each planned source
  std::map<std::size_t, std::size_t> planOf;  // and back
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].done) continue;
    planOf.emplace(i, planned.size());
    entryOf.push_back(i);
    planned.push_back({entries[i].source, entries[i].relFolder});
  }
  // What the look-up for the source guard found at each package path, kept for the checks below.
  std::vector<EntryState> existing(planned.size());
  std::vector<int> lookUpError(planned.size(), 0);
  PlanRules rules;
  rules.ignoresCase = caseInsensitive;
  // Most packages of a run are new: one listing of the output folder spares a look-up that finds
  // nothing for each of them, unless the folder holds many more entries than the run has sources.
  std::set<std::string> present;
  const bool listed = !caseInsensitive && listEntryNames(root, 4 * planned.size() + 256, present);
  rules.existingSource = [&](std::size_t k,
                             const std::string& relative) -> std::optional<std::size_t> {
    // A name too long for the folder still fails its look-up, as its write would.
    if (listed && relative.find('/') == std::string::npos && relative.size() <= 255 &&
        present.count(relative) == 0) {
      return std::nullopt;
    }
    const std::string path = output + relative;
    lookUpError[k] = lookUpEntry(path, existing[k]);
    const auto owner = sources.sourceAt(path, existing[k]);
    if (!owner) return std::nullopt;
    return planOf.at(*owner);
  };
  const std::vector<PackagePlan> plans = skm::planPackages(planned, rules);
  for (std::size_t k = 0; k < plans.size(); ++k) {
    Entry& entry = entries[entryOf[k]];
    const PackagePlan& plan = plans[k];
    if (plan.verdict != PlanVerdict::Planned) {
      entry = decided(entry.source, EntryStatus::Skipped, plan.reason);
      continue;
    }
    entry.nameKey = plan.key;
    entry.package = output + plan.package;
    const int err = lookUpError[k];
    entry.replaces = existing[k].exists;
    // A name the folder cannot hold (too long) fails the same look-up a write would, and a
    // folder in the package's place cannot be replaced by it.
    if (dryRun && err != 0 && err != ENOTDIR) {
      entry.writeProblem =
          "could not write the package " + entry.package + ": " + systemMessage(err);
    } else if (dryRun && existing[k].isFolder) {
      entry.writeProblem =
          "could not write the package " + entry.package + ": " + systemMessage(EISDIR);
    }
    if (dryRun && !entry.relFolder.empty()) {
      entry.writeProblem = mirrorFolderProblem(output + entry.relFolder, entry.writeProblem);
    }
    if (entry.replaces && noClobber) {
      entry = decided(entry.source, EntryStatus::Skipped, "package exists");
      continue;
    }
    entry.planned = true;
  }
}

std::string jsonReport(const std::vector<Entry>& entries, const ConvertOptions& options,
                       std::size_t converted, std::size_t skipped, std::size_t failed, int signal) {
  std::string out =
      "{\n  \"converted\": " + std::to_string(converted) +
      ",\n  \"skipped\": " + std::to_string(skipped) +
      ",\n  \"failed\": " + std::to_string(failed) +
      ",\n  \"total\": " + std::to_string(entries.size()) +
      ",\n  \"dry_run\": " + (options.dryRun ? "true" : "false") +
      ",\n  \"interrupted\": " + (signal ? jsonString(interruptName(signal)) : "null") +
      ",\n  \"files\": [";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const bool ok = e.status == EntryStatus::Converted;
    out += std::string(i == 0 ? "" : ",") + "\n    {\"source\": " + jsonString(e.source) +
           ", \"package\": " + (ok ? jsonString(e.package) : "null") + ", \"status\": \"" +
           statusWord(e.status) +
           "\", \"reason\": " + (e.reason.empty() ? "null" : jsonString(e.reason));
    if (ok) out += ", \"frames\": " + std::to_string(e.frames);
    if (ok && options.dryRun)
      out += std::string(", \"replaces\": ") + (e.replaces ? "true" : "false");
    out += "}";
  }
  return out + "\n  ]\n}\n";
}

// Writes the report once the run is over: built whole first, then written whole, so that
// neither a signal nor a slow reader can cut it short.
int report(const std::vector<Entry>& entries, const ConvertOptions& options) {
  std::size_t converted = 0, failed = 0;
  bool stopped = false;
  for (const Entry& e : entries) {
    if (e.status == EntryStatus::Converted) ++converted;
    if (e.status == EntryStatus::Failed) ++failed;
    if (e.status == EntryStatus::Interrupted) stopped = true;
  }
  const std::size_t skipped = entries.size() - converted - failed;
  // A signal that came when every file was already decided stopped nothing: the run's own
  // status stands, and the report does not call it interrupted.
  const int signal = stopped ? interruptSignal() : 0;
  // With --json, standard output holds the JSON and nothing else.
  FILE* human = options.json ? stderr : stdout;
  std::string forPeople;
  if (!options.quiet) {
    if (options.dryRun) {
      for (const Entry& e : entries) {
        if (e.status != EntryStatus::Converted) continue;
        forPeople += shownName(human, e.source) + " -> " + shownName(human, e.package) +
                     (e.replaces ? " (replaces an existing file)" : "") + "\n";
      }
      forPeople +=
          "Dry run: " + gestureCount(converted) + " would be converted; nothing was written.\n";
    } else {
      forPeople += gestureCount(converted) + " converted.\n";
    }
  }
  std::string problems;
  if (converted != entries.size()) {
    problems += "Not converted (" + std::to_string(entries.size() - converted) + "):\n";
    for (const Entry& e : entries) {
      if (e.status == EntryStatus::Converted) continue;
      problems += "  " + shownName(stderr, e.source) + ": " + shownText(stderr, e.reason) + "\n";
    }
  }
  if (signal != 0) {
    problems += std::string("skm2trn: interrupted by ") + interruptName(signal) +
                "; no file was left half-written\n";
  }
  // A failure on standard output is remembered there and reported just below.
  writeWhole(human, forPeople);
  writeWhole(stderr, problems);
  if (options.json) {
    writeWhole(stdout, jsonReport(entries, options, converted, skipped, failed, signal));
  }
  const bool written = standardOutputWritten();
  if (signal != 0) return 128 + signal;
  if (!written) return ExitUsage;
  return converted == entries.size() ? ExitOk : ExitSomeNotConverted;
}

}  // namespace

int runConvert(const ConvertOptions& options) {
  catchInterrupts();
  std::vector<Entry> entries;
  for (const std::string& source : options.sources) {
    std::error_code ec;
    if (fs::is_directory(pathFromUtf8(source), ec)) {
      const std::size_t before = entries.size();
      scanFolder(withSeparator(source), "", options.recursive, entries);
      if (entries.size() == before && !options.recursive && subfoldersHoldGestures(source)) {
        std::fprintf(stderr,
                     "skm2trn: %s holds no .skm files, only subfolders that do; use -r "
                     "(--recursive) to convert them\n",
                     shownQuoted(stderr, source).c_str());
        std::fflush(stderr);
      }
    } else {
      // Even a missing file is a source of its own: it fails with the system's reason.
      Entry entry;
      entry.source = source;
      entries.push_back(entry);
    }
  }
  bool caseInsensitive = false;
  std::string problem = entries.empty()
                            ? "no .skm files found in the given sources"
                            : checkOutputFolder(options.outputDir, options.dryRun, caseInsensitive);
  // Held open from here on: the packages go into this folder even if it is moved meanwhile.
  OutputFolder root;
  if (const int err = problem.empty() ? root.open(options.outputDir) : 0) {
    problem = "cannot use output folder '" + options.outputDir + "': " + systemMessage(err);
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "skm2trn: %s\n", shownText(stderr, problem).c_str());
    if (options.json) writeJsonError(problem);
    return ExitUsage;
  }
  const std::string output = withSeparator(options.outputDir);
  const SourceFiles sources(entries);
  planRun(entries, sources, root, output, caseInsensitive, options.noClobber, options.dryRun);

  CliHost host(options, entries, output, sources, root);
  ConversionJob(host, options.workers);
  reportFollows();
  host.clearProgress();
  runEnded();
  return report(entries, options);
}

void writeJsonError(const std::string& reason) {
  printOut("{\"error\": %s}\n", jsonString(reason).c_str());
}

}  // namespace skm::cli
