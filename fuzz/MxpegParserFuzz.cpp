// libFuzzer target: one MxPEG stream through the parser and its converter in one chunk split. Input: a
// byte choosing the chunk size (0: the whole input at once), a byte choosing the picture size limit
// (64 pixels a side, 256 for the rare 0xFF), then the stream. Every picture must be framed as a JPEG
// and keep within the limit; a parser that stops or a chunk without room ends the stream, as in the
// channel. (The converter target compares pictures with the block-by-block writer.)
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MxpegPictureCheck.h"
#include "mxm/MxPEGParser.h"

namespace {

constexpr uint32_t kBufferSize = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t chunk = data[0] == 0 ? size : data[0];
  const int32_t limit = data[1] == 0xFF ? 256 : 64;
  data += 2;
  size -= 2;
  mxmfuzz::CheckingReceiver receiver(limit, false);
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
