// TSmartPtr: the reference-counted owning handle through which the PTZ handler, the control objects
// and the preset lists share the preset file object.
#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

namespace velmora {

// At most kMaxHolders handles share one object: the counter is a signed 8-bit number. A copy taken
// while the counter is outside 1..kMaxHolders-1 is empty. The holder that brings the counter from 1
// to 0 deletes the object (through its virtual destructor) and the counter. Copying and releasing
// are safe from several threads; one handle object itself must not be assigned concurrently.
template <class T>
class TSmartPtr {
public:
    static constexpr int8_t kMaxHolders = 127;

    TSmartPtr() = default;
    // Takes ownership of object (may be null: the handle stays empty). Allocation failure of the
    // counter deletes the object and rethrows.
    explicit TSmartPtr(T* object) {
        if (!object) return;
        try {
            counter_ = new std::atomic<int8_t>(1);
        } catch (...) {
            delete object;
            throw;
        }
        object_ = object;
    }
    TSmartPtr(const TSmartPtr& other) { CopyFrom(other); }
    TSmartPtr(TSmartPtr&& other) noexcept
        : counter_(std::exchange(other.counter_, nullptr)), object_(std::exchange(other.object_, nullptr)) {}
    TSmartPtr& operator=(const TSmartPtr& other) {
        if (this != &other && !SameAs(other)) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    TSmartPtr& operator=(TSmartPtr&& other) noexcept {
        if (this != &other) {
            Release();
            counter_ = std::exchange(other.counter_, nullptr);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    virtual ~TSmartPtr() { Release(); }

    void Release() {
        std::atomic<int8_t>* counter = std::exchange(counter_, nullptr);
        T* object = std::exchange(object_, nullptr);
        if (!counter) return;
        int8_t value = counter->load();
        while (value > 0 && !counter->compare_exchange_weak(value, static_cast<int8_t>(value - 1))) {
        }
        if (value == 1) {
            delete object;
            delete counter;
        }
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    bool Empty() const { return object_ == nullptr; }
    // Same object and same counter.
    bool SameAs(const TSmartPtr& other) const { return object_ == other.object_ && counter_ == other.counter_; }
    // Holders of the shared object; 0 for an empty handle. For tests and diagnostics.
    int8_t HolderCount() const { return counter_ ? counter_->load() : 0; }

private:
    void CopyFrom(const TSmartPtr& other) {
        if (!other.counter_) return;
        int8_t value = other.counter_->load();
        // Share only while there is room for one more holder.
        while (value >= 1 && value < kMaxHolders) {
            if (other.counter_->compare_exchange_weak(value, static_cast<int8_t>(value + 1))) {
                counter_ = other.counter_;
                object_ = other.object_;
                return;
            }
        }
    }

    std::atomic<int8_t>* counter_ = nullptr;
    T* object_ = nullptr;
};

}  // namespace velmora
