// Digital I/O base.
#include "IO/IOBase.h"

namespace velmora {

namespace {
constexpr const char* kWorkerName = "Digital Output thread";

uint32_t Count(int32_t n) { return n > 0 ? static_cast<uint32_t>(n) : 0; }
}  // namespace

CIOBase::CIOBase(IDriver* driver) : driver_(driver) {
    for (uint32_t i = 0; i < Count(driver_->GetIOCount().first); ++i) inputStates_[i] = kStateNone;
}

CIOBase::~CIOBase() {
    // The derived part is gone by now; CMobotixDigitalIO stops the worker in its own destructor.
    thread::CWorkItemThread::Stop();
}

bool CIOBase::SetSink(ipcapture::IIOEventSink* sink) {
    if (!sink) return false;
    std::lock_guard<std::mutex> lock(stateLock_);
    sink_ = sink;
    return true;
}

uint32_t CIOBase::GetInputCount() { return Count(driver_->GetIOCount().first); }
uint32_t CIOBase::GetOutputCount() { return Count(driver_->GetIOCount().second); }

void CIOBase::ResetStates() {
    const auto counts = driver_->GetIOCount();
    std::lock_guard<std::mutex> lock(stateLock_);
    outputStates_.clear();
    inputStates_.clear();
    for (uint32_t i = 0; i < Count(counts.second); ++i) outputStates_[i] = kStateNone;
    for (uint32_t i = 0; i < Count(counts.first); ++i) inputStates_[i] = kStateNone;
}

void CIOBase::ReportFailure() {
    ResetStates();
    ipcapture::IIOEventSink* sink;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        sink = sink_;
    }
    if (!sink) return;
    try {
        sink->OnFailure();
    } catch (...) {
    }
}

void CIOBase::UpdateInputs(const std::vector<int32_t>& states) {
    std::vector<std::pair<uint32_t, int32_t>> changes;
    ipcapture::IIOEventSink* sink;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        sink = sink_;
        for (uint32_t i = 0; i < states.size(); ++i) {
            auto it = inputStates_.find(i);
            if (it == inputStates_.end() || it->second == states[i]) continue;
            it->second = states[i];
            changes.emplace_back(i, states[i]);
        }
    }
    if (!sink) return;
    for (const auto& change : changes) {
        try {
            sink->OnStateChanged(change.first, change.second);
        } catch (...) {
        }
    }
}

bool CIOBase::Start() {
    const auto counts = driver_->GetIOCount();
    std::vector<int32_t> inputs(Count(counts.first), kStateLow);
    {
        // An index without an entry gets one with state 1 and no report.
        std::lock_guard<std::mutex> lock(stateLock_);
        for (uint32_t i = 0; i < inputs.size(); ++i)
            if (!inputStates_.count(i)) inputStates_[i] = kStateLow;
    }
    UpdateInputs(inputs);
    for (uint32_t i = 0; i < Count(counts.second); ++i) {
        {
            std::lock_guard<std::mutex> lock(stateLock_);
            outputStates_[i] = kStateLow;
        }
        if (!SwitchOutput(i, kStateLow)) {
            ReportFailure();
            break;
        }
    }
    if (Count(counts.second) == 0) return true;
    return thread::CWorkItemThread::Start(kWorkerName);
}

bool CIOBase::Stop() {
    thread::CWorkItemThread::Stop();
    ResetStates();
    return true;
}

bool CIOBase::SetOutput(uint32_t index, int32_t state) {
    auto* item = new CWorkItem(static_cast<int32_t>(index), state);
    if (Post(item)) return true;
    delete item;
    return false;
}

void CIOBase::Execute(IWorkItem* raw) {
    auto* item = static_cast<CWorkItem*>(raw);
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        auto it = outputStates_.find(static_cast<uint32_t>(item->index));
        if (it == outputStates_.end() || it->second == item->state) return;
        it->second = item->state;
    }
    if (!SwitchOutput(static_cast<uint32_t>(item->index), item->state)) ReportFailure();
}

std::map<uint32_t, int32_t> CIOBase::InputStates() {
    std::lock_guard<std::mutex> lock(stateLock_);
    return inputStates_;
}

std::map<uint32_t, int32_t> CIOBase::OutputStates() {
    std::lock_guard<std::mutex> lock(stateLock_);
    return outputStates_;
}

}  // namespace velmora
