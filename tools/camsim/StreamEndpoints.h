// The live streams on /control/faststream.jpg: "stream=full" as multipart/x-mixed-replace JPEG parts
// and "stream=MxPEG" as an MxPEG frame stream from the mxpegenc encoder, at the camera's image size and
// quality and the requested "fps". Every connection starts at picture 0; picture k is the
// PictureSource's picture k for the camera state at the moment it is sent.
//
// Threading: stream handlers run on connection threads; the setters may be called from any thread
// and take effect with the next picture.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "camsim/CameraModel.h"
#include "httpserver/HttpServer.h"
#include "camsim/PictureSource.h"
#include "camsim/StreamDamage.h"
#include "mxpegenc/MxpegEncoder.h"

namespace camsim {

constexpr int kDefaultStreamFps = 25;  // when the request names no rate
constexpr int kMaxStreamFps = 60;
constexpr int kDefaultRefreshInterval = 10;
constexpr int kMaxRefreshInterval = 1000;
constexpr char kMultipartBoundary[] = "camsimframe";

class StreamEndpoints {
public:
    StreamEndpoints(CameraModel& camera, const PictureSource& pictures) : camera_(camera), pictures_(pictures) {}
    void Register(HttpServer& server);

    // false: pictures go out as fast as the client takes them (tests); true: at the requested rate.
    void SetPaced(bool paced) { paced_ = paced; }
    // The camera ends a stream connection after this many pictures; 0: never.
    void SetPicturesPerConnection(uint64_t count) { picturesPerConnection_ = count; }
    // Send streams with the chunked transfer coding instead of a body that ends with the connection.
    void SetChunked(bool chunked) { chunked_ = chunked; }
    uint64_t PicturesSent() const { return picturesSent_; }
    // Encoder options of MxPEG streams opened from now on (Huffman tables, 4:2:2 full frames, change
    // threshold, comment); quality and refresh interval always come from the camera and the request.
    void SetMxpegOptions(const mxpegenc::EncoderOptions& options);
    // Pictures sent damaged by a stream fault (FaultRule::Damage), in the order sent.
    DamageLog& Damaged() { return damaged_; }

private:
    void Handle(const RequestHead& head, ResponseWriter& writer);
    void StreamJpeg(int fps, ResponseWriter& writer);
    void StreamMxpeg(int fps, int refreshInterval, ResponseWriter& writer);
    // Waits until picture k is due; false when the stream has to end.
    bool Pace(uint64_t k, int fps, uint64_t startMs, ResponseWriter& writer) const;
    // Damages picture k when the request's fault asks for it; fills the gap bytes to send after it
    // and the record to log once it is sent. False when picture k stays intact.
    static bool Damage(const ResponseWriter& writer, uint64_t k, bool mxpeg, std::vector<uint8_t>* picture,
                       std::vector<uint8_t>* gap, DamageRecord* record);

    CameraModel& camera_;
    const PictureSource& pictures_;
    std::atomic<bool> paced_{true};
    std::atomic<bool> chunked_{false};
    std::atomic<uint64_t> picturesPerConnection_{0};
    std::atomic<uint64_t> picturesSent_{0};
    std::mutex mxpegMutex_;
    mxpegenc::EncoderOptions mxpegOptions_;
    DamageLog damaged_;
};

}  // namespace camsim
