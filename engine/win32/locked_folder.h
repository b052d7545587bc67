// The private folders a one-file installer unpacks into: owner Administrators, an access
// list of their own, made fresh and held open from the moment they exist. Makes and holds
// folders; never opens an existing one and never removes one (tree_removal.h does).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/win32/unpack_location.h"

namespace engine::win32 {

// The descriptor for account. Elevated and SYSTEM runs: owner Administrators, set
// explicitly; an unelevated token may not name that owner, so there the owner is the
// token's own and the user joins the list. ok() is false (error() says why) when the
// token or the SIDs cannot be had.
class LockedFolderSecurity {
public:
    explicit LockedFolderSecurity(RunAccount account);
    LockedFolderSecurity(const LockedFolderSecurity&) = delete;
    LockedFolderSecurity& operator=(const LockedFolderSecurity&) = delete;

    bool ok() const { return error_ == ERROR_SUCCESS; }
    DWORD error() const { return error_; }
    SECURITY_DESCRIPTOR* descriptor() { return &descriptor_; }
    PSID owner() { return owner_.data(); }  // the owner a folder made with it must show

private:
    DWORD error_ = ERROR_SUCCESS;
    std::vector<uint8_t> user_;
    std::vector<uint8_t> owner_;
    BYTE system_[SECURITY_MAX_SID_SIZE] = {};
    BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
    std::vector<uint8_t> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
};

// The access a held folder keeps: enough to fill it, list it and remove it through itself.
constexpr ACCESS_MASK kHeldFolderAccess = DELETE | READ_CONTROL | FILE_LIST_DIRECTORY | FILE_ADD_FILE |
                                          FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                          FILE_WRITE_ATTRIBUTES;

// A new folder name (one part) under the folder parent, made with security's descriptor
// and opened by the same call, so what is held is what was made. It shares reading and
// writing but never deleting: while held nobody can rename, delete or replace it. Fails
// (ERROR_ALREADY_EXISTS) rather than open anything that exists, whoever made it; refuses
// (ERROR_INVALID_OWNER) a folder whose owner is not security.owner(), except under Wine,
// which keeps no owners on files and shows the Unix owner instead (the handle still comes
// from the create itself). Null with *error otherwise. Any thread.
HANDLE CreateHeldFolder(HANDLE parent, const std::wstring& name, LockedFolderSecurity& security, DWORD* error);

}  // namespace engine::win32
