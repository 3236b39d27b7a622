// CBasePTZHandler: the driver's PTZ driver object. It creates, opens and keeps one PTZ API object
// per channel on first request and owns the preset file shared by all channels.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "Driver/IDriver.h"
#include "PTZ/BasePTZControl.h"
#include "Presets/SmartPtr.h"
#include "Presets/XMLPrepositionReader.h"
#include "quillon/PTZ.h"

namespace velmora {

class CIPPTZDriverIf : public IIPPTZDriverEx {};

// The host calls GetPTZApi/GetPTZApiEx from one thread at a time and never concurrently with the
// driver's close; the map is not locked. Returned objects stay owned by the handler.
class CBasePTZHandler : public CIPPTZDriverIf {
public:
    CBasePTZHandler(IDriver* driver, uint32_t channelCount, std::string vendorName);
    // Deletes every control (their command threads end) and lets go of the preset file.
    ~CBasePTZHandler() override;

    // Null for a channel at or beyond the count, without a preset file, or when the control cannot
    // be opened (a later request tries again). The same object for every later request.
    IIPPTZApiEx* GetPTZApiEx(uint32_t channel) override;
    virtual std::string GetXMLStorageFileName() = 0;
    virtual CBasePTZControl* CreatePTZControl(uint32_t channel) = 0;
    virtual void DeleteControls();
    // Creates and opens the preset file object; true when the file is open.
    virtual bool InitializeXMLStorage();

    uint32_t ChannelCount() const { return channelCount_; }
    const std::string& VendorName() const { return vendorName_; }
    const TSmartPtr<CXMLPrepositionReader>& Storage() const { return storage_; }

protected:
    IDriver* driver_;

private:
    std::map<uint32_t, CBasePTZControl*> controls_;
    uint32_t channelCount_;
    TSmartPtr<CXMLPrepositionReader> storage_;
    std::string vendorName_;
};

}  // namespace velmora
