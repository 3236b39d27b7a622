// MxPEG stream parser: marker search, segment lengths split across chunks, frame boundaries.
#include "mxm/MxPEGParser.h"

#include <algorithm>
#include <cstring>

namespace mxm {
namespace {

// 32-bit little-endian value at offset; bytes at or past n read as 0 (a short "MXF" payload).
uint32_t LittleEndianAt(const uint8_t* p, uint32_t n, uint32_t offset) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < 4; ++i)
    if (offset + i < n) v |= static_cast<uint32_t>(p[offset + i]) << (8 * i);
  return v;
}

}  // namespace

MxPEGParser::MxPEGParser(ISegmentedStreamReceiver* receiver, uint32_t bufferSize)
    : converter_(new MxPEGScanToJPEGConverter(receiver)),
      bufferSize_(std::max<uint32_t>(bufferSize, 1)),
      frameBuffer_(new uint8_t[bufferSize_]) {}

MxPEGParser::~MxPEGParser() { descriptor_.ClearFrameFields(); }

bool MxPEGParser::AdvanceFill(uint32_t length) {
  if (length > FreeSpace()) return false;
  bufferFill_ += length;
  return true;
}

bool MxPEGParser::Feed(const uint8_t* data, uint32_t length) noexcept {
  if (length == 0) return true;
  if (length > FreeSpace()) return false;
  std::memcpy(frameBuffer_.get() + bufferFill_, data, length);
  const uint32_t position = bufferFill_;
  bufferFill_ += length;
  ProcessBytes(position, length);
  return true;
}

void MxPEGParser::ProcessBytes(uint32_t position, int64_t length) noexcept {
  if (length <= 0 || position >= bufferFill_) return;
  position_ = position;
  bytesLeft_ = static_cast<uint32_t>(std::min<int64_t>(length, bufferFill_ - position));
  try {
    while (bytesLeft_ > 0 && state_ != State::kDiscard) {
      switch (state_) {
        case State::kSeekMarker: SeekMarker(); break;
        case State::kScanData: ScanData(); break;
        default: ReadSegment(); break;
      }
    }
  } catch (...) {
    EnterDiscard();  // nothing below throws; should it ever, the stream ends rather than the caller
  }
  if (state_ == State::kDiscard) bufferFill_ = 0;  // Discard drops everything
}

void MxPEGParser::EnterDiscard() {
  state_ = State::kDiscard;
  descriptor_.ClearFrameFields();
  bytesLeft_ = 0;
}

void MxPEGParser::SeekMarker() {
  const uint8_t* p = frameBuffer_.get() + position_;
  if (markerPending_) {
    markerPending_ = false;
    Consume(1);
    if (p[0] == 0xFF) {
      markerPending_ = true;  // a fill byte: the code is still to come
      return;
    }
    OnMarker(p[0]);
    return;
  }
  const void* ff = std::memchr(p, 0xFF, bytesLeft_);
  if (ff == nullptr) {
    Consume(bytesLeft_);
    return;
  }
  Consume(static_cast<uint32_t>(static_cast<const uint8_t*>(ff) - p) + 1);
  if (bytesLeft_ == 0) {
    markerPending_ = true;  // the code byte comes with the next input
    return;
  }
  const uint8_t code = frameBuffer_[position_];
  Consume(1);
  if (code == 0xFF) {
    markerPending_ = true;  // a fill byte: the code is still to come
    return;
  }
  OnMarker(code);
}

void MxPEGParser::OnMarker(uint8_t code) {
  lengthState_ = 0;
  switch (code) {
    case 0xD8: state_ = State::kStartOfImage; StartOfImage(); return;
    case 0xC0: state_ = State::kFrameHeader; return;
    case 0xC4: state_ = State::kHuffmanTables; return;
    case 0xDB: state_ = State::kQuantTables; return;
    case 0xDA: state_ = State::kScanHeader; return;
    case 0xDD: state_ = State::kRestartInterval; return;
    case 0xE0: case 0xED: state_ = State::kSkipSegment; return;
    case 0xFE: state_ = State::kCommentSegment; return;
    default: EnterDiscard(); return;
  }
}

