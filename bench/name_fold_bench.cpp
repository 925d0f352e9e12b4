// Caseless name keys over 1000 distinct file names of each script, every name used once per
// pass, as clash planning over a folder meets them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert/NameFold.h"

namespace {

void appendUtf8(std::string& s, char32_t cp) {
  if (cp < 0x80) {
    s += char(cp);
  } else if (cp < 0x800) {
    s += char(0xC0 | cp >> 6);
    s += char(0x80 | (cp & 0x3F));
  } else {
    s += char(0xE0 | cp >> 12);
    s += char(0x80 | (cp >> 6 & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  }
}

// 1000 names of 12 letters drawn from the given alphabet, ending in ".skm".
std::vector<std::string> names(const std::u32string& alphabet) {
  std::vector<std::string> out;
  uint32_t x = 2463534242u;
  for (int n = 0; n < 1000; ++n) {
    std::string name;
    for (int k = 0; k < 12; ++k) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      appendUtf8(name, alphabet[x % alphabet.size()]);
    }
    out.push_back(name + ".skm");
  }
  return out;
}

const std::u32string kAlphabets[] = {
    U"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -_",
    U"abcdefghijklmnopqrstuvwxyzÀÉÈÊËÎÏÔÙÛÜÇàéèêëîïôùûüçßẞ",
    U"ΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣΤΥΦΧΨΩαβγδεζηθικλμνξοπρστυφχψωςάέήίόύώΐΰᾳ",
    U"ёабвгдежзийклмнопрстуфхцчшщъыьэюяЁАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ",
    U"日本語漢字仮名手振動作一二三四五六七八九十百千万円年月",
    U"가각간갇갈감갑값강개객거건걸검겁게겨격견결겸경계고곡곤골곰곱곳공과",
};
const char* const kScripts[] = {"ascii", "latin", "greek", "cyrillic", "cjk", "hangul"};

void BM_CaselessNameKey(benchmark::State& state) {
  const std::vector<std::string> input = names(kAlphabets[state.range(0)]);
  size_t bytes = 0;
  for (const std::string& name : input) bytes += name.size();
  for (auto _ : state) {
    for (const std::string& name : input) benchmark::DoNotOptimize(skm::caselessNameKey(name));
  }
  state.SetLabel(kScripts[state.range(0)]);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(input.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_CaselessNameKey)->DenseRange(0, 5);

}  // namespace

BENCHMARK_MAIN();
