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
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // Where a page fault is dear (11 us on a virtual machine measured, against 0.7 us a page
  // mapped in bulk), faulting in the rows a run reaches one page at a time cost more than
  // compressing a picture. The rows of the first codes, which most pictures reach, are mapped
  // in one call; a system that cannot faults them in as they are used.
  constexpr std::size_t MappedRows = 1280;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (child != nullptr && page > 0) {
    const auto at = reinterpret_cast<std::uintptr_t>(child);
    const std::uintptr_t start = (at + std::uintptr_t(page) - 1) & ~(std::uintptr_t(page) - 1);
    const std::uintptr_t end = at + MappedRows * 256 * sizeof *child;
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
  }
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
