// Base of the program's long-lived managers: created holding one reference,
// released once by whoever owns them, destroyed when the count reaches zero.
#pragma once

#include <cstdint>

class IRefCount {
public:
    IRefCount() = default;
    IRefCount(const IRefCount&) = delete;
    IRefCount& operator=(const IRefCount&) = delete;

    void AddRef() { ++refCount_; }

    // Drops one reference and deletes the object at zero; answers the count left.
    int32_t Release() {
        const int32_t left = --refCount_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~IRefCount() = default;

private:
    int32_t refCount_ = 1;
};

// Releases *object if set and clears the pointer, so a shutdown that runs
// after a failed start skips what was never created.
template <typename T>
void ReleaseAndClear(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}
