// Relative opens through ntdll, a KnownDLL that every process has mapped: looked up by
// name, never loaded from anywhere. Names are counted strings, so a name is never cut.
#include "engine/win32/nt_files.h"

namespace engine::win32 {

namespace {

// The few NT records this file needs, laid out as ntdll expects them on both bitnesses.
struct NtUnicodeString {
    USHORT length;  // bytes
    USHORT maximumLength;
    PWSTR buffer;
};

struct NtObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    NtUnicodeString* objectName;
    ULONG attributes;
    PVOID securityDescriptor;
    PVOID securityQualityOfService;
};

struct NtIoStatusBlock {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, NtObjectAttributes*, NtIoStatusBlock*, PLARGE_INTEGER,
                                    ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFn = ULONG(NTAPI*)(LONG);

constexpr ULONG kObjCaseInsensitive = 0x40;

struct NtApi {
    NtCreateFileFn createFile = nullptr;
    NtStatusToErrorFn toError = nullptr;
};

const NtApi& Api() {
    static const NtApi api = [] {
        NtApi found;
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
            found.createFile = reinterpret_cast<NtCreateFileFn>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
            found.toError = reinterpret_cast<NtStatusToErrorFn>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
        }
        return found;
    }();
    return api;
}

}  // namespace

HANDLE NtOpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, void* security, DWORD* error) {
    const NtApi& api = Api();
    // An empty name would open the parent itself; a long one does not fit the count.
    if (api.createFile == nullptr || api.toError == nullptr || name.empty() || name.size() > 32767 ||
        name.find(L'\\') != std::wstring::npos) {
        *error = api.createFile == nullptr ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_NAME;
        return nullptr;
    }
    std::wstring buffer = name;
    NtUnicodeString text = {static_cast<USHORT>(buffer.size() * sizeof(wchar_t)),
                            static_cast<USHORT>(buffer.size() * sizeof(wchar_t)), &buffer[0]};
    NtObjectAttributes attributes = {sizeof attributes, parent, &text, kObjCaseInsensitive, security, nullptr};
    NtIoStatusBlock io = {};
    HANDLE opened = nullptr;
    const LONG status = api.createFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                       share, disposition, options | kNtSynchronousIo | kNtOpenReparsePoint, nullptr,
                                       0);
    if (status < 0) {
        *error = api.toError(status);
        return nullptr;
    }
    return opened;
}

bool AttributesOf(HANDLE handle, DWORD* attributes, DWORD* reparseTag) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return false;
    *attributes = tag.FileAttributes;
    *reparseTag = tag.ReparseTag;
    return true;
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace engine::win32
