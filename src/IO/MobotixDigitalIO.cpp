// Camera I/O.
#include "IO/MobotixDigitalIO.h"

#include "Web/TextUtils.h"
#include "Web/HttpClient.h"
#include "Web/TextUtils.h"

namespace velmora {

namespace {
constexpr const char* kOutputPath = "/control/rcontrol?action=";
constexpr const char* kSeparator = "=";
constexpr const char* kDelimiters = ",\r\n";
}  // namespace

CMobotixDigitalIO::CMobotixDigitalIO(IDriver* driver)
    : CIOBase(driver), client_(std::make_unique<Web::CHttpClient>(driver->GetDeviceInfo(), kHttpAgent)) {}

CMobotixDigitalIO::~CMobotixDigitalIO() { CIOBase::Stop(); }

bool CMobotixDigitalIO::SwitchOutput(uint32_t, int32_t state) {
    const char* action = nullptr;
    if (state == kStateLow) action = "sigoutlow";
    else if (state == kStateHigh) action = "sigouthigh";
    else return true;
    // Every output index switches the same camera signal output.
    std::lock_guard<std::mutex> lock(clientLock_);
    return client_->SendRequest("GET", std::string(kOutputPath) + action);
}

std::vector<int32_t> CMobotixDigitalIO::ParseSensorSection(const std::string& text, uint32_t inputs) {
    std::vector<int32_t> states(inputs, kStateNone);
    for (uint32_t i = 0; i < inputs; ++i) {
        std::string key = "INA";
        key[2] = static_cast<char>('A' + i);
        std::string value = Utils::FindKeyValue(key, kSeparator, text, kDelimiters);
        if (value.empty()) {
            key = i == 0 ? std::string("SIN") : Utils::FormatString("SI%u", i + 1);
            value = Utils::FindKeyValue(key, kSeparator, text, kDelimiters);
        }
        states[i] = value.empty() ? kStateNone : (value == "1" ? kStateLow : kStateHigh);
    }
    return states;
}

void CMobotixDigitalIO::ProcessSensorSection(const std::string& text) {
    UpdateInputs(ParseSensorSection(text, GetInputCount()));
}

}  // namespace velmora
