// PTZ interfaces the driver offers: the per-driver PTZ handler and the per-channel PTZ API.
// Objects returned here stay owned by the driver; the host never deletes them.
#pragma once
#include "quillon/Abi.h"
#include <cstdint>

// Caller-parameter object carried with every posted PTZ command.
class IIPParams {
public:
    QUILLON_DESTRUCTOR(IIPParams)
    virtual int32_t GetChannel() = 0;
    virtual bool GetFlagA() = 0;
    virtual void SetFlagA(bool value) = 0;
    virtual bool GetFlagB() = 0;
    virtual void SetFlagB(bool value) = 0;
    QUILLON_DESTRUCTOR_TAIL(IIPParams)
};

namespace velmora {

// Host capability record filled by GetCapabilities: fourteen 32-bit integers.
struct PTZ_CAPABILITIES {
    int32_t reserved1;        // 1: not written by the driver
    int32_t pan;              // 2
    int32_t tilt;             // 3
    int32_t zoom;             // 4
    int32_t focus;            // 5
    int32_t iris;             // 6
    int32_t reserved7;        // 7
    int32_t presetCapacity;   // 8: presets the camera can store
    int32_t presetCount;      // 9: presets in the list
    int32_t reserved10;       // 10
    int32_t reserved11;       // 11
    int32_t areaZoom;         // 12
    int32_t center;           // 13
    int32_t unzoom;           // 14
};

// Result codes of the PTZ API.
enum PtzApiResult : int32_t {
    kPtzDone = 1,
    kPtzInvalidArgument = -3,
    kPtzNotPossible = -18,
    kPtzNotCapable = -19,
    kPtzPresetFailed = -23,
    kPtzNoFreeSlot = -26,
};

class IIPPTZApi {
public:
    QUILLON_BASE_DESTRUCTOR(IIPPTZApi)                                           // 1
    virtual int32_t IsDome() = 0;                                                // 2
    virtual int32_t Move(int32_t direction, int32_t speed) = 0;                  // 3
    virtual int32_t Stop() = 0;                                                  // 4
    virtual int32_t Center(int32_t x, int32_t y, int32_t speed) = 0;             // 5
    virtual int32_t ZoomPlus(int32_t speed) = 0;                                 // 6
    virtual int32_t ZoomMinus(int32_t speed) = 0;                                // 7
    virtual int32_t Unzoom(int32_t speed) = 0;                                   // 8
    virtual int32_t AreaZoom(int32_t x, int32_t y, int32_t zoom, int32_t speed) = 0;  // 9
    virtual int32_t FocusPlus(int32_t speed) = 0;                                // 10
    virtual int32_t FocusMinus(int32_t speed) = 0;                               // 11
    virtual int32_t IrisPlus(int32_t speed) = 0;                                 // 12
    virtual int32_t IrisMinus(int32_t speed) = 0;                                // 13
    virtual int32_t GetCapabilities(PTZ_CAPABILITIES* record) = 0;               // 14
    virtual int32_t GetPrepositionCount() = 0;                                   // 15
    virtual int32_t GetPrepositionName(int32_t index, char* buffer, uint32_t size) = 0;  // 16
    virtual int32_t GotoPreposition(int32_t speed, const char* name) = 0;        // 17
    virtual int32_t AddPreposition(const char* name) = 0;                        // 18
    virtual int32_t RemovePreposition(const char* name) = 0;                     // 19
    virtual int32_t GetCurrentPrepositionName(char* buffer, uint32_t size) = 0;  // 20
};

class IIPPTZApiEx : public IIPPTZApi {
public:
    QUILLON_EXTENSION_DESTRUCTOR(IIPPTZApiEx)
    virtual bool IsOptionSupported(int32_t value) = 0;                           // 21
    QUILLON_DESTRUCTOR_TAIL(IIPPTZApiEx)
};

class IIPPTZDriver {
public:
    QUILLON_BASE_DESTRUCTOR(IIPPTZDriver)
    virtual IIPPTZApi* GetPTZApi(uint32_t channel) = 0;
};

class IIPPTZDriverEx : public IIPPTZDriver {
public:
    QUILLON_EXTENSION_DESTRUCTOR(IIPPTZDriverEx)
    IIPPTZApi* GetPTZApi(uint32_t channel) override { return GetPTZApiEx(channel); }
    virtual IIPPTZApiEx* GetPTZApiEx(uint32_t channel) = 0;
    QUILLON_DESTRUCTOR_TAIL(IIPPTZDriverEx)
};

}  // namespace velmora
