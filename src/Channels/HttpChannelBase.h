// HTTP video channel: the reconnect loop of the capture thread, the media receiver through
// which every picture reaches the host, and the sensor-text step towards the I/O object.
//
// Stopping: the stop event is set, then OnStopThread (on the stopping thread) aborts the client
// the capture thread is using, which wakes a call blocked on the network where the platform
// allows; every reader checks the stop between reads, so a peer that sends a byte at a time
// cannot hold the thread past the stop limit.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Channels/BaseCameraChannel.h"
#include "Channels/MediaReceiver.h"
#include "IO/AlarmReceiver.h"

namespace Web {
class CHttpClient;
}

namespace velmora {

class CHttpChannelBase : public CBaseCameraChannel, public IMediaReceiver {
public:
    CHttpChannelBase(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink, IAlarmReceiver* sensors);

    int32_t Run() override;
    // Aborts the request of the client in use (any thread; after the stop event is set).
    void OnStopThread() override;
    // Pushes the stream parameters to the camera.
    virtual bool SetParameters() = 0;
    // Pulls the live stream until it ends; true only when stopped without a delivery error.
    virtual bool StreamVideo() = 0;

    bool OnMediaSample(ipcapture::IMediaSample* sample) override;


    // Passes the first sensor block in the text to the I/O object.
    void ProcessSensorText(const char* text, size_t size);
    // The text from the first "SECTION SENSORS" up to the first "ENDSECTION SENSORS" when the start
    // tag comes first; empty otherwise.
    static std::string_view FindSensorSection(std::string_view text);

    // Waits before a connection attempt: short while few attempts failed, long after that.
    static constexpr uint32_t kShortRetryMs = 1000;
    static constexpr uint32_t kLongRetryMs = 5000;
    static constexpr uint32_t kShortRetries = 3;
    // Read buffer size a stream starts with.
    // What one read of the live body asks for. A read returns what has arrived (waiting up to the
    // request time-out for the first byte) and lands straight in the parser's buffer; asking for more
    // than a picture lets a late wake-up take it in one piece.
    static constexpr uint32_t kStreamReadBytes = 256 * 1024;

protected:
    // Image-control quality: 9/10 of the host's percent in steps of ten, never 0.
    static uint32_t CameraQuality(uint32_t percent);

    // Sends the image-control request and checks the reply as for new stream parameters: a 2xx
    // status, a body, no "ERR:" line (code 14, its message naming the operation `where`). Then asks
    // the camera to store the settings; when storeMustSucceed, a store that is not sent or answered
    // outside 2xx fails the push too (a store reply may be empty). Failures are logged through the
    // failure throttle; level-4 results never.
    bool PushImageControl(Web::CHttpClient& client, const std::string& path, const char* where, bool storeMustSucceed);

    // Makes a client the one a stop aborts, for the scope's life; a client registered after the
    // stop began is aborted at once. Declare it after the client, so it ends first.
    class ActiveClient {
    public:
        ActiveClient(CHttpChannelBase& channel, Web::CHttpClient& client);
        ~ActiveClient();
        ActiveClient(const ActiveClient&) = delete;
        ActiveClient& operator=(const ActiveClient&) = delete;

    private:
        CHttpChannelBase& channel_;
    };

    // A stream pass fails when it delivers no picture for the stream time-out, even while bytes
    // arrive (parts that never become pictures, a peer sending a byte at a time).
    class PictureWatch {
    public:
        explicit PictureWatch(CHttpChannelBase& channel);
        // True once the stream time-out has passed since the pass began or the last picture.
        bool Overdue();

    private:
        CHttpChannelBase& channel_;
        uint64_t pictures_;
        uint64_t sinceMs_;
        uint64_t timeoutMs_;
    };

    bool streamError_ = false;
    IAlarmReceiver* sensorSink_;
    // False where pictures are rebuilt by the driver: they hold no text segment, so the sensor text
    // is taken from the stream's reads alone.
    bool picturesCarrySensorText_ = true;
    uint32_t failureCount_ = 0;  // of ShouldReport; never reset

private:
    std::mutex activeLock_;  // guards activeClient_ against the stopping thread
    Web::CHttpClient* activeClient_ = nullptr;
    std::atomic<uint64_t> picturesDelivered_{0};
};

}  // namespace velmora
