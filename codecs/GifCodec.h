#pragma once

#include <cstdint>
#include <memory>

#include "image/ByteStream.h"
#include "image/Image.h"

namespace skm {

// Why decode refused a picture, left in lastError (beside OutOfMemoryMessage). The too-large
// message is followed by ": W x H pixels".
inline constexpr char GifNotGifMessage[] = "Not a GIF file";
inline constexpr char GifNoImageMessage[] = "No image in the file";
inline constexpr char GifNoSuchFrameMessage[] = "The requested frame is not in the file";
inline constexpr char GifDamagedMessage[] = "A damaged block stands before the image";
inline constexpr char GifUndecodableMessage[] = "The image data cannot be decoded";
inline constexpr char GifNoPixelsMessage[] = "The image has no pixels";
inline constexpr char GifTooLargeMessage[] = "Picture too large";

// The LZW tables of the GIF codec (about 2.4 MB for the encoder, of which a picture touches only
// what it uses, and 60 KB for the decoder), kept on the heap and made once per thread that
// converts, not once per picture. A GifCodec without one takes the tables a finished codec of
// its thread left behind, or makes its own on first use; each thread keeps at most one such set.
// One workspace serves one codec at a time.
class GifWorkspace {
 public:
  GifWorkspace();
  ~GifWorkspace();
  GifWorkspace(const GifWorkspace&) = delete;
  GifWorkspace& operator=(const GifWorkspace&) = delete;

 private:
  friend class GifCodec;
  struct Encoder;
  struct Decoder;
  struct Lane;
  // Make the tables on first use; false when that allocation failed.
  bool ensureEncoder();
  bool ensureDecoder();
  std::unique_ptr<Encoder> encoder;
  std::unique_ptr<Decoder> decoder;
};

// GIF reader and writer. The codec is an Image: decode fills it from a stream, encode writes it
// (or, with encodeAnimation, a list of other Images) to a stream. The LZW tables live in a
// GifWorkspace, so a decode allocates the picture and one frame buffer, and compressing
// allocates nothing once the workspace exists.
class GifCodec : public Image {
 public:
  GifCodec();
  explicit GifCodec(GifWorkspace* workspace);
  ~GifCodec();

  // Reads the frame info.frameIndex of the GIF at the stream's position into this Image and sets
  // info.frameCount. False, with one of the messages above in lastError, for a signature other
  // than "GIF8", a frame that is not in the file or that the block scan never reaches, a frame
  // without area or whose data yields no pixel at all, or a picture too large to hold; false
  // without a message for a missing stream. Data that breaks off after its first pixel is kept
  // as far as it goes.
  bool decode(ByteStream* stream);

  // Writes this Image as a single-image GIF.
  bool encode(ByteStream* stream);
  // Writes the frames, in order, as one animation described against the first frame's palette.
  bool encodeAnimation(ByteStream* stream, Image** frames, int count);

  void setLoopCount(int count) { loops = count; }
  int loopCount() const { return loops; }
  void setDisposalMethod(int method) { disposal = method; }
  int disposalMethod() const { return disposal; }
  // Copies at most 255 characters of text into commentText.
  void setCommentText(const char* text);

  // Text of the first comment sub-block read, or the comment to write; NUL-terminated.
  char commentText[256] = {};

  // Body of the last graphic control extension read or written: packed byte, delay (LE),
  // transparent index.
  uint8_t graphicControl[4] = {};

 private:
  // Code reader state for one frame's LZW data.
  struct CodeReader;
  // Where decoded rows go (or nowhere, for the frame-counting pre-scan).
  struct RowSink;
  // One frame's LZW string table while it is decoded.
  struct LzwTable;
  // An image descriptor and the colour table that applies to it.
  struct FrameHeader {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool interlaced = false;
    int colors = 0;
    const uint8_t* table = nullptr;
    uint32_t depth = 8;
  };

  // What one frame's data gave: at least one pixel, none (no area, or data that ends before its
  // first pixel or is missing), or data that cannot be decoded at all (a minimum code size the
  // decoder does not take, or a first code that is neither a clear code nor a literal).
  enum class FrameData : uint8_t { Pixels, NoPixels, Undecodable };

