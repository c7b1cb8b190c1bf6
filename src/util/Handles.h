#pragma once
// Move-only owners for Win32 handles, one per kind, each knowing which value means "empty", and
// ScopeExit for the odd clean-up that is not a handle. Nothing is closed by hand.
#include <windows.h>

#include <utility>

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;
    UniqueHandle() = default;
    explicit UniqueHandle(Type h) : h_(h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        if (this != &o)
            Reset(o.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type Get() const { return h_; }
    bool Valid() const { return h_ != Traits::Empty(); }
    explicit operator bool() const { return Valid(); }
    Type Release() { return std::exchange(h_, Traits::Empty()); }
    void Reset(Type h = Traits::Empty())
    {
        if (Valid())
            Traits::Close(h_);
        h_ = h;
    }

private:
    Type h_ = Traits::Empty();
};

struct FileHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE means none
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct KernelHandleTraits {  // processes, threads, events: NULL means none
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
struct GlobalAtomTraits {
    using Type = ATOM;
    static Type Empty() { return 0; }
    static void Close(Type a) { GlobalDeleteAtom(a); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueGlobalAtom = UniqueHandle<GlobalAtomTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit()
    {
        if (armed_)
            f_();
    }
    void Dismiss() { armed_ = false; }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
    bool armed_ = true;
};

// A window class registered for the object's lifetime: class styles redraw on resize and take
// double clicks, the arrow cursor, the button-face background. When the class is already there
// (a second dialog opened from the first one's loop), the registration that made it unregisters it.
class ScopedWindowClass {
public:
    ScopedWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure) : instance_(instance), name_(name)
    {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = name;
        registered_ = RegisterClassExA(&wc) != 0;
    }
    ~ScopedWindowClass()
    {
        if (registered_)
            UnregisterClassA(name_, instance_);
    }
    ScopedWindowClass(const ScopedWindowClass&) = delete;
    ScopedWindowClass& operator=(const ScopedWindowClass&) = delete;

private:
    HINSTANCE instance_;
    const char* name_;
    bool registered_ = false;
};
