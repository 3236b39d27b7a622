// PTZ handler: per-channel control objects and the shared preset file.
#include "PTZ/BasePTZHandler.h"

#include <new>

#include "Web/ResultDef.h"
#include "Web/TextUtils.h"

namespace velmora {

CBasePTZHandler::CBasePTZHandler(IDriver* driver, uint32_t channelCount, std::string vendorName)
    : driver_(driver), channelCount_(channelCount), vendorName_(std::move(vendorName)) {}

CBasePTZHandler::~CBasePTZHandler() {
    CBasePTZHandler::DeleteControls();
    storage_.Release();
}

void CBasePTZHandler::DeleteControls() {
    for (auto& [channel, control] : controls_) delete control;
    controls_.clear();
}

IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(uint32_t channel) {
    if (channel >= channelCount_) return nullptr;
    const auto found = controls_.find(channel);
    if (found != controls_.end() && found->second) return found->second;
    if (vendorName_.empty()) return nullptr;
    if (!storage_ && !InitializeXMLStorage()) return nullptr;

    CBasePTZControl* control = CreatePTZControl(channel);
    if (!control) return nullptr;
    if (!control->Open(storage_)) {
        delete control;
        return nullptr;
    }
    controls_[channel] = control;
    return control;
}

bool CBasePTZHandler::InitializeXMLStorage() {
    constexpr const char* kName = "velmora::CBasePTZHandler::InitializeXMLStorage";
    const std::string fileName = GetXMLStorageFileName();
    CResultDef result;
    if (fileName.empty()) {
        result = CResultDef(1, CResultDef::kInvalidCommand,
                            Utils::FormatString("%s: PTZ module cannot be initialized! Name of file for preset storing "
                                                "was not defined",
                                                kName));
    } else {
        try {
            storage_ = TSmartPtr<CXMLPrepositionReader>(new CXMLPrepositionReader(vendorName_));
        } catch (const std::bad_alloc&) {
            storage_.Release();
        }
        if (!storage_) {
            result = CResultDef(1, CResultDef::kOutOfMemory,
                                Utils::FormatString("%s: not enough memory for creating CXMLPrepositionReader object", kName));
        } else {
            const bool opened = storage_->Open(fileName);
            // A file kept aside or left alone is told first, whatever the outcome.
            const CResultDef note = storage_->OpenResult();
            if (!note.message.empty() && note.level != 4) driver_->DebugMessage(note.level, "%s", note.message.c_str());
            // The reader stays held: later requests open their channels on it.
            if (!opened)
                result = CResultDef(1, CResultDef::kInputUnavailable,
                                    Utils::FormatString("%s: cannot initialize CXMLPrepositionReader object with "
                                                        "parameter \"%s\"",
                                                        kName, fileName.c_str()));
        }
    }
    if (!result.message.empty() && result.level != 4) driver_->DebugMessage(result.level, "%s", result.message.c_str());
    return result.code == CResultDef::kSuccess;
}

}  // namespace velmora
