// Registration of the type library that the executable carries (type library resource 1, and only that:
// no .tlb file beside it), machine-wide or per user. On 64-bit builds a "win32" entry is written beside
// "win64", so that 32-bit clients can marshal the dual interface too. Used on the main thread of
// registration runs.
#pragma once

#include "service/Registration.h"

#include <string>

namespace ovled::win32 {

class TypeLibraryRegistrar final : public service::ITypeLibraryRegistrar {
public:
    explicit TypeLibraryRegistrar(std::wstring modulePath) : m_modulePath(std::move(modulePath)) {}

    HResult Register(bool perUser) override;
    HResult Unregister(bool perUser) override;

private:
    std::wstring m_modulePath;
};

// The folder that holds a help file: the text up to and including the last '\', '/' or ':', at most
// 259 characters; empty when there is no help file.
std::wstring HelpDirectory(const std::wstring& helpFile);

} // namespace ovled::win32
