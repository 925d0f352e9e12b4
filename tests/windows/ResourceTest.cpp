// Reads the resources back out of the built skm2trn-gui.exe and checks them against the
// dialog tables: what the resource compiler wrote, not what the .rc says.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A Unix path as Wine's Z: drive sees it.
std::string winePath(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

class Resources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module = LoadLibraryExA(winePath(SKM_GUI_EXE).c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  static void TearDownTestSuite() {
    if (module != nullptr) FreeLibrary(module);
  }

  static std::vector<std::uint8_t> resource(LPCSTR type, LPCSTR name) {
    HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module, found));
  }

  static HMODULE module;
};

HMODULE Resources::module = nullptr;

// A bounded reader over a dialog template.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& data) : bytes(data) {}

  std::uint16_t word() {
    std::uint16_t value = 0;
    if (at + 2 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 2);
    at += 2;
    return value;
  }
  std::uint32_t dword() {
    std::uint32_t low = word();
    return low | static_cast<std::uint32_t>(word()) << 16;
  }
  // A sz_Or_Ord field: "#n" for an ordinal, else the UTF-16 text narrowed (tests use ASCII).
  std::string textOrOrdinal() {
    std::uint16_t first = word();
    if (first == 0xFFFF) {
      std::string ordinal = "#";
      ordinal += std::to_string(word());
      return ordinal;
    }
    std::string text;
    for (std::uint16_t c = first; c != 0 && at <= bytes.size(); c = word()) {
      text += static_cast<char>(c);
    }
    return text;
  }
  void alignToDword() { at = (at + 3) & ~std::size_t{3}; }
  bool overran() const { return at > bytes.size(); }

 private:
  const std::vector<std::uint8_t>& bytes;
  std::size_t at = 0;
};

struct Control {
  std::uint32_t exStyle, style;
  int x, y, cx, cy;
  int id;
  std::string className, text;
  std::uint16_t extraCount;
};

struct Template {
  std::uint32_t exStyle, style;
  int x, y, cx, cy;
  std::string menu, className, caption;
  int pointSize, weight, italic, charset;
  std::string font;
  std::vector<Control> controls;
};

// Window class names are case-insensitive, and the predefined ones may be written as ordinals.
std::string className(const std::string& raw) {
  if (raw == "#128") return "button";
  if (raw == "#129") return "edit";
  if (raw == "#130") return "static";
  std::string lower = raw;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

::testing::AssertionResult parse(const std::vector<std::uint8_t>& bytes, Template& out) {
  if (bytes.empty()) return ::testing::AssertionFailure() << "no such dialog";
  TemplateReader in(bytes);
  if (in.word() != 1 || in.word() != 0xFFFF) {
    return ::testing::AssertionFailure() << "not an extended dialog template";
  }
  in.dword();  // help id
  out.exStyle = in.dword();
  out.style = in.dword();
  int count = in.word();
  out.x = static_cast<std::int16_t>(in.word());
  out.y = static_cast<std::int16_t>(in.word());
  out.cx = static_cast<std::int16_t>(in.word());
  out.cy = static_cast<std::int16_t>(in.word());
  out.menu = in.textOrOrdinal();
  out.className = in.textOrOrdinal();
  out.caption = in.textOrOrdinal();
  if (out.style & DS_SETFONT) {
    out.pointSize = in.word();
    out.weight = in.word();
    out.italic = in.word() & 0xFF;
    out.charset = 0;
    out.font = in.textOrOrdinal();
  }
  for (int i = 0; i < count; ++i) {
    in.alignToDword();
    Control c;
    in.dword();  // help id
    c.exStyle = in.dword();
    c.style = in.dword();
    c.x = static_cast<std::int16_t>(in.word());
    c.y = static_cast<std::int16_t>(in.word());
    c.cx = static_cast<std::int16_t>(in.word());
    c.cy = static_cast<std::int16_t>(in.word());
    c.id = static_cast<std::int32_t>(in.dword());
    c.className = className(in.textOrOrdinal());
    c.text = in.textOrOrdinal();
    c.extraCount = in.word();
    for (int skip = 0; skip < c.extraCount; skip += 2) in.word();
    out.controls.push_back(c);
  }
  if (in.overran()) return ::testing::AssertionFailure() << "template is truncated";
  return ::testing::AssertionSuccess();
}

struct Expected {
  int id;
  const char* className;
  const char* text;
  int x, y, cx, cy;
  std::uint32_t style;  // besides WS_CHILD | WS_VISIBLE
};

void expectControls(const Template& dialog, const std::vector<Expected>& table) {
  ASSERT_EQ(dialog.controls.size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "control " << i);
    const Control& c = dialog.controls[i];
    const Expected& e = table[i];
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.className, e.className);
    EXPECT_EQ(c.text, e.text);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
    EXPECT_EQ(c.style, WS_CHILD | WS_VISIBLE | e.style) << std::hex << c.style;
    EXPECT_EQ(c.exStyle, 0u);
    EXPECT_EQ(c.extraCount, 0);
  }
}

TEST_F(Resources, ExecutableLoads) {
  ASSERT_NE(module, nullptr) << winePath(SKM_GUI_EXE);
}

