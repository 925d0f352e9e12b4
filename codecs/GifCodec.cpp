#include "codecs/GifCodec.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "codecs/GifTables.h"

namespace skm {

GifWorkspace::Encoder::Encoder() {
  // The direct table starts empty and stays so between uses: only `written` entries are set.
  child = static_cast<uint16_t*>(std::calloc(ChildEntries, sizeof *child));
  std::fill(hashTable, hashTable + GifHashSize, -1);
}

void GifWorkspace::Encoder::mapRows(int64_t pixels) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // Where a page fault is dear (11 us on a virtual machine measured, against 0.7 us a page
  // mapped in bulk), faulting in the rows a picture reaches one page at a time cost more than
  // compressing it. The rows of the codes a picture can reach (the roots, the clear and end
  // codes, and a new code per pixel at most), up to the first 1,280 (which pictures of a few
  // thousand pixels reach), are mapped in one call; a system that cannot faults them in as they
  // are used.
  constexpr int64_t MostRows = 1280;
  const auto rows = std::size_t(std::min(MostRows, 258 + std::max<int64_t>(pixels, 0)));
  if (child == nullptr || rows <= mappedRows) return;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) return;
  const auto mask = ~(std::uintptr_t(page) - 1);
  const auto start = reinterpret_cast<std::uintptr_t>(child + mappedRows * 256) & mask;
  const auto end =
      (reinterpret_cast<std::uintptr_t>(child + rows * 256) + std::uintptr_t(page) - 1) & mask;
  ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
  mappedRows = rows;
#else
  (void)pixels;
#endif
}

GifWorkspace::GifWorkspace() = default;
GifWorkspace::~GifWorkspace() = default;

bool GifWorkspace::ensureEncoder() {
  if (!encoder) encoder.reset(new (std::nothrow) Encoder());
  if (encoder && encoder->child == nullptr) encoder.reset();
  return encoder != nullptr;
}

bool GifWorkspace::ensureDecoder() {
  if (!decoder) decoder.reset(new (std::nothrow) Decoder);
  return decoder != nullptr;
}

GifCodec::GifCodec() : Image(FormatGif) {}

GifCodec::GifCodec(GifWorkspace* shared) : Image(FormatGif), workspace(shared) {}

namespace {
// The tables of the last codec on this thread that made its own, for the next one: clearing
// new tables costs more than compressing a small picture, and a caller should not have to know
// about workspaces to go fast. Handed over, never shared, so one serves one codec at a time.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
// WebAssembly without threads has one thread and no thread-local storage.
std::unique_ptr<GifWorkspace> spareWorkspace;
#else
thread_local std::unique_ptr<GifWorkspace> spareWorkspace;
#endif
}  // namespace

GifCodec::~GifCodec() {
  if (ownWorkspace && !spareWorkspace) spareWorkspace = std::move(ownWorkspace);
}

GifWorkspace* GifCodec::tables() {
  if (workspace == nullptr) {
    ownWorkspace = std::move(spareWorkspace);
    if (!ownWorkspace) ownWorkspace.reset(new (std::nothrow) GifWorkspace);
    workspace = ownWorkspace.get();
  }
  return workspace;
}

void GifCodec::setCommentText(const char* text) {
  std::size_t n = 0;
  if (text != nullptr) {
    while (n < sizeof commentText - 1 && text[n] != '\0') ++n;
    std::memcpy(commentText, text, n);
  }
  commentText[n] = '\0';
}

}  // namespace skm
