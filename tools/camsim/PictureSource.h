// The simulated camera's pictures: the synthetic scene of the MxPEG encoder library, seen through the
// PTZ head (pan and tilt move the view, zoom magnifies it), with an on-screen line showing the
// picture index and the PTZ position.
//
// Deterministic: picture k depends only on the seed, k, the size and the PTZ position, never on
// time, so every connection and every test can produce the same picture again. Const and
// thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camsim/CameraModel.h"
#include "camsim/JpegCodec.h"
#include "mxpegenc/SyntheticScene.h"

namespace camsim {

// First comment of every simulator picture: "camsim-frame=<k> size=<W>x<H> quality=<Q>
// pan=<p> tilt=<t> zoom=<z>", so a test can tell which picture it holds.
std::string FrameComment(uint64_t k, const ImageSettings& image, const PtzState& ptz);
// The picture index of a FrameComment; false when the text is not one.
bool ParseFrameComment(const std::string& text, uint64_t* k);

class PictureSource {
public:
    explicit PictureSource(uint32_t seed);

    RgbPicture Render(uint64_t k, uint32_t width, uint32_t height, const PtzState& ptz) const;
    // Picture k as the MJPEG stream sends it: JPEG at the image settings' size and quality with the
    // frame comment and then the sensor block as comment segments; progressive on request.
    bool EncodeJpeg(uint64_t k, const ImageSettings& image, const PtzState& ptz, const std::string& sensorBlock,
                    std::vector<uint8_t>* out, bool progressive = false) const;

private:
    mxpegenc::SyntheticScene scene_;
};

}  // namespace camsim
