// Existence and size check of a settings file.
#include "Presets/PruvoFileBase.h"

namespace velmora {

bool CPruvoFileBase::Open() {
    Close();
    file_.open(fileName_, std::ios::in | std::ios::binary);
    opened_ = file_.is_open();
    return opened_;
}

uint64_t CPruvoFileBase::Size() {
    if (!opened_) return 0;
    file_.clear();
    file_.seekg(0, std::ios::end);
    const std::streamoff end = file_.tellg();
    file_.seekg(0, std::ios::beg);
    // A directory opens on some systems but has no readable size.
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

void CPruvoFileBase::Close() {
    if (file_.is_open()) file_.close();
    opened_ = false;
}

}  // namespace velmora