// The SOI marker's two bytes end at position_ (the buffer holds the stream contiguously since the
// last frame start, so this holds even when the 0xFF came with the previous chunk).
void MxPEGParser::StartOfImage() {
  uint32_t soi = position_ - 2;
  if (firstFrame_) {
    firstFrame_ = false;
  } else {
    converter_->ConvertFrame(descriptor_);
    const uint32_t count = position_ + bytesLeft_ - soi;
    std::memmove(frameBuffer_.get(), frameBuffer_.get() + soi, count);
    bufferFill_ = count;
    soi = 0;
    position_ = 2;
    descriptor_.ClearFrameFields();
  }
  state_ = State::kRecordFrameStart;
  frameStart_ = soi;
  descriptor_.frameData = frameBuffer_.get() + soi;
  state_ = State::kSeekMarker;
}

void MxPEGParser::ReadSegment() {
  if (lengthState_ == 0) {
    lengthHigh_ = frameBuffer_[position_];
    Consume(1);
    lengthState_ = 1;
    return;
  }
  if (lengthState_ == 1) {
    const uint32_t length = (static_cast<uint32_t>(lengthHigh_) << 8) | frameBuffer_[position_];
    Consume(1);
    payloadLength_ = length >= 2 ? length - 2 : 0;  // a length below 2 counts as an empty payload
    payloadLeft_ = payloadLength_;
    payloadStart_ = position_;
    lengthState_ = 2;
  } else {
    const uint32_t take = std::min(payloadLeft_, bytesLeft_);
    Consume(take);
    payloadLeft_ -= take;
  }
  if (payloadLeft_ == 0) SegmentComplete();
}

void MxPEGParser::SegmentComplete() {
  const uint8_t* p = frameBuffer_.get() + payloadStart_;
  const uint32_t n = payloadLength_;
  lengthState_ = 0;
  const State kind = state_;
  state_ = State::kSeekMarker;
  switch (kind) {
    case State::kCommentSegment: CommentSegment(p, n); break;
    case State::kQuantTables: QuantTables(p, n); break;
    case State::kHuffmanTables: HuffmanTables(p, n); break;
    case State::kFrameHeader: FrameHeader(p, n); break;
    case State::kScanHeader: ScanHeader(p, n); break;
    case State::kRestartInterval:
      if (n >= 2) descriptor_.restartInterval = (static_cast<uint32_t>(p[0]) << 8) | p[1];
      break;
    default: break;  // SkipSegment: APP0, APP13
  }
}

void MxPEGParser::CommentSegment(const uint8_t* p, uint32_t n) {
  if (n >= 7 && std::memcmp(p, "#:M1IMG", 7) == 0) return;
  if (n >= 3 && std::memcmp(p, "MXF", 3) == 0) {
    state_ = State::kMxfComment;
    MxfComment(p, n);
  } else if (n >= 3 && std::memcmp(p, "MXM", 3) == 0) {
    state_ = State::kTileMapComment;
    TileMapComment();
  }
  state_ = State::kSeekMarker;
}

void MxPEGParser::MxfComment(const uint8_t* p, uint32_t n) {
  descriptor_.mxfValueA = LittleEndianAt(p, n, 8);
  descriptor_.mxfValueB = LittleEndianAt(p, n, 12);
  descriptor_.mxfValueC = LittleEndianAt(p, n, 20);
  descriptor_.mxfPairValid = true;
  descriptor_.mxfValueCValid = true;
}

// The map starts at payload byte 12; the converter reads it only within the frame's bytes.
void MxPEGParser::TileMapComment() {
  const uint32_t offset = std::min<uint32_t>(payloadStart_ + 12, bufferSize_);
  descriptor_.tileMap = frameBuffer_.get() + offset;
}

void MxPEGParser::QuantTables(const uint8_t* p, uint32_t n) {
  if (n <= 64) return;
  for (uint32_t i = 0; i < n / 65; ++i) {
    const uint8_t* table = p + i * 65;
    converter_->SetQuantTable(std::min(table[0] & 15, 3), table + 1);
  }
}

