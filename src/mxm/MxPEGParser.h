// Splits an MxPEG live stream into frames: finds markers and segments in the received bytes, keeps the
// stream's tables current in the converter and hands each complete frame to it.
#pragma once

#include <cstdint>
#include <memory>

#include "mxm/ISegmentedStreamReceiver.h"
#include "mxm/MxPEGScanToJPEGConverter.h"
#include "mxm/mxmLocalEndian.h"
#include "mxm/mxmUndecodedMxPEGFrameDescriptor.h"

namespace mxm {

// One parser per stream connection, used by one thread. Pure: bytes in, pictures out through the
// receiver (synchronously, from inside ProcessBytes/Feed). A frame is converted when the next
// frame's SOI arrives, so the last frame of a stream is never converted.
//
// Feeding: append a chunk at FrameBuffer() + BufferFill() when it fits (FreeSpace() >= length), call
// AdvanceFill(length), then ProcessBytes(old fill, length) -- or simply Feed(data, length).
// Any number of 0xFF fill bytes may precede a marker, in the scan too (T.81 B.1.1.2).
// Failure: an unknown marker sends the parser to Discard for good (IsDiscarding()); a chunk that does
// not fit is dropped (Feed returns false). In both cases the stream can no longer yield pictures and the
// caller should end it and start a new parser. Construction may throw std::bad_alloc; nothing else throws.
class MxPEGParser {
 public:
  static constexpr uint32_t kFrameBufferSize = 4194304;  // 4 MiB

  // bufferSize: the frame buffer's capacity; a smaller one than the default suits small pictures only
  // (fuzzing, tests). Frames that do not fit can never be completed.
  explicit MxPEGParser(ISegmentedStreamReceiver* receiver, uint32_t bufferSize = kFrameBufferSize);
  ~MxPEGParser();
  MxPEGParser(const MxPEGParser&) = delete;
  MxPEGParser& operator=(const MxPEGParser&) = delete;

  uint8_t* FrameBuffer() { return frameBuffer_.get(); }
  uint32_t BufferFill() const { return bufferFill_; }
  uint32_t FreeSpace() const { return bufferSize_ - bufferFill_; }
  // Declares `length` bytes appended at the old fill level; false (and no change) when they cannot fit.
  bool AdvanceFill(uint32_t length);
  // Parses `length` bytes at `position` of the frame buffer; lengths of 0 or less do nothing, and the
  // range is limited to the filled part of the buffer.
  void ProcessBytes(uint32_t position, int64_t length) noexcept;
  // Copies and parses one chunk. Returns false when the chunk did not fit and was dropped whole.
  bool Feed(const uint8_t* data, uint32_t length) noexcept;
  // True once an unrecognised marker has stopped the parser; it then drops all input.
  bool IsDiscarding() const { return state_ == State::kDiscard; }

  const mxmUndecodedMxPEGFrameDescriptor& Descriptor() const { return descriptor_; }
  MxPEGScanToJPEGConverter& Converter() { return *converter_; }

 private:
  enum class State {
    kSeekMarker,
    kStartOfImage,
    kRecordFrameStart,
    kSkipSegment,
    kRestartInterval,
    kCommentSegment,
    kMxfComment,
    kTileMapComment,
    kQuantTables,
    kHuffmanTables,
    kFrameHeader,
    kScanHeader,
    kScanData,
    kDiscard
  };

  void Consume(uint32_t count) { position_ += count, bytesLeft_ -= count; }
  void SeekMarker();
  void OnMarker(uint8_t code);
  void StartOfImage();
  void ReadSegment();
  void SegmentComplete();
  void CommentSegment(const uint8_t* p, uint32_t n);
  void MxfComment(const uint8_t* p, uint32_t n);
  void TileMapComment();
  void QuantTables(const uint8_t* p, uint32_t n);
  void HuffmanTables(const uint8_t* p, uint32_t n);
  void FrameHeader(const uint8_t* p, uint32_t n);
  void ScanHeader(const uint8_t* p, uint32_t n);
  void ScanData();
  void EnterDiscard();

  std::unique_ptr<MxPEGScanToJPEGConverter> converter_;
  mxmUndecodedMxPEGFrameDescriptor descriptor_;
  mxmLocalEndian byteOrder_;
  State state_ = State::kSeekMarker;
  uint32_t bufferSize_;
  std::unique_ptr<uint8_t[]> frameBuffer_;
  uint32_t bufferFill_ = 0;
  uint32_t position_ = 0;   // read position (offset into frameBuffer_)
  uint32_t bytesLeft_ = 0;  // unparsed bytes of the current input
  bool markerPending_ = false;
  int lengthState_ = 0;     // 0 nothing read, 1 high length byte read, 2 passing over the payload
  uint8_t lengthHigh_ = 0;
  uint32_t payloadLength_ = 0;
  uint32_t payloadLeft_ = 0;
  uint32_t payloadStart_ = 0;
  uint32_t scanStart_ = 0;
  int64_t frameStart_ = -1;  // offset of the current frame's SOI; -1 before the first
  bool scanMarkerPending_ = false;
  bool firstFrame_ = true;
};

}  // namespace mxm
