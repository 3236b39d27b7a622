// libFuzzer target: arbitrary bytes in arbitrary chunk splits through the MxPEG parser and converter.
// The first two input bytes seed the chunk sizes. Every picture that comes out must be framed as a
// JPEG (SOI first, EOI last) with a size the converter accepts; a parser that stops (Discard or a
// dropped chunk) is replaced by a new one, as the channel does on reconnect.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mxm/MxPEGParser.h"

namespace {

class CheckingReceiver : public mxm::ISegmentedStreamReceiver {
 public:
  void FrameComplete(int32_t width, int32_t height) override {
    if (picture_.size() < 4 || picture_[0] != 0xFF || picture_[1] != 0xD8 || picture_[picture_.size() - 2] != 0xFF ||
        picture_.back() != 0xD9)
      __builtin_trap();
    if (width < 1 || height < 1 || width > 256 ||
        height > 256)
      __builtin_trap();
    picture_.clear();
  }
  void AppendSegment(const uint8_t* data, uint32_t length) override {
    if (length > 0 && data == nullptr) __builtin_trap();
    picture_.insert(picture_.end(), data, data + length);
  }

 private:
  std::vector<uint8_t> picture_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t state = (static_cast<uint32_t>(data[0]) << 8 | data[1]) * 2654435761u + 1;
  data += 2;
  size -= 2;
  CheckingReceiver receiver;
  // Pictures up to 256x256 keep executions fast; larger ones take the same code paths.
  auto newParser = [&receiver] {
    auto p = std::make_unique<mxm::MxPEGParser>(&receiver);
    p->Converter().SetMaxPictureSide(256);
    return p;
  };
  auto parser = newParser();
  size_t pos = 0;
  int restarts = 0;  // each parser costs a 4 MiB buffer: a few restarts cover the path, more only slow down
  while (pos < size) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    // Mostly small chunks (splitting markers and lengths), sometimes large ones.
    const size_t chunk = (state & 7) == 0 ? 1 + state % 65536 : 1 + state % 64;
    const size_t n = chunk < size - pos ? chunk : size - pos;
    if (!parser->Feed(data + pos, static_cast<uint32_t>(n)) || parser->IsDiscarding()) {
      if (++restarts > 3) break;
      parser = newParser();
    }
    pos += n;
  }
  return 0;
}
