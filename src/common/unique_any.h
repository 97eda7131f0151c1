// One owner for every kind of handle: released exactly once, on every path.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    // For calls that take an array of handles, such as WaitForMultipleObjects.
    const pointer* addressof() const noexcept { return &value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    // For out-parameters of Win32 calls: releases what is held first.
    pointer* put() noexcept
    {
        reset();
        return &value_;
    }

    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        pointer old = std::exchange(value_, value);
        if (old != Traits::invalid())
            Traits::close(old);
    }

private:
    pointer value_ = Traits::invalid();
};

namespace handle_traits {
struct hkey {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { RegCloseKey(h); }
};
struct hmodule {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { FreeLibrary(h); }
};
struct handle {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { CloseHandle(h); }
};
struct file {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { CloseHandle(h); }
};
struct find {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { FindClose(h); }
};
// A predefined root (HKEY_CLASSES_ROOT, ...) mapped to another key in this
// process with RegOverridePredefKey: released, the root is itself again.
struct root_override {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type root) noexcept { RegOverridePredefKey(root, nullptr); }
};
// A mutex that this thread owns, released by the same thread: never left
// abandoned for the next waiter. The handle itself has an owner of its own.
struct mutex_ownership {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ReleaseMutex(h); }
};
} // namespace handle_traits

using unique_hkey = unique_any<handle_traits::hkey>;
using unique_hmodule = unique_any<handle_traits::hmodule>;
using unique_handle = unique_any<handle_traits::handle>;
using unique_file = unique_any<handle_traits::file>;
using unique_find = unique_any<handle_traits::find>;
using unique_root_override = unique_any<handle_traits::root_override>;
using unique_mutex_ownership = unique_any<handle_traits::mutex_ownership>;

// The two handles that CreateProcessA returns.
struct unique_process_information {
    unique_handle process;
    unique_handle thread;
};
