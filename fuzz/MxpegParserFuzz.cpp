// libFuzzer target: one MxPEG stream through the parser and its converter in one chunk split. Input: a
// byte choosing the chunk size (0: the whole input at once), a byte choosing the picture size limit
// (64 pixels a side, 256 for the rare 0xFF), then the stream. Every picture must be framed as a JPEG
// and keep within the limit; a parser that stops or a chunk without room ends the stream, as in the
// channel. (The converter target compares pictures with the block-by-block writer.)
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mxm/MxPEGParser.h"

namespace {

constexpr uint32_t kBufferSize = 64 * 1024;

class CheckingReceiver : public mxm::ISegmentedStreamReceiver {
 public:
  explicit CheckingReceiver(int32_t limit) : limit_(limit) {}
  void FrameComplete(int32_t width, int32_t height) override {
    if (picture_.size() < 4 || picture_[0] != 0xFF || picture_[1] != 0xD8 || picture_[picture_.size() - 2] != 0xFF ||
        picture_.back() != 0xD9)
      __builtin_trap();
    if (width < 1 || height < 1 || width > limit_ || height > limit_) __builtin_trap();
    picture_.clear();
  }
  void AppendSegment(const uint8_t* data, uint32_t length) override {
    if (length > 0 && data == nullptr) __builtin_trap();
    picture_.insert(picture_.end(), data, data + length);
  }

 private:
  int32_t limit_;
  std::vector<uint8_t> picture_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t chunk = data[0] == 0 ? size : data[0];
  const int32_t limit = data[1] == 0xFF ? 256 : 64;
  data += 2;
  size -= 2;
  CheckingReceiver receiver(limit);
  // Inputs are far smaller than a camera's frames: a small frame buffer keeps each run cheap.
  mxm::MxPEGParser parser(&receiver, kBufferSize);
  parser.Converter().SetMaxPictureSide(limit);
  for (size_t pos = 0; pos < size && !parser.IsDiscarding();) {
    const size_t n = chunk < size - pos ? chunk : size - pos;
    if (!parser.Feed(data + pos, static_cast<uint32_t>(n))) break;
    pos += n;
  }
  return 0;
}
