#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skm::test {

using Bytes = std::vector<uint8_t>;

// A source gesture as the tests write it; the defaults make a valid 3-frame gesture.
struct GestureDraft {
  std::string name = "wave";
  uint32_t flags = 0;
  int16_t frameWidth = 4;
  Bytes button;  // empty: a 4 x 4 GIF
  Bytes strip;   // empty: a 12 x 3 GIF (three frames of 4)
  Bytes sound;   // written only when flags has the sound bit
};

// An 8-bit GIF of the given size whose pixel (x, y) has index (x + 3 * y) % colours, encoded by
// our own single-image encoder.
Bytes makeGif(int width, int height, int colours = 16);

// The bytes of a .skm file.
Bytes makeSkm(const GestureDraft& draft);

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

// A fresh empty folder under the system's temporary folder; removed by the destructor.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }  // ends in a separator
  std::string file(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

}  // namespace skm::test
