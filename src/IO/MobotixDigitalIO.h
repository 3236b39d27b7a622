// Camera I/O: outputs switched by remote-control requests, inputs read from sensor blocks.
#pragma once
#include <memory>
#include <mutex>

#include "IO/IOBase.h"

namespace Web {
class CHttpClient;
}

namespace velmora {

class CMobotixDigitalIO : public CIOBase {
public:
    explicit CMobotixDigitalIO(IDriver* driver);
    ~CMobotixDigitalIO() override;

    bool SwitchOutput(uint32_t index, int32_t state) override;
    void ProcessSensorSection(const std::string& text) override;

    // Input states read from one sensor block: 0 absent, 1 for "1", 2 for any other value.
    static std::vector<int32_t> ParseSensorSection(const std::string& text, uint32_t inputs);

private:
    std::unique_ptr<Web::CHttpClient> client_;
    // Start runs on a host thread and Execute on the worker; the client serves one at a time.
    std::mutex clientLock_;
};

}  // namespace velmora
