// Owners of Win32 handles that close them when they go out of scope, so no
// path through a function can forget one. Each kind names its empty value and
// how it is closed.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class Scoped {
public:
    using Handle = typename Traits::Handle;

    Scoped() = default;
    explicit Scoped(Handle handle) : handle_(handle) {}
    ~Scoped() { reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : handle_(other.release()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const { return handle_; }
    explicit operator bool() const { return Traits::Valid(handle_); }

    // Closes what is held and takes handle instead.
    void reset(Handle handle = Traits::Empty()) {
        if (Traits::Valid(handle_)) Traits::Close(handle_);
        handle_ = handle;
    }
    // Gives up ownership without closing.
    Handle release() { return std::exchange(handle_, Traits::Empty()); }

private:
    Handle handle_ = Traits::Empty();
};

namespace scoped_traits {

// Handles whose "none" is null, closed by the function CloseFn.
template <typename T, auto CloseFn>
struct NullIsEmpty {
    using Handle = T;
    static Handle Empty() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { CloseFn(h); }
};

// Kernel objects: threads, events, files (null and INVALID_HANDLE_VALUE are
// both "none": functions differ in which they answer on failure).
struct Kernel : NullIsEmpty<HANDLE, &CloseHandle> {
    static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
};

}  // namespace scoped_traits

using ScopedHandle = Scoped<scoped_traits::Kernel>;
template <typename T>
using ScopedGdi = Scoped<scoped_traits::NullIsEmpty<T, &DeleteObject>>;
using ScopedIcon = Scoped<scoped_traits::NullIsEmpty<HICON, &DestroyIcon>>;
using ScopedMemoryDc = Scoped<scoped_traits::NullIsEmpty<HDC, &DeleteDC>>;
using ScopedModule = Scoped<scoped_traits::NullIsEmpty<HMODULE, &FreeLibrary>>;