  // Decoder.
  bool readExtension(ByteStream* stream);
  int countFrames(ByteStream* stream);
  bool decodeFrame(ByteStream* stream, int frameNumber, int& firstTransparent);
  FrameHeader readFrameHeader(ByteStream* stream);
  bool createFrame(const FrameHeader& frame);
  void refuseFrame(const FrameHeader& frame);
  void readFramePixels(ByteStream* stream, const FrameHeader& frame);
  void setFramePalette(const FrameHeader& frame);
  void skimFrame(ByteStream* stream);
  int getByte(ByteStream* stream);
  // Whether the byte getByte delivered last lay past the end of the stream.
  bool pastStreamEnd() const { return blockIndex > blockCount; }
  bool readSubBlock(ByteStream* stream, CodeReader& reader);
  template <bool Store>
  int decodeLzw(ByteStream* stream, RowSink& sink);
  int decodeFrameData(ByteStream* stream, RowSink& sink);
  void finishFrameData(ByteStream* stream);

  // Encoder.
  // Writes one image; its codes come from `packed` when a lane compressed it.
  bool writeImage(const Image& image, int disposalValue, GifWorkspace::Lane* packed = nullptr);
  void writeScreen(const Image& first);
  void writeComment();
  void putWord(uint32_t value);
  // Packs codes least significant bit first into packets of 254 bytes and follows the code
  // width as strings are added. The compressor runs on a copy in locals and hands it back.
  struct CodePacker {
    uint64_t bits = 0;  // not written yet; up to 31 wait between 4-byte writes
    int bitCount = 0;
    int width = 0;
    int largest = 0;   // the width grows once nextCode passes it
    int nextCode = 0;  // the next string's code
    int initial = 0;   // width after a clear code
    int pending = 0;   // 1: a clear code went out, the width returns to initial after it
    int count = 0;     // bytes waiting in packet
    uint8_t* packet = nullptr;
    ByteStream* output = nullptr;

    void put(uint32_t code);
    void putClear(uint32_t clear);
    void putByte(uint32_t value);
    // The bits left, padded to a whole byte, and the packet.
    void finish();
  };
  template <int Bits, bool Runs>
  class Compressor;
  template <int Bits, bool Runs>
  void compress(const Image& image, GifWorkspace::Encoder& t);
  // Two frames at a time, into the workspace's lanes, for frames that pairable takes.
  static bool pairable(const Image* frame);
  void compressPair(const Image& a, const Image& b, GifWorkspace::Encoder& t);
  template <bool MayFill>
  static void compressLanes(const Image& a, const Image& b, GifWorkspace::Encoder& t);
  void packLane(GifWorkspace::Lane& lane);
  void resumeLane(const Image& image, const GifWorkspace::Lane& lane, GifWorkspace::Encoder& t);
  void startCompressor(int bits);
  bool encoderReady();
  bool streamFailed();

  // Set when a frame's line buffer could not be allocated during this decode.
  bool lineRefused = false;
  bool rowsToClear = false;  // the frame's rows came unzeroed (createFrame)
  int loops = 0;
  int disposal = 0;

  // The first frame, decoded by the pre-scan: where its descriptor starts and its data ends.
  bool prepared = false;
  int32_t preparedStart = 0;
  int32_t preparedEnd = 0;
  FrameData preparedData = FrameData::Pixels;
  // What the last frame decoded or skimmed gave.
  FrameData frameData = FrameData::Pixels;

  // getByte block: bytes delivered from the stream, index of the next one (each frame's data
  // starts with the block used up).
  int blockIndex = 0;
  int blockCount = 0;
  uint8_t* block = nullptr;  // the workspace's, during a decode

  // Colour tables: the global one from the screen descriptor and the current frame's.
  int globalColors = 0;
  bool hasGlobalTable = false;
  uint8_t globalTable[256 * 3] = {};
  uint8_t frameTable[256 * 3] = {};

  GifWorkspace* workspace = nullptr;
  std::unique_ptr<GifWorkspace> ownWorkspace;
  // The workspace to use, made when the codec has none; null when that failed.
  GifWorkspace* tables();

  // Encoder state.
  ByteStream* output = nullptr;
  CodePacker packer;
  int clearCode = 0;
  int endCode = 0;
  uint8_t packet[256] = {};
};

}  // namespace skm
