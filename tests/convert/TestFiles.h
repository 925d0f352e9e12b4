#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace skm::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Names of the entries in a folder, sorted.
std::vector<std::string> listFolder(const std::filesystem::path& folder);

}  // namespace skm::test
