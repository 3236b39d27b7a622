// CPrepositionList: the named presets of one PTZ channel, their camera slots, the current preset,
// and their mirror in the preset file.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Presets/PrepositionComm.h"
#include "Presets/SmartPtr.h"
#include "Presets/XMLPrepositionReader.h"
#include "Thread/FastMutex.h"

namespace velmora {

// Host threads call every operation. The list's lock guards names, order, current, comm, capacity
// and the storage handle; camera calls are made with it held, so a slow camera blocks the channel's
// other preset calls (and ClearCurrent) for that time. Messages go to the comm's DebugMessage.
// Invariant: every slot in the order has a name, slots are unique and below the capacity.
class CPrepositionList {
public:
    // Result codes of AddPreposition.
    static constexpr int32_t kDone = 1;
    static constexpr int32_t kInvalidName = -3;
    static constexpr int32_t kNotPossible = -18;
    static constexpr int32_t kNoFreeSlot = -26;

    explicit CPrepositionList(int32_t channel);

    virtual bool SavePreposition(int32_t index, uint32_t slot, const std::string& name);
    virtual bool SaveAll();
    // Replaces the content with the file's. Records whose slot is not below the capacity or is
    // already taken by an earlier record are skipped.
    virtual void Load();
    virtual ~CPrepositionList();
    // Takes a copy of the handle and loads; returns whether the given handle was non-empty.
    virtual bool SetStorage(TSmartPtr<CXMLPrepositionReader> storage);
    virtual int32_t GetCount();
    virtual bool GetName(int32_t index, std::string& name);
    virtual bool GotoPreposition(const std::string& name, int32_t speed);
    // 1, -3 (invalid name), -18 (no camera, camera or file failed) or -26 (no free slot).
    virtual int32_t AddPreposition(const std::string& name);
    virtual bool RemovePreposition(const std::string& name);
    virtual bool GetCurrentPrepositionName(std::string& name);

    // Called with the lock held (the lock is recursive, so taking it again is harmless).
    int32_t RenameCurrentPreposition(const std::string& name);
    void ClearCurrent();

    // Set by the control object when it opens and closes the channel. Not owned.
    void SetComm(IPrepositionComm* comm);
    void SetCapacity(uint32_t capacity);
    uint32_t GetCapacity();
    int32_t GetCurrentIndex();
    // Slot of the preset at an index; false when there is none. For tests and diagnostics.
    bool GetSlot(int32_t index, uint32_t& slot);

    // Non-empty, none of &!<>'" and only characters an XML file can hold.
    static bool IsValidName(const std::string& name);

private:
    // Slot whose name equals name, searched in ascending slot order; false when none.
    bool FindSlot(const std::string& name, uint32_t* slot);

    int32_t channel_;
    IPrepositionComm* comm_ = nullptr;
    uint32_t capacity_ = 0;
    TSmartPtr<CXMLPrepositionReader> storage_;
    CFastMutex lock_;
    std::map<uint32_t, std::string> names_;
    std::vector<uint32_t> order_;
    int32_t current_ = -1;
};

}  // namespace velmora
