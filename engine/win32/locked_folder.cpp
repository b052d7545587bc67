// The locked folder's access list. Protected, so nothing of the temp folder's own list
// (which may admit every user) flows in; inheritable, so files made inside get it too.
#include "engine/win32/locked_folder.h"

namespace engine::win32 {

LockedFolderSecurity::LockedFolderSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        error_ = GetLastError();
        return;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user_.data(), size, &size)) error_ = GetLastError();
    CloseHandle(token);
    DWORD systemSize = sizeof system_;
    DWORD administratorsSize = sizeof administrators_;
    if (error_ == ERROR_SUCCESS && (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize) ||
                                    !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_,
                                                        &administratorsSize))) {
        error_ = GetLastError();
    }
    if (error_ != ERROR_SUCCESS) return;

    const PSID sids[3] = {system_, administrators_, reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid};
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
            SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
            SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!built) error_ = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_ACL;
}

bool CreateLockedFolder(const std::string& path, DWORD* error) {
    LockedFolderSecurity security;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security.descriptor(), FALSE};
    if (!security.ok() || !CreateDirectoryA(path.c_str(), &attributes)) {
        if (error != nullptr) *error = security.ok() ? GetLastError() : security.error();
        return false;
    }
    return true;
}

}  // namespace engine::win32
