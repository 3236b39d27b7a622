// CBasePTZComm: the per-PTZ-channel command engine. Host calls become queued command records that
// one worker thread executes in order; the camera-specific subclass runs them (HandleWorkItem) and
// implements the camera side of presets.
#pragma once
#include <cstdint>
#include <string>

#include "Driver/IDriver.h"
#include "Presets/PrepositionComm.h"
#include "Properties/PtzCapabilities.h"
#include "Thread/FastMutex.h"
#include "Thread/WorkItemThreadEx.h"
#include "Web/ResultDef.h"
#include "quillon/PTZ.h"

namespace velmora {

enum PtzCommandId : int32_t {
    MoveCommand = 1,
    FocusCommand = 2,
    IrisCommand = 3,
    StopCommand = 4,
    AreaZoomCommand = 5,
    CenterCommand = 6,
    UnzoomCommand = 7,
};

// Sub-commands carried with focus, iris and stop records.
enum PtzSubCommand : int32_t {
    kFocusBackward = 1,
    kFocusForward = 2,
    kIrisOpen = 3,
    kIrisClose = 4,
    kStopMoving = 5,
    kStopZooming = 6,
    kStopFocusing = 7,
    kStopIrisChanging = 8,
};

// Threads: posting operations run on host threads and only touch the queue (guarded by the
// base's lock); HandleWorkItem runs on the worker; the preset operations run on the caller's
// thread. A subclass must call Close() in its own destructor, so that the worker has ended before
// the subclass's part (which HandleWorkItem uses) is destroyed.
class CBasePTZComm : public CWorkItemThreadEx, public IPrepositionComm {
public:
    // Posting results.
    static constexpr int32_t kQueued = 1;
    static constexpr int32_t kPostFailed = -18;
    static constexpr int32_t kNotCapable = -19;
    // At most this many commands wait; the oldest waiting ones are dropped to make room.
    static constexpr uint32_t kMaxPendingCommands = 16;
    static constexpr const char* kThreadNameFormat = "BaseIPPTZThread_Ch%u";

    // One command; fields an operation does not set are 0. parameters is not owned.
    class CWorkItem : public CWorkItemThreadEx::IWorkItem {
    public:
        CWorkItem(int32_t commandIdValue, int32_t subCommandValue, IIPParams* parametersValue, int32_t speedValue,
                  int32_t directionOrXValue = 0, int32_t yValue = 0, int32_t zoomFactorValue = 0)
            : commandId(commandIdValue),
              subCommand(subCommandValue),
              parameters(parametersValue),
              speed(speedValue),
              directionOrX(directionOrXValue),
              y(yValue),
              zoomFactor(zoomFactorValue) {}

        int32_t commandId;
        int32_t subCommand;
        IIPParams* parameters;
        int32_t speed;
        int32_t directionOrX;  // direction for moves, x for area zoom and center
        int32_t y;
        int32_t zoomFactor;  // percent, area zoom only
    };

    // Copies the capabilities; the thread is not started. driver is not owned.
    CBasePTZComm(const CPtzCapabilities& capabilities, IDriver* driver, uint16_t channel);
    ~CBasePTZComm() override;

    void HandleWorkItem(IWorkItem* item) override = 0;
    // Starts the worker named "BaseIPPTZThread_Ch<channel + 1>"; true when running (also when it
    // already was).
    virtual bool Open();
    // Stops the worker, discarding waiting commands; false when it was not running.
    virtual bool Close();
    // True when any of pan, tilt, zoom, focus or iris is set.
    virtual bool IsDome();
    // Fills the host's record from the capabilities and restarts the failure throttle. Always 1.
    virtual int32_t GetCapabilities(PTZ_CAPABILITIES* record);

    // 1 queued, -19 capability missing (nothing queued, nothing written), -18 not posted.
    int32_t StartMove(IIPParams* parameters, int32_t direction, int32_t speed);
    int32_t StartFocus(IIPParams* parameters, bool forward, int32_t speed);
    int32_t StartIris(IIPParams* parameters, bool open, int32_t speed);
    int32_t AreaZoom(IIPParams* parameters, int32_t x, int32_t y, int32_t zoomFactor, int32_t speed);
    int32_t Center(IIPParams* parameters, int32_t x, int32_t y, int32_t speed);
    int32_t Unzoom(IIPParams* parameters, int32_t speed);
    // True when queued; no capability gate.
    bool StopMoving(IIPParams* parameters);
    bool StopZooming(IIPParams* parameters);
    bool StopFocusing(IIPParams* parameters);
    bool StopIrisChanging(IIPParams* parameters);

    // The camera keeps erased slots; nothing is sent.
    bool ErasePreposition(uint32_t slot, const std::string& name) override;
    // Formats the text and hands it to the driver as finished text (its percent signs are kept).
    void DebugMessage(int level, const char* format, ...) override
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    const CPtzCapabilities& Capabilities() const { return capabilities_; }
    uint16_t Channel() const { return channel_; }
    bool IsOpen() const { return open_; }
    uint32_t FailureCounter();

protected:
    // For a failed result (code not 0): advances the failure throttle and, when this failure is to
    // be reported, writes the message as finished text unless it is empty or of level 4.
    void ReportFailure(const CResultDef& result);

    IDriver* driver_;

private:
    int32_t PostCommand(const char* operation, CWorkItem* item);

    uint16_t channel_;
    CPtzCapabilities capabilities_;
    bool open_ = false;
    CFastMutex failureLock_;  // the PTZ thread and preset callers both count failures
    uint32_t failureCounter_ = 0;
};

}  // namespace velmora
