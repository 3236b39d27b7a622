// Digital inputs and outputs of the camera (being built; inputs and outputs not wired yet).
#pragma once
#include "Driver/IDriver.h"
#include "IO/AlarmReceiver.h"
#include "quillon/IPCapture.h"

namespace velmora {

class CMobotixDigitalIO : public ipcapture::ICaptureIOApi, public IAlarmReceiver {
public:
    explicit CMobotixDigitalIO(IDriver* driver) : driver_(driver) {}
    bool SetSink(ipcapture::IIOEventSink* sink) override { return sink != nullptr; }
    bool Start() override { return false; }
    bool Stop() override { return true; }
    uint32_t GetInputCount() override { return static_cast<uint32_t>(driver_->GetIOCount().first); }
    uint32_t GetOutputCount() override { return static_cast<uint32_t>(driver_->GetIOCount().second); }
    bool SetOutput(uint32_t, int32_t) override { return false; }
    void ProcessSensorSection(const std::string&) override {}

private:
    IDriver* driver_;
};

}  // namespace velmora
