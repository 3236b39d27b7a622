// CMobotixPTZComm: runs PTZ commands against a Mobotix camera. Motions, stops and presets travel
// as 24-byte rotor packets in the body of one long-lived POST to /control/rotorcgi; area zoom,
// center and unzoom are click requests whose reply must contain "OK".
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "PTZ/BasePTZComm.h"
#include "PTZ/ScaleConverter.h"
#include "Thread/Event.h"
#include "Web/HttpClient.h"

namespace velmora {

// Threads: commands run on the PTZ thread; StorePreposition and RecallPreposition on the host's
// preset thread. Both use the one HTTP client and its open rotor body, so every use of the client
// holds clientLock_ (never across the area-zoom wait). IsDome uses a client of its own.
class CMobotixPTZComm : public CBasePTZComm {
public:
    static constexpr size_t kRotorPacketSize = 24;
    static constexpr uint32_t kRotorDeclaredLength = 210000;
    static constexpr uint32_t kRotorRequestOptions = 12;  // send only, ignore certificate errors
    static constexpr const char* kRotorPath = "/control/rotorcgi";
    static constexpr const char* kRotorAcceptHeader = "Accept: multipart/x-mixed-replace,*/*";
    static constexpr const char* kDisplayModePath = "/control/control?read&section=imagecontrol&display_mode";
    // Rotor speeds for host speeds 1..16.
    static constexpr uint32_t kMinRotorSpeed = 26843545;    // 0x1999999
    static constexpr uint32_t kMaxRotorSpeed = 1073741823;  // 0x3FFFFFFF
    // Least wait before zoomrect by picture width class (width div 1000 = 1 or 2).
    static constexpr uint32_t kAreaZoomWaitWidth1000Ms = 220;
    static constexpr uint32_t kAreaZoomWaitWidth2000Ms = 360;

    enum RotorCode : uint32_t {
        kRotorPanTilt = 1,
        kRotorZoom = 3,
        kRotorStorePreset = 5,
        kRotorRecallPreset = 6,
        kRotorStop = 9,
    };

    CMobotixPTZComm(const CPtzCapabilities& capabilities, IDriver* driver, uint16_t channel);
    ~CMobotixPTZComm() override;

    void HandleWorkItem(IWorkItem* item) override;
    // A pending area-zoom wait ends at once, so that Close does not wait for it.
    bool Open() override;
    bool Close() override;
    // Asks the camera whether its display mode allows dome control (see the .cpp).
    bool IsDome() override;
    bool StorePreposition(uint32_t slot, const std::string& name) override;
    bool RecallPreposition(uint32_t slot, const std::string& name, int32_t speed) override;

    static std::array<uint8_t, kRotorPacketSize> BuildRotorPacket(uint32_t code, int32_t first, int32_t second);
    uint32_t RotorSpeed(int32_t speed) const { return speedConverter_.Convert(static_cast<uint32_t>(speed)); }

    // The command handlers; each checks that the record carries its own command id.
    CResultDef ProcessMoveCommand(const CWorkItem& item);
    CResultDef ProcessStopCommand(const CWorkItem& item);
    CResultDef ProcessAreaZoomCommand(const CWorkItem& item);
    CResultDef ProcessCenterCommand(const CWorkItem& item);
    CResultDef ProcessUnzoomCommand(const CWorkItem& item);
    // One rotor packet on the open POST body, or on a new POST when none is open.
    CResultDef ProcessMobotixPtzCommand(uint32_t code, int32_t first, int32_t second);

private:
    CResultDef SendClickRequest(int32_t x, int32_t y, int32_t mode);
    CResultDef SendSetHttpRequest(const std::string& path);
    CResultDef SendHttpRequest(Web::CHttpClient& client, const std::string& path, std::string& reply);
    std::string CameraText();
    // Waits; false when Close interrupted the wait.
    bool Pause(uint32_t milliseconds);

    Web::CHttpClient client_;
    CScaleConverter speedConverter_;
    CFastMutex clientLock_;
    CManualEvent closing_;
};

}  // namespace velmora
