// Camera-independent digital I/O: input and output states, the "Digital Output thread" that
// executes queued output switches, and the reports to the host's I/O sink. Host threads call
// the ICaptureIOApi operations, capture threads ProcessSensorSection, the worker Execute.
// One lock guards both state maps; it is never held while the host or the camera is called.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "Driver/IDriver.h"
#include "IO/AlarmReceiver.h"
#include "Thread/SimpleThread.h"
#include "quillon/IPCapture.h"

namespace velmora {

class CIOBase : public ipcapture::ICaptureIOApi, public thread::CWorkItemThread, public IAlarmReceiver {
public:
    // States: 0 none, 1 low/inactive ("1" in the sensor block), 2 high/active.
    enum : int32_t { kStateNone = 0, kStateLow = 1, kStateHigh = 2 };

    explicit CIOBase(IDriver* driver);
    ~CIOBase() override;

    bool SetSink(ipcapture::IIOEventSink* sink) override;
    bool Start() override;
    bool Stop() override;
    uint32_t GetInputCount() override;
    uint32_t GetOutputCount() override;
    bool SetOutput(uint32_t index, int32_t state) override;
    virtual bool SwitchOutput(uint32_t index, int32_t state) = 0;

    void Execute(IWorkItem* item) override;

    struct CWorkItem : IWorkItem {
        CWorkItem(int32_t i, int32_t s) : index(i), state(s) {}
        int32_t index;
        int32_t state;
    };

    // Snapshot for tests and the host's display.
    std::map<uint32_t, int32_t> InputStates();
    std::map<uint32_t, int32_t> OutputStates();

protected:
    void ResetStates();
    // Stores the new input states and reports each change to the sink.
    void UpdateInputs(const std::vector<int32_t>& states);
    void ReportFailure();

    IDriver* driver_;
    std::mutex stateLock_;
    ipcapture::IIOEventSink* sink_ = nullptr;
    std::map<uint32_t, int32_t> inputStates_;
    std::map<uint32_t, int32_t> outputStates_;
};

}  // namespace velmora
