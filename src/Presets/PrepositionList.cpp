// Preset list of a PTZ channel.
#include "Presets/PrepositionList.h"

#include <algorithm>

#include "Presets/WideText.h"

namespace velmora {

namespace {
constexpr const char* kInvalidNameCharacters = "&!<>'\"";
}

CPrepositionList::CPrepositionList(int32_t channel) : channel_(channel) {}

CPrepositionList::~CPrepositionList() {
    CFastMutexGuard guard(lock_);
    storage_.Release();
    names_.clear();
    order_.clear();
}

bool CPrepositionList::IsValidName(const std::string& name) {
    return !name.empty() && name.find_first_of(kInvalidNameCharacters) == std::string::npos &&
           xmltext::IsXmlText(name);
}

void CPrepositionList::SetComm(IPrepositionComm* comm) {
    CFastMutexGuard guard(lock_);
    comm_ = comm;
}

void CPrepositionList::SetCapacity(uint32_t capacity) {
    CFastMutexGuard guard(lock_);
    capacity_ = capacity;
}

uint32_t CPrepositionList::GetCapacity() {
    CFastMutexGuard guard(lock_);
    return capacity_;
}

int32_t CPrepositionList::GetCurrentIndex() {
    CFastMutexGuard guard(lock_);
    return current_;
}

bool CPrepositionList::SavePreposition(int32_t index, uint32_t slot, const std::string& name) {
    CFastMutexGuard guard(lock_);
    if (!storage_ || index < 0) return false;
    return storage_->WritePreposition(static_cast<uint32_t>(channel_), static_cast<uint32_t>(index), {name, slot});
}

bool CPrepositionList::SaveAll() {
    CFastMutexGuard guard(lock_);
    if (!storage_) return false;
    storage_->SetAutoSave(false);
    storage_->RemoveChannel(static_cast<uint32_t>(channel_));
    bool written = true;
    for (size_t i = 0; i < order_.size() && written; ++i) {
        written = storage_->WritePreposition(static_cast<uint32_t>(channel_), static_cast<uint32_t>(i),
                                             {names_[order_[i]], order_[i]});
    }
    storage_->SetAutoSave(true);
    return written;
}

void CPrepositionList::Load() {
    CFastMutexGuard guard(lock_);
    names_.clear();
    order_.clear();
    current_ = -1;
    if (!storage_) return;
    // Same outcome as reading every index below the capacity; a capacity in the millions (from a
    // malformed capability text) must not turn opening a channel into millions of lookups.
    for (uint32_t index : storage_->StoredNumbers(static_cast<uint32_t>(channel_), capacity_)) {
        PrepositionRecord record;
        if (!storage_->ReadPreposition(static_cast<uint32_t>(channel_), index, record)) continue;
        // A hand-edited file may repeat a slot or name one the camera does not have.
        if (record.slot >= capacity_ || names_.count(record.slot) != 0) continue;
        names_[record.slot] = record.name;
        order_.push_back(record.slot);
    }
}

bool CPrepositionList::SetStorage(TSmartPtr<CXMLPrepositionReader> storage) {
    CFastMutexGuard guard(lock_);
    if (!storage_.SameAs(storage)) storage_ = storage;
    if (storage_) Load();
    return static_cast<bool>(storage);
}

int32_t CPrepositionList::GetCount() {
    CFastMutexGuard guard(lock_);
    return static_cast<int32_t>(order_.size());
}

bool CPrepositionList::GetName(int32_t index, std::string& name) {
    name.clear();
    CFastMutexGuard guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= order_.size()) return false;
    name = names_[order_[static_cast<size_t>(index)]];
    return true;
}

bool CPrepositionList::GetSlot(int32_t index, uint32_t& slot) {
    CFastMutexGuard guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= order_.size()) return false;
    slot = order_[static_cast<size_t>(index)];
    return true;
}

bool CPrepositionList::FindSlot(const std::string& name, uint32_t* slot) {
    for (const auto& [key, value] : names_) {
        if (value == name) {
            *slot = key;
            return true;
        }
    }
    return false;
}

bool CPrepositionList::GotoPreposition(const std::string& name, int32_t speed) {
    if (name.empty()) return false;
    CFastMutexGuard guard(lock_);
    uint32_t slot = 0;
    if (!FindSlot(name, &slot)) return false;
    const auto found = std::find(order_.begin(), order_.end(), slot);
    if (found == order_.end()) return false;
    const int32_t index = static_cast<int32_t>(found - order_.begin());
    if (index == current_) return true;  // already there: the camera is not asked again
    if (!comm_ || !comm_->RecallPreposition(slot, name, speed)) return false;
    current_ = index;
    return true;
}

int32_t CPrepositionList::AddPreposition(const std::string& name) {
    CFastMutexGuard guard(lock_);
    if (!comm_) return kNotPossible;
    if (!IsValidName(name)) {
        // Written as it is: the name may contain percent signs.
        const std::string message = std::string("velmora::CPrepositionList::AddPreposition") +
                                    ": A preposition \"" + name + "\" cannot be added - the name is invalid.";
        comm_->DebugMessage(1, "%s", message.c_str());
        return kInvalidName;
    }
    if (current_ != -1) return RenameCurrentPreposition(name);
    if (order_.size() >= capacity_) {
        comm_->DebugMessage(1,
                            "%s: A preposition \"%s\" cannot be added. Camera supports saving not more than %u "
                            "prepositions.",
                            "velmora::CPrepositionList::AddPreposition", name.c_str(), capacity_);
        return kNoFreeSlot;
    }
    uint32_t slot = 0;
    while (slot < capacity_ && names_.count(slot) != 0) ++slot;
    if (slot >= capacity_) return kNoFreeSlot;
    if (!comm_->StorePreposition(slot, name)) return kNotPossible;
    names_[slot] = name;
    order_.push_back(slot);
    current_ = static_cast<int32_t>(order_.size()) - 1;
    return SavePreposition(current_, slot, name) ? kDone : kNotPossible;
}

int32_t CPrepositionList::RenameCurrentPreposition(const std::string& name) {
    CFastMutexGuard guard(lock_);
    if (current_ == -1) return kNotPossible;
    if (current_ < 0 || static_cast<size_t>(current_) >= order_.size()) return kInvalidName;
    const uint32_t slot = order_[static_cast<size_t>(current_)];
    const auto old = names_.find(slot);
    if (old == names_.end() || !SavePreposition(current_, slot, name)) return kNotPossible;
    if (comm_) {
        comm_->DebugMessage(3, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".",
                            "velmora::CPrepositionList::RenameCurrentPreposition", current_, old->second.c_str(),
                            name.c_str());
    }
    old->second = name;
    return kDone;
}

bool CPrepositionList::RemovePreposition(const std::string& name) {
    if (name.empty()) return false;
    CFastMutexGuard guard(lock_);
    uint32_t slot = 0;
    if (!FindSlot(name, &slot) || !comm_) return false;
    if (comm_->ErasePreposition(slot, name)) {
        names_.erase(slot);
        order_.erase(std::remove(order_.begin(), order_.end(), slot), order_.end());
    }
    current_ = -1;
    return SaveAll();
}

bool CPrepositionList::GetCurrentPrepositionName(std::string& name) {
    name.clear();
    CFastMutexGuard guard(lock_);
    if (current_ < 0 || static_cast<size_t>(current_) >= order_.size()) return false;
    name = names_[order_[static_cast<size_t>(current_)]];
    return true;
}

void CPrepositionList::ClearCurrent() {
    CFastMutexGuard guard(lock_);
    current_ = -1;
}

}  // namespace velmora