TEST_F(Resources, MainDialogMatchesItsTable) {
  Template dialog;
  ASSERT_TRUE(parse(resource(RT_DIALOG, MAKEINTRESOURCEA(102)), dialog));
  EXPECT_EQ(dialog.style,
            static_cast<std::uint32_t>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE |
                                       WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX))
      << std::hex << dialog.style;
  EXPECT_EQ(dialog.exStyle, static_cast<std::uint32_t>(WS_EX_APPWINDOW));
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.cx, 252);
  EXPECT_EQ(dialog.cy, 66);
  EXPECT_EQ(dialog.menu, "");
  EXPECT_EQ(dialog.className, "");
  EXPECT_EQ(dialog.caption, "SKM -> TRN Gesture Converter");
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.font, "MS Sans Serif");
  expectControls(
      dialog,
      {
          {1001, "button", "Select Folder", 138, 45, 52, 14, WS_TABSTOP | BS_PUSHBUTTON},
          {1000, "button", "Convert", 193, 45, 52, 14, WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON},
          {1005, "static", "", 13, 47, 120, 12, WS_GROUP | SS_LEFT},
          {1004, "msctls_progress32", "Progress1", 7, 7, 238, 14, WS_BORDER | PBS_SMOOTH},
          {1006, "edit", "", 7, 26, 238, 12, WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL},
      });
  for (const Control& c : dialog.controls) {
    EXPECT_NE(c.id, IDOK);
    EXPECT_NE(c.id, IDCANCEL);
    if (c.className == "button") {
      EXPECT_EQ(c.style & 0xF, static_cast<std::uint32_t>(BS_PUSHBUTTON));
    }
  }
}

TEST_F(Resources, AboutBoxMatchesItsTable) {
  Template dialog;
  ASSERT_TRUE(parse(resource(RT_DIALOG, MAKEINTRESOURCEA(100)), dialog));
  EXPECT_EQ(dialog.style, static_cast<std::uint32_t>(DS_MODALFRAME | DS_SETFONT | WS_POPUP |
                                                     WS_CAPTION | WS_SYSMENU))
      << std::hex << dialog.style;
  EXPECT_EQ(dialog.exStyle, 0u);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.cx, 235);
  EXPECT_EQ(dialog.cy, 63);
  EXPECT_EQ(dialog.caption, "About SKM->TRN");
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.font, "MS Sans Serif");
  expectControls(
      dialog,
      {
          {-1, "static", "#128", 11, 17, 20, 20, SS_ICON},
          {-1, "static", "SKM->TRN Version 1.0", 40, 10, 119, 8, WS_GROUP | SS_LEFT | SS_NOPREFIX},
          {IDOK, "button", "OK", 178, 7, 50, 14, WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON},
          {-1, "static", "Conversion tool for converting SKM gestures to Tovrin gestures.", 40, 40,
           142, 16, WS_GROUP | SS_LEFT},
      });
}

TEST_F(Resources, AboutItemString) {
  char text[64] = {};
  ASSERT_GT(LoadStringA(module, 101, text, sizeof text), 0);
  EXPECT_STREQ(text, "&About SKM->TRN...");
}

TEST_F(Resources, IconGroupHoldsTwoSixteenColourImages) {
  std::vector<std::uint8_t> group = resource(RT_GROUP_ICON, MAKEINTRESOURCEA(128));
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  auto word = [&](std::size_t at) { return group[at] | group[at + 1] << 8; };
  EXPECT_EQ(word(0), 0);
  EXPECT_EQ(word(2), 1);
  ASSERT_EQ(word(4), 2);
  const int sizes[2] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(::testing::Message() << "image " << i);
    std::size_t entry = 6 + 14 * static_cast<std::size_t>(i);
    EXPECT_EQ(group[entry], sizes[i]);
    EXPECT_EQ(group[entry + 1], sizes[i]);
    EXPECT_EQ(group[entry + 2], 16);  // colours
    EXPECT_EQ(word(entry + 6), 4);    // bits per pixel
    std::vector<std::uint8_t> image = resource(RT_ICON, MAKEINTRESOURCEA(word(entry + 12)));
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(header.biWidth, sizes[i]);
    EXPECT_EQ(header.biHeight, 2 * sizes[i]);
    EXPECT_EQ(header.biBitCount, 4);
    // Header, 16 palette entries, 4-bit colour rows and the 1-bit mask rows, each 4-byte aligned.
    std::size_t colourRow = (static_cast<std::size_t>(sizes[i]) * 4 + 31) / 32 * 4;
    std::size_t maskRow = (static_cast<std::size_t>(sizes[i]) + 31) / 32 * 4;
    EXPECT_EQ(image.size(), 40 + 64 + static_cast<std::size_t>(sizes[i]) * (colourRow + maskRow));
  }
}

TEST_F(Resources, DefaultSoundIsTheLibrarysFile) {
  std::ifstream file(winePath(SKM_SOURCE_DIR "/convert/default_sound.wav"), std::ios::binary);
  ASSERT_TRUE(file);
  std::vector<std::uint8_t> expected((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(resource("WAVE", MAKEINTRESOURCEA(130)), expected);
}

TEST_F(Resources, VersionInformationCarriesTheProjectVersion) {
  ASSERT_FALSE(resource(RT_VERSION, MAKEINTRESOURCEA(1)).empty());
  std::string exe = winePath(SKM_GUI_EXE);
  DWORD size = GetFileVersionInfoSizeA(exe.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  char expected[64];
  std::snprintf(expected, sizeof expected, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));
  EXPECT_STREQ(expected, SKM2TRN_VERSION);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, SKM2TRN_VERSION);
}

TEST_F(Resources, ManifestAsksForCommonControlsDpiAwarenessAndUtf8) {
  std::vector<std::uint8_t> bytes = resource(RT_MANIFEST, MAKEINTRESOURCEA(1));
  std::string manifest(bytes.begin(), bytes.end());
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
  EXPECT_NE(manifest.find("<activeCodePage"), std::string::npos);
  EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
}

}  // namespace
