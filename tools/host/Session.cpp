// Driver sessions and the parameter store.
#include "host/Session.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quillon::host {

DriverSession::DriverSession(CameraConfig config) : config_(std::move(config)) {}

DriverSession::~DriverSession() { Close(); }

bool DriverSession::Open(std::string* error, const std::string& modulePath) {
    if (driver_) return true;
    if (!module_.Create && !module_.Load(modulePath, error)) return false;
    IIPCaptureDriver* driver = module_.Create();
    if (!driver) {
        if (error) *error = "CreateIPCapture returned no driver";
        return false;
    }
    if (!driver->Open(&log_, &allocator_, &config_)) {
        module_.Delete(driver);
        if (error) *error = "the driver refused to open with this configuration";
        return false;
    }
    driver_ = static_cast<IIPCaptureDriverEx3*>(driver);
    return true;
}

void DriverSession::Close() {
    if (!driver_) return;
    driver_->Close();
    module_.Delete(driver_);
    driver_ = nullptr;
}

std::string ParameterStore::DefaultPath() {
    if (const char* state = std::getenv("QUILLON_HOST_STATE")) return state;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.quillon-host-params";
}

namespace {
std::string Key(const std::string& address, uint16_t port) { return address + ":" + std::to_string(port); }

// One line per camera: key, then the four values, tab-separated (values never hold tabs).
std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}
}  // namespace

std::vector<std::string> ParameterStore::Load(const std::string& address, uint16_t port) const {
    std::ifstream in(path_);
    std::string line;
    const std::string key = Key(address, port);
    std::vector<std::string> found;
    while (std::getline(in, line)) {
        std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() >= 2 && fields[0] == key) found.assign(fields.begin() + 1, fields.end());
    }
    return found;
}

bool ParameterStore::Save(const std::string& address, uint16_t port, const std::vector<std::string>& parameters) const {
    std::vector<std::string> kept;
    const std::string key = Key(address, port);
    {
        std::ifstream in(path_);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields = SplitTabs(line);
            if (!fields.empty() && fields[0] != key) kept.push_back(line);
        }
    }
    std::string line = key;
    for (const std::string& value : parameters) {
        std::string clean = value;
        for (char& c : clean)
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        line += "\t" + clean;
    }
    kept.push_back(line);
    std::ofstream out(path_, std::ios::trunc);
    for (const std::string& l : kept) out << l << "\n";
    return static_cast<bool>(out);
}

}  // namespace quillon::host
