// The driver object: host interface generations, the inner IDriver interface and the channel
// factory. The host calls Open/Close/getters; sub-objects call IDriver from their threads.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "Channels/CameraChannel.h"
#include "Driver/IDriver.h"
#include "quillon/IPCapture.h"

namespace velmora {

class CIPVideoCapture;

class ICustomCreator {
public:
    virtual ~ICustomCreator() = default;
    // A new, unstarted channel owned by the caller; null for an unknown stream type.
    virtual ICameraChannel* CreateChannel(uint32_t channel, ipcapture::IVideoSink* sink) = 0;
};

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx3, public IDriver, public ICustomCreator {
public:
    CIPCaptureDriver();
    ~CIPCaptureDriver() override;

    // Host interface.
    bool Open(ipcapture::IDebugInfoReceiver* receiver, ipcapture::ISampleAllocator* allocator,
              ipcapture::IDriverConfig* config) override;
    void Close() override;
    ipcapture::IIPVideoCapture* GetVideoCapture() override;
    ipcapture::ICaptureIOApi* GetIOApi() override { return ioObject_; }
    void* Reserved1() override { return nullptr; }
    IIPPTZDriver* GetPTZDriver() override { return ptzHandler_; }
    void* Reserved2() override { return nullptr; }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
    IIPPTZDriverEx* GetPTZDriverEx() override { return ptzHandler_; }

    virtual bool CreateIOObject() = 0;
    virtual bool CreatePTZObject() = 0;
    virtual void LogDriverOpened(ipcapture::IDriverConfig* config, const std::string& driverName,
                                 const std::string& firmware);

    // Inner interface.
    void DebugMessage(int level, const char* format, ...) override
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    DEVICE_INFO GetDeviceInfo() override { return device_; }
    std::pair<int32_t, int32_t> GetIOCount() override { return {inputCount_, outputCount_}; }
    ipcapture::ISampleAllocator* GetSampleAllocator() override { return allocator_; }
    int32_t GetVideoStandard() override { return videoStandard_; }
    int32_t GetStreamType() override { return streamType_; }
    int32_t GetChannelCount() override { return channelCount_; }
    StreamParameters GetChannelParameters(uint32_t channel) override;
    std::string GetParameter(int32_t key) override;
    int32_t GetParameterInt(int32_t key) override;

    // Posts an already formatted text: its '%' characters are not interpreted again.
    void PostText(int level, const std::string& text);
    const uint16_t* HostVersion() const { return hostVersion_; }

protected:
    ipcapture::IDebugInfoReceiver* receiver_ = nullptr;
    ipcapture::ISampleAllocator* allocator_ = nullptr;
    DEVICE_INFO device_;
    int32_t inputCount_ = 0;
    int32_t outputCount_ = 0;
    int32_t channelCount_ = 0;
    int32_t streamType_ = 0;
    int32_t videoStandard_ = 0;
    std::map<int32_t, std::string> parameters_;
    uint16_t hostVersion_[4] = {0, 0, 0, 0};
    ipcapture::ICaptureIOApi* ioObject_ = nullptr;
    CIPVideoCapture* videoCapture_ = nullptr;
    IIPPTZDriverEx* ptzHandler_ = nullptr;
};

// Reads the host core module's product version; 5.12.0.0 when it cannot be read.
void ReadHostCoreVersion(uint16_t version[4]);

class CMobotixIPCaptureDriver : public CIPCaptureDriver {
public:
    ~CMobotixIPCaptureDriver() override { Close(); }
    bool Open(ipcapture::IDebugInfoReceiver* receiver, ipcapture::ISampleAllocator* allocator,
              ipcapture::IDriverConfig* config) override;
    bool CreateIOObject() override;
    bool CreatePTZObject() override;
    ICameraChannel* CreateChannel(uint32_t channel, ipcapture::IVideoSink* sink) override;
};

}  // namespace velmora
