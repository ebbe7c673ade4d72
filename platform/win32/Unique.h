// RAII for everything Win32 and COM hand out. One template per resource kind, with traits that say
// what "empty" is and how to close; application code never calls CloseHandle, RegCloseKey, Release
// or SysFreeString by hand.
//     UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
//     ComPtr<IDispatch> server;  CoCreateInstance(..., IID_PPV_ARGS(server.put()));
#pragma once

#include "platform/Hresult.h"

#include <windows.h>

#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace ovled::win32 {

template <class Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() noexcept = default;
    explicit Unique(Type value) noexcept : m_value(value) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : m_value(other.release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    Type get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::Invalid(); }
    Type release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) noexcept
    {
        const Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }
    // For out-parameters: releases the current value and hands out the slot.
    Type* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};

struct HandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE h) noexcept { CloseHandle(h); }
};
// For the few APIs that answer INVALID_HANDLE_VALUE on failure (CreateFileW, snapshots).
struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { CloseHandle(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static HKEY Invalid() noexcept { return nullptr; }
    static void Close(HKEY key) noexcept { RegCloseKey(key); }
};
struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static SC_HANDLE Invalid() noexcept { return nullptr; }
    static void Close(SC_HANDLE h) noexcept { CloseServiceHandle(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static HMODULE Invalid() noexcept { return nullptr; }
    static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};
struct BstrTraits {
    using Type = BSTR;
    static BSTR Invalid() noexcept { return nullptr; }
    static void Close(BSTR text) noexcept { SysFreeString(text); }
};
struct CoTaskMemTraits {
    using Type = void*;
    static void* Invalid() noexcept { return nullptr; }
    static void Close(void* memory) noexcept { CoTaskMemFree(memory); }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static HLOCAL Invalid() noexcept { return nullptr; }
    static void Close(HLOCAL memory) noexcept { LocalFree(memory); }
};
struct MappedViewTraits {
    using Type = void*;
    static void* Invalid() noexcept { return nullptr; }
    static void Close(void* view) noexcept { UnmapViewOfFile(view); }
};

// What the window manager and GDI hand out (the lighting app's windows, menus, icons, fonts, brushes).
struct WindowTraits {
    using Type = HWND;
    static HWND Invalid() noexcept { return nullptr; }
    static void Close(HWND window) noexcept { DestroyWindow(window); }
};
struct MenuTraits {
    using Type = HMENU;
    static HMENU Invalid() noexcept { return nullptr; }
    static void Close(HMENU menu) noexcept { DestroyMenu(menu); }
};
struct IconTraits {
    using Type = HICON;
    static HICON Invalid() noexcept { return nullptr; }
    static void Close(HICON icon) noexcept { DestroyIcon(icon); }
};
template <class Object>
struct GdiObjectTraits {
    using Type = Object;
    static Object Invalid() noexcept { return nullptr; }
    static void Close(Object object) noexcept { DeleteObject(object); }
};

using UniqueHandle = Unique<HandleTraits>;
using UniqueFileHandle = Unique<FileHandleTraits>;
using UniqueRegKey = Unique<RegKeyTraits>;
using UniqueServiceHandle = Unique<ServiceHandleTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueBstr = Unique<BstrTraits>;
using UniqueCoTaskMem = Unique<CoTaskMemTraits>;
using UniqueLocalMemory = Unique<LocalMemoryTraits>;
using UniqueMappedView = Unique<MappedViewTraits>;
using UniqueWindow = Unique<WindowTraits>;
using UniqueMenu = Unique<MenuTraits>;
using UniqueIcon = Unique<IconTraits>;
using UniqueFont = Unique<GdiObjectTraits<HFONT>>;
using UniqueBrush = Unique<GdiObjectTraits<HBRUSH>>;

// A COM interface pointer that owns one reference.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* raw) noexcept
    {
        ComPtr p;
        p.m_ptr = raw;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr Copy(T* raw) noexcept
    {
        if (raw)
            raw->AddRef();
        return Attach(raw);
    }
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : m_ptr(other.m_ptr)
    {
        if (m_ptr)
            m_ptr->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }
    T* detach() noexcept { return std::exchange(m_ptr, nullptr); }
    void reset() noexcept
    {
        if (T* old = std::exchange(m_ptr, nullptr))
            old->Release();
    }
    T** put() noexcept
    {
        reset();
        return &m_ptr;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept
    {
        if (!m_ptr)
            return E_POINTER;
        return m_ptr->QueryInterface(__uuidof(U), out.put_void());
    }

private:
    T* m_ptr = nullptr;
};

// A VARIANT that is cleared when it goes.
class UniqueVariant {
public:
    UniqueVariant() noexcept { VariantInit(&m_value); }
    ~UniqueVariant() { VariantClear(&m_value); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* get() noexcept { return &m_value; }
    const VARIANT* get() const noexcept { return &m_value; }
    VARIANT* operator->() noexcept { return &m_value; }
    // Clears the current value and returns the slot for an out-parameter.
    VARIANT* put() noexcept
    {
        VariantClear(&m_value);
        return &m_value;
    }
    HRESULT Clear() noexcept { return VariantClear(&m_value); }

private:
    VARIANT m_value;
};

// Access to a SAFEARRAY's data for the life of the object.
class SafeArrayDataLock {
public:
    explicit SafeArrayDataLock(SAFEARRAY* array) noexcept : m_array(array)
    {
        if (m_array && FAILED(SafeArrayAccessData(m_array, &m_data)))
            m_data = nullptr;
    }
    ~SafeArrayDataLock()
    {
        if (m_data)
            SafeArrayUnaccessData(m_array);
    }
    SafeArrayDataLock(const SafeArrayDataLock&) = delete;
    SafeArrayDataLock& operator=(const SafeArrayDataLock&) = delete;

    void* data() const noexcept { return m_data; }
    explicit operator bool() const noexcept { return m_data != nullptr; }

private:
    SAFEARRAY* m_array;
    void* m_data = nullptr;
};

// COM initialised on this thread for the life of the object (balanced only when it succeeded).
class ScopedComInit {
public:
    explicit ScopedComInit(DWORD model = COINIT_MULTITHREADED) noexcept : m_result(CoInitializeEx(nullptr, model)) {}
    ~ScopedComInit()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    HRESULT Result() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

// A Windows error code as an HRESULT (see platform/Hresult.h).
using ovled::HresultFromWin32;

} // namespace ovled::win32
