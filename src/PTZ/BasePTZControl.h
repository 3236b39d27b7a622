// CBasePTZControl: the PTZ API object the host holds for one camera channel. Motions are posted
// to the channel's command object, presets go to the channel's preset list; one Stop ends every
// kind of motion this object started.
#pragma once
#include <atomic>
#include <cstdint>

#include "Driver/IDriver.h"
#include "PTZ/BasePTZComm.h"
#include "Presets/PrepositionList.h"
#include "Presets/SmartPtr.h"
#include "Presets/XMLPrepositionReader.h"
#include "quillon/PTZ.h"

namespace velmora {

// Host threads call every operation; Open, Close and destruction are not concurrent with others
// (the handler opens the object before handing it out and deletes it at driver close).
class CBasePTZControl : public IIPPTZApiEx, public IIPParams {
public:
    CBasePTZControl(IDriver* driver, int32_t channel);
    // Closes (stopping the command thread), then the preset list goes.
    ~CBasePTZControl() override;

    // IIPPTZApi. Not open: -18 (except the preset lookups, which answer from the list).
    int32_t IsDome() override;
    int32_t Move(int32_t direction, int32_t speed) override;
    int32_t Stop() override;
    int32_t Center(int32_t x, int32_t y, int32_t speed) override;
    int32_t ZoomPlus(int32_t speed) override;
    int32_t ZoomMinus(int32_t speed) override;
    int32_t Unzoom(int32_t speed) override;
    int32_t AreaZoom(int32_t x, int32_t y, int32_t zoom, int32_t speed) override;
    int32_t FocusPlus(int32_t speed) override;
    int32_t FocusMinus(int32_t speed) override;
    int32_t IrisPlus(int32_t speed) override;
    int32_t IrisMinus(int32_t speed) override;
    int32_t GetCapabilities(PTZ_CAPABILITIES* record) override;
    int32_t GetPrepositionCount() override;
    int32_t GetPrepositionName(int32_t index, char* buffer, uint32_t size) override;
    int32_t GotoPreposition(int32_t speed, const char* name) override;
    int32_t AddPreposition(const char* name) override;
    int32_t RemovePreposition(const char* name) override;
    int32_t GetCurrentPrepositionName(char* buffer, uint32_t size) override;
    // IIPPTZApiEx: only option 1 is supported.
    bool IsOptionSupported(int32_t value) override;

    // IIPParams: two flags for the host; the driver never reads them.
    int32_t GetChannel() override { return channel_; }
    bool GetFlagA() override { return flagA_; }
    void SetFlagA(bool value) override { flagA_ = value; }
    bool GetFlagB() override { return flagB_; }
    void SetFlagB(bool value) override { flagB_ = value; }

    // Stops and deletes the command object; idempotent.
    virtual void Close();
    virtual CBasePTZComm* CreateComm() = 0;
    // Creates and opens the command object and loads the channel's presets from storage. False
    // (and closed again) when the command thread does not start or storage is empty.
    virtual bool Open(TSmartPtr<CXMLPrepositionReader> storage);

    CPrepositionList& Prepositions() { return prepositions_; }
    CBasePTZComm* Comm() const { return comm_; }

protected:
    IDriver* driver_;
    int32_t channel_;

private:
    // Copies a name with its terminating zero: -3 for no buffer or no room.
    static int32_t CopyName(const std::string& name, char* buffer, uint32_t size);
    int32_t StartZoom(int32_t direction, int32_t speed);
    // Posts one stop when its flag is set; false when posting failed.
    bool PostStop(std::atomic<bool>& flag, bool (CBasePTZComm::*post)(IIPParams*));

    CBasePTZComm* comm_ = nullptr;
    CPrepositionList prepositions_;
    std::atomic<bool> flagA_{false};
    std::atomic<bool> flagB_{false};
    // What was started and not yet stopped; host threads may move and stop concurrently.
    std::atomic<bool> zooming_{false};
    std::atomic<bool> focusing_{false};
    std::atomic<bool> irisChanging_{false};
    std::atomic<bool> moving_{false};
};

}  // namespace velmora
