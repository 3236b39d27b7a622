// Host byte order flag of the MxPEG parser.
#pragma once

#include <cstdint>

namespace mxm {

// While bigEndianHost is 0 the parser reads the 32-bit values of "MXF" comments as little-endian.
// The parser assembles those values byte by byte, so the flag never changes a result on any host.
class mxmLocalEndian {
 public:
  virtual ~mxmLocalEndian() = default;
  int32_t bigEndianHost = 0;
};

}  // namespace mxm
