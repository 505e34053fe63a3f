// Base of the program's managers: created holding one reference, destroyed
// when the last one is released.
#pragma once

#include <cstdint>

class IRefCount {
public:
    IRefCount() = default;
    IRefCount(const IRefCount&) = delete;
    IRefCount& operator=(const IRefCount&) = delete;

    void AddRef() { ++refCount_; }
    void Release() {
        if (--refCount_ == 0) delete this;
    }

protected:
    virtual ~IRefCount() = default;

private:
    int32_t refCount_ = 1;
};
