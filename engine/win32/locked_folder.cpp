// The locked folder's descriptor and its making, by one NtCreateFile that makes and opens:
// no moment when another folder could stand at the name between making and holding.
#include "engine/win32/locked_folder.h"

#include <aclapi.h>

#include "engine/win32/nt_files.h"

namespace engine::win32 {

namespace {

std::vector<uint8_t> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS what, DWORD* error) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<uint8_t> info(size);
    if (size == 0 || !GetTokenInformation(token, what, info.data(), size, &size)) {
        *error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_SID;
        return {};
    }
    // TokenUser and TokenOwner both start with the SID's address.
    const PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                                       : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
    const auto* bytes = static_cast<const uint8_t*>(sid);
    return std::vector<uint8_t>(bytes, bytes + GetLengthSid(sid));
}

}  // namespace

LockedFolderSecurity::LockedFolderSecurity(RunAccount account) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        error_ = GetLastError();
        return;
    }
    const bool withUser = account == RunAccount::unelevated;
    if (withUser) {
        user_ = TokenSid(token, TokenUser, &error_);
        if (error_ == ERROR_SUCCESS) owner_ = TokenSid(token, TokenOwner, &error_);
    }
    CloseHandle(token);
    DWORD systemSize = sizeof system_;
    DWORD administratorsSize = sizeof administrators_;
    if (error_ == ERROR_SUCCESS && (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize) ||
                                    !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_,
                                                        &administratorsSize))) {
        error_ = GetLastError();
    }
    if (error_ != ERROR_SUCCESS) return;
    if (!withUser) owner_.assign(administrators_, administrators_ + administratorsSize);

    // Protected, so nothing of the temp folder's own list (which admits every user) flows
    // in; inheritable, so what is made inside gets it too.
    std::vector<PSID> sids = {system_, administrators_};
    if (withUser) sids.push_back(user_.data());
    DWORD aclSize = sizeof(ACL);
    for (PSID sid : sids) aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    acl_.resize(aclSize);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    bool built = InitializeAcl(acl, aclSize, ACL_REVISION) != FALSE;
    for (PSID sid : sids) {
        built = built && AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                               FILE_ALL_ACCESS, sid);
    }
    built = built && InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
            (withUser || SetSecurityDescriptorOwner(&descriptor_, owner_.data(), FALSE)) &&
            SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
            SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!built) error_ = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_ACL;
}

HANDLE CreateHeldFolder(HANDLE parent, const std::wstring& name, LockedFolderSecurity& security, DWORD* error) {
    if (!security.ok()) {
        *error = security.error();
        return nullptr;
    }
    HANDLE folder = NtOpenRelative(parent, name, kHeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, kNtFileCreate,
                                   kNtDirectoryFile, security.descriptor(), error);
    if (folder == nullptr) {
        if (*error == ERROR_FILE_EXISTS) *error = ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    DWORD attributes = 0, tag = 0;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR described = nullptr;
    if (!AttributesOf(folder, &attributes, &tag) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *error = ERROR_CANT_ACCESS_FILE;
    } else if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                               &described) != ERROR_SUCCESS ||
               owner == nullptr || (!EqualSid(owner, security.owner()) && !RunningUnderWine())) {
        *error = ERROR_INVALID_OWNER;
    } else {
        *error = ERROR_SUCCESS;
    }
    if (described != nullptr) LocalFree(described);
    if (*error == ERROR_SUCCESS) return folder;
    FILE_DISPOSITION_INFO gone = {TRUE};  // made by this call, empty: not left behind
    SetFileInformationByHandle(folder, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(folder);
    return nullptr;
}

}  // namespace engine::win32
