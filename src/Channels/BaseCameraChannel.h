// Transport-independent part of a video channel: parameters, the capture thread with its stop
// event and time-limited stop, the channel state, the last-picture time, delivery to the host's
// video sink and the online/offline reports. Host threads call Start/Stop/Update/GetState/
// GetParameters; the capture thread calls the rest.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "Channels/CameraChannel.h"
#include "Thread/Event.h"
#include "Thread/FastMutex.h"
#include "platform/Sync.h"
#include "quillon/Media.h"

namespace velmora {

class CBaseCameraChannel : public ICameraChannel {
public:
    CBaseCameraChannel(uint32_t channel, IDriver* driver, ipcapture::IVideoSink* sink);
    // Stops the capture thread; a derived channel must call Stop() in its own destructor first,
    // since the thread body uses the derived members.
    ~CBaseCameraChannel() override;

    bool Start(const StreamParameters& parameters) override;
    void Stop() override;
    bool Update(const StreamParameters& parameters) override;
    int32_t GetState() override;
    StreamParameters GetParameters() override { return parameters_; }
    bool IsCallerCaptureThread() const override { return IsCaptureThread(); }

    virtual int32_t Run() = 0;
    virtual void OnStopThread() {}

    void StopThread();
    void SetState(int32_t state);
    void SetCameraState(bool online);
    void MarkFrameReceived();
    // Milliseconds since the last delivered picture on the monotonic clock, saturated at
    // kNoPictureYet, which is also the answer while no picture has arrived.
    uint32_t GetMillisecondsSinceLastFrame();
    static constexpr uint32_t kNoPictureYet = UINT32_MAX;
    bool DeliverSample(ipcapture::IMediaSample* sample);

    uint32_t Channel() const { return channel_; }
    bool IsStopSignalled() { return stopEvent_.Wait(0); }

protected:
    // Source of the last-picture time: monotonic milliseconds; tests put a clock of their own.
    using MillisecondClock = uint64_t (*)();
    void SetClock(MillisecondClock clock) { clock_ = clock; }

    // "Camera <address>" or "Video-server <address> (channel <n>)".
    std::string DeviceName();
    bool CreateCaptureThread();
    bool IsCaptureThread() const;

    ipcapture::IVideoSink* sink_;
    bool socketsStarted_ = false;
    std::atomic<bool> reportedOnline_{false};
    // Set while Update restarts the thread: the restart reports no offline line.
    std::atomic<bool> restarting_{false};
    // Guards the online flag's compare-and-store and the queue of report lines, so that a picture
    // delivered while Stop runs cannot report "online" after the channel said "stopped". It is
    // never held while the host is called: lines are queued under it and posted after it is left,
    // by one thread at a time, in the order they were decided.
    std::mutex reportLock_;
    struct Report {
        int level;
        std::string text;
    };
    std::deque<Report> pendingReports_;
    bool postingReports_ = false;
    CFastMutex stateLock_;
    int32_t state_ = kStopped;
    platform::ThreadObject* thread_ = nullptr;
    std::atomic<uint64_t> threadId_{0};
    CFastMutex timeLock_;
    bool pictureReceived_ = false;
    uint64_t lastFrameMs_ = 0;
    MillisecondClock clock_;
    const uint32_t channel_;
    IDriver* driver_;
    StreamParameters parameters_;
    CManualEvent stopEvent_;

private:
    static uint32_t ThreadEntry(void* self);
    Report DescribeCameraState(bool online);
    void PostPendingReports();
};

}  // namespace velmora
