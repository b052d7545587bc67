// The private folder a one-file installer unpacks into: an access list of its own, not
// inherited, that admits SYSTEM, Administrators and the user of this process alone, and
// passes itself on to what is made inside. Makes folders; never opens or removes one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace engine::win32 {

// The descriptor, built from this process's token. ok() is false (error() says why)
// when the token or the SIDs cannot be had.
class LockedFolderSecurity {
public:
    LockedFolderSecurity();
    LockedFolderSecurity(const LockedFolderSecurity&) = delete;
    LockedFolderSecurity& operator=(const LockedFolderSecurity&) = delete;

    bool ok() const { return error_ == ERROR_SUCCESS; }
    DWORD error() const { return error_; }
    SECURITY_DESCRIPTOR* descriptor() { return &descriptor_; }

private:
    DWORD error_ = ERROR_SUCCESS;
    std::vector<uint8_t> user_;
    BYTE system_[SECURITY_MAX_SID_SIZE] = {};
    BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
    std::vector<uint8_t> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
};

// A new folder at path with that descriptor. Fails (ERROR_ALREADY_EXISTS) rather than
// reuse a folder that exists, whoever made it.
bool CreateLockedFolder(const std::string& path, DWORD* error);

}  // namespace engine::win32