void MxPEGParser::HuffmanTables(const uint8_t* p, uint32_t n) {
  while (n > 16) {
    const mxmHuffmanTableId id((p[0] >> 4) != 0 ? 1 : 0, std::min(p[0] & 15, 3));
    uint32_t symbols = 0;
    for (int i = 1; i <= 16; ++i) symbols += p[i];
    n -= 17;
    if (n < symbols) break;  // truncated: tables already passed stay
    converter_->SetHuffmanTable(id, p + 1);
    p += 17 + symbols;
    n -= symbols;
  }
}

// A header shorter than its six fixed bytes is ignored; component entries are read only as far as
// the payload goes.
void MxPEGParser::FrameHeader(const uint8_t* p, uint32_t n) {
  if (n < 6) return;
  int32_t height = (p[1] << 8) | p[2];
  int32_t width = (p[3] << 8) | p[4];
  if (width < 1) width = 640;
  if (height < 1) height = 480;
  descriptor_.width = width;
  descriptor_.height = height;
  descriptor_.tileColumns = (width + 15) / 16;
  descriptor_.tileRows = (height + 15) / 16;
  const uint32_t count = std::min<uint32_t>(p[5], 3);
  descriptor_.componentCount = count;
  for (uint32_t i = 0; i < count; ++i) {
    mxmComponentRecord& c = descriptor_.components[i];
    c.hSampling = c.quantTable = c.dcTable = c.acTable = 0;
  }
  for (uint32_t i = 0; i < p[5] && 6 + 3 * i + 2 < n; ++i) {
    const uint8_t* entry = p + 6 + 3 * i;
    const int record = entry[0] - 1;
    if (record < 0 || record >= static_cast<int>(count)) continue;
    mxmComponentRecord& c = descriptor_.components[record];
    c.hSampling = std::min(entry[1] >> 4, 16);
    c.vSampling = std::min(entry[1] & 15, 16);
    c.quantTable = std::min<int>(entry[2], 3);
  }
  const mxmComponentRecord* c = descriptor_.components;
  const bool yuv420 = count == 3 && c[0].hSampling == 2 && c[0].vSampling == 2 && c[1].hSampling == 1 &&
                      c[1].vSampling == 1 && c[2].hSampling == 1 && c[2].vSampling == 1;
  descriptor_.nonStandardSampling = yuv420 ? 0 : 1;
}

void MxPEGParser::ScanHeader(const uint8_t* p, uint32_t n) {
  scanStart_ = payloadStart_ + payloadLength_;
  descriptor_.scanData = frameBuffer_.get() + scanStart_;
  if (n >= 1) {
    for (uint32_t i = 0; i < p[0] && 1 + 2 * i + 1 < n; ++i) {
      const int record = p[1 + 2 * i] - 1;
      if (record < 0 || record >= static_cast<int>(descriptor_.componentCount)) continue;
      const uint8_t tables = p[2 + 2 * i];
      descriptor_.components[record].dcTable = std::min(tables >> 4, 3);
      descriptor_.components[record].acTable = std::min(tables & 15, 3);
    }
  }
  scanMarkerPending_ = false;
  state_ = State::kScanData;
}

// Passes over entropy-coded bytes up to and including the EOI marker; any other 0xFF pair (stuffing,
// restart markers) is passed over too, and fill bytes before a marker are skipped.
void MxPEGParser::ScanData() {
  const uint8_t* p = frameBuffer_.get() + position_;
  uint8_t code = 0;
  if (scanMarkerPending_) {
    scanMarkerPending_ = false;
    code = p[0];
    Consume(1);
  } else {
    const void* ff = std::memchr(p, 0xFF, bytesLeft_);
    if (ff == nullptr) {
      Consume(bytesLeft_);
      return;
    }
    Consume(static_cast<uint32_t>(static_cast<const uint8_t*>(ff) - p) + 1);
    if (bytesLeft_ == 0) {
      scanMarkerPending_ = true;
      return;
    }
    code = frameBuffer_[position_];
    Consume(1);
  }
  if (code == 0xFF) {
    scanMarkerPending_ = true;  // a fill byte before a marker
    return;
  }
  if (code != 0xD9) return;
  descriptor_.scanLength = position_ - scanStart_;
  descriptor_.frameLength = frameStart_ >= 0 ? position_ - static_cast<uint32_t>(frameStart_) : 0;
  state_ = State::kSeekMarker;
}

}  // namespace mxm
