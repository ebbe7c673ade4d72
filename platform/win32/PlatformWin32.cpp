// Windows implementation of the platform seam.
#include "platform/Clock.h"
#include "platform/Com.h"
#include "platform/DebugOutput.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/Unique.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <string>
#include <vector>

namespace ovled::platform {

std::filesystem::path ExecutablePath()
{
    // Wide and without the 260-character limit: an install folder outside the ANSI code page, or a
    // long one, still finds its files.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path ExecutableDirectory() { return ExecutablePath().parent_path(); }

std::wstring AnsiToWide(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string WideToAnsi(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

void InitializeComForThread() noexcept
{
    // Never balanced: the firmware bridge needs COM on every thread that reaches it, for its whole life.
    (void)CoInitialize(nullptr);
}

// S_FALSE (already initialised in this mode) counts too and is balanced as well; a thread already in
// another apartment keeps it, and nothing is undone.
ComApartment::ComApartment(ApartmentKind kind) noexcept
    : m_initialized(SUCCEEDED(CoInitializeEx(
          nullptr, kind == ApartmentKind::MultiThreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED)))
{
}

ComApartment::~ComApartment()
{
    if (m_initialized)
        CoUninitialize();
}

namespace {

// winmm.dll's timeBeginPeriod and timeEndPeriod, from System32 (platform/win32/SystemLibrary.h).
using TimerPeriodFunction = UINT(WINAPI*)(UINT);
constexpr UINT kTimerNoError = 0; // TIMERR_NOERROR

TimerPeriodFunction TimerPeriod(const char* name) noexcept
{
    return win32::SystemFunction<TimerPeriodFunction>(L"winmm.dll", name);
}

} // namespace

FineTimerResolution::FineTimerResolution() noexcept
{
    static const TimerPeriodFunction begin = TimerPeriod("timeBeginPeriod");
    m_granted = begin && begin(1) == kTimerNoError;
}

FineTimerResolution::~FineTimerResolution()
{
    static const TimerPeriodFunction end = TimerPeriod("timeEndPeriod");
    if (m_granted && end)
        end(1);
}

UniqueFile OpenFileForRead(const std::filesystem::path& path)
{
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it leads to, and the link is then
    // refused. The sharing is fopen's, so a reader never keeps anyone else from the file.
    win32::UniqueFileHandle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !GetFileInformationByHandle(handle.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return nullptr;
    (void)handle.release(); // the descriptor owns it now
    std::FILE* file = _fdopen(fd, "rb");
    if (!file)
        _close(fd);
    return UniqueFile(file);
}

bool IsLink(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsReadOnlyFile(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

namespace {

// Attributes that belong to the file rather than to its content.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool UnderWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

std::vector<BYTE> SecurityOf(const std::filesystem::path& path, SECURITY_INFORMATION parts)
{
    DWORD size = 0;
    (void)GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    if (size == 0 || !GetFileSecurityW(path.c_str(), parts, descriptor.data(), size, &size))
        descriptor.clear();
    return descriptor;
}

// Gives the temporary file the DACL of the file it is to replace, as it stands there (its inherited
// entries and protection included). For the rare failure of ReplaceFileW that leaves nothing at the
// path, after which the temporary file is moved there as it is. Best effort.
void TakeOverDacl(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::vector<BYTE> descriptor = SecurityOf(from, DACL_SECURITY_INFORMATION);
    if (!descriptor.empty())
        (void)SetFileSecurityW(to.c_str(), DACL_SECURITY_INFORMATION, descriptor.data());
}

// What the ACEs of `dacl` for `sid` allow and deny of reading and writing the file's data.
struct DataRights {
    ACCESS_MASK allowed = 0;
    ACCESS_MASK denied = 0;
};

DataRights RightsOf(PACL dacl, PSID sid)
{
    DataRights rights;
    ACL_SIZE_INFORMATION size{};
    if (!dacl || !GetAclInformation(dacl, &size, sizeof size, AclSizeInformation))
        return rights;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if (EqualSid(&allowed->SidStart, sid))
                rights.allowed |= allowed->Mask & (FILE_READ_DATA | FILE_WRITE_DATA);
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
            if (EqualSid(&denied->SidStart, sid))
                rights.denied |= denied->Mask & (FILE_READ_DATA | FILE_WRITE_DATA);
        }
    }
    return rights;
}

ACCESS_MASK GenericRights(ACCESS_MASK data)
{
    return ((data & FILE_READ_DATA) ? FILE_GENERIC_READ : 0) | ((data & FILE_WRITE_DATA) ? FILE_GENERIC_WRITE : 0);
}

// Wine keeps a file's security as nothing but its Unix mode bits and maps a DACL onto them coarsely: an
// ACE for a SID of the caller's token gives its rights to the owner and the group alike, and reading
// brings executing with it (the DACL it shows for a file grants its owner read and execute together). A
// 0600 file's DACL, copied as it stood, made the new file 0770. So under Wine the temporary file is
// given only what the old file's DACL says of its owner and of everyone, reading and writing alone, and
// for the owner through an ACE that Wine applies to the owner's bits alone: one for an owner outside
// the caller's token, here the null SID (Wine changes no Unix owner for it). The group gets nothing:
// Wine's DACL does not show the group's bits, and leaving them out can only narrow, never widen.
void TakeOverModeUnderWine(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::vector<BYTE> old = SecurityOf(from, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL ownerDefaulted = FALSE;
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    if (old.empty() || !GetSecurityDescriptorOwner(old.data(), &owner, &ownerDefaulted) || !owner ||
        !GetSecurityDescriptorDacl(old.data(), &present, &dacl, &daclDefaulted) || !present || !dacl)
        return;
    BYTE world[SECURITY_MAX_SID_SIZE];
    BYTE nobody[SECURITY_MAX_SID_SIZE];
    DWORD worldSize = sizeof world;
    DWORD nobodySize = sizeof nobody;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, world, &worldSize) ||
        !CreateWellKnownSid(WinNullSid, nullptr, nobody, &nobodySize))
        return;
    const DataRights ownerRights = RightsOf(dacl, owner);
    const DataRights worldRights = RightsOf(dacl, world);
    const ACCESS_MASK everyone = worldRights.allowed & ~worldRights.denied;
    const ACCESS_MASK ownerOnly = ownerRights.allowed & ~ownerRights.denied;

    std::vector<BYTE> acl(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE));
    auto* newDacl = reinterpret_cast<PACL>(acl.data());
    if (!InitializeAcl(newDacl, static_cast<DWORD>(acl.size()), ACL_REVISION))
        return;
    // Everyone's rights reach the owner too, unless denied first.
    bool ok = true;
    if (everyone & ~ownerOnly)
        ok = ok && AddAccessDeniedAce(newDacl, ACL_REVISION, GenericRights(everyone & ~ownerOnly), nobody);
    if (ownerOnly)
        ok = ok && AddAccessAllowedAce(newDacl, ACL_REVISION, GenericRights(ownerOnly), nobody);
    if (everyone)
        ok = ok && AddAccessAllowedAce(newDacl, ACL_REVISION, GenericRights(everyone), world);
    SECURITY_DESCRIPTOR descriptor;
    if (ok && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorOwner(&descriptor, nobody, FALSE) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, newDacl, FALSE))
        (void)SetFileSecurityW(to.c_str(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &descriptor);
}

bool Exists(const std::filesystem::path& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Puts the written temporary file in place of `path` in one step, keeping what belongs to the file:
// an installer's grant to users, the hidden or system attribute. A rename alone would leave the new
// file with the temporary file's inherited ACL and owner. ReplaceFileW keeps the replaced file's
// security and attributes on Windows (and its owner and streams). Wine's ReplaceFileW does not, and
// deletes what a Unix symbolic link at the path leads to (Wine shows such a link as that file, so it
// cannot be told from one): there the attributes and the mode go onto the temporary file first, and a
// rename puts it in place, which replaces only the directory entry. A missing file (the first save) is
// moved into place.
bool MoveOver(const std::filesystem::path& temp, const std::filesystem::path& path)
{
    constexpr DWORD kMoveFlags = MOVEFILE_WRITE_THROUGH;
    if (!Exists(path))
        return MoveFileExW(temp.c_str(), path.c_str(), kMoveFlags) != FALSE;
    // Attributes first: the security that follows may no longer let us change them.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        (void)SetFileAttributesW(temp.c_str(), attributes & kKeptAttributes);
    if (UnderWine()) {
        TakeOverModeUnderWine(path, temp);
        // Wine's rename replaces a file marked read-only, and a mark made after the last look would go
        // with the old file, so that every later save went through too. The old file cannot be held open
        // across the rename (Wine refuses to replace an open file), so a second name for it, a hard link,
        // is: a mark it got meanwhile goes onto the new file, as if this save had landed just before the
        // mark. Then the second name goes (a read-only file cannot be deleted; the old file's mark goes
        // first). Only a rename that fails after a mark leaves that name behind, read-only.
        static std::atomic<unsigned> witnesses{0};
        auto witness = path;
        witness += L".old-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(witnesses++);
        const bool held = CreateHardLinkW(witness.c_str(), path.c_str(), nullptr) != FALSE;
        const bool moved =
            MoveFileExW(temp.c_str(), path.c_str(), kMoveFlags | MOVEFILE_REPLACE_EXISTING) != FALSE;
        if (held) {
            const DWORD old = GetFileAttributesW(witness.c_str());
            if (moved && old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY)) {
                const DWORD now = GetFileAttributesW(path.c_str());
                if (now != INVALID_FILE_ATTRIBUTES)
                    (void)SetFileAttributesW(path.c_str(), now | FILE_ATTRIBUTE_READONLY);
                (void)SetFileAttributesW(witness.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
            }
            (void)DeleteFileW(witness.c_str());
        }
        return moved;
    }
    TakeOverDacl(path, temp);
    if (ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    // Most failures leave the old file as it was. Some leave nothing at the path: a file deleted since it
    // was looked at, and, without a backup name, a replacement that could not be moved after the old file
    // had been moved away (ERROR_UNABLE_TO_MOVE_REPLACEMENT and _2). The new content then goes there.
    return !Exists(path) && MoveFileExW(temp.c_str(), path.c_str(), kMoveFlags) != FALSE;
}

} // namespace

bool ReplaceFileContents(const std::filesystem::path& path, const std::function<bool(std::FILE*)>& write)
{
    if (IsReadOnlyFile(path) || IsLink(path))
        return false;
    static std::atomic<unsigned> counter{0};
    auto temp = path;
    temp += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);

    // CREATE_NEW: whatever already has the temporary name (a link planted there included) is never
    // opened, let alone truncated.
    win32::UniqueFileHandle handle(
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        handle.reset();
        DeleteFileW(temp.c_str());
        return false;
    }
    (void)handle.release(); // the descriptor owns it now
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        DeleteFileW(temp.c_str());
        return false;
    }
    bool ok = write(file);
    ok = std::fflush(file) == 0 && ok;
    ok = _commit(_fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    // Made read-only while the temporary file was written and flushed (which may take a while): Windows
    // would refuse the replace, Wine does not, so this is the last look (MoveOver keeps a later mark).
    ok = ok && !IsReadOnlyFile(path);
    if (ok && MoveOver(temp, path))
        return true;
    // A whole temporary file that could not be moved onto an empty path is the only copy of the
    // settings: it stays.
    if (!ok || Exists(path))
        DeleteFileW(temp.c_str());
    return false;
}

bool MoveAside(const std::filesystem::path& from, const std::filesystem::path& to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists; a link is renamed as it is.
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

namespace {

class OutputDebugStringOutput final : public IDebugOutput {
public:
    void Write(std::wstring_view text) noexcept override
    {
        try {
            OutputDebugStringW(std::wstring(text).c_str());
        } catch (...) {
        }
    }
};

} // namespace

IDebugOutput& DefaultDebugOutput() noexcept
{
    static OutputDebugStringOutput output;
    return output;
}

} // namespace ovled::platform
