// The private unpacking folder: its owner and access list, made fresh and held; the parent
// an elevated run takes; removal by handle, which deletes links as links. Test-only; Wine
// keeps no owners or lists on files, so there they are read from the descriptor as built.
#include <gtest/gtest.h>
#include <aclapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/win32/embedded_payload.h"
#include "engine/win32/locked_folder.h"
#include "engine/win32/tree_removal.h"
#include "engine/win32/unpack_location.h"
#include "tests/engine_win32/test_support.h"

namespace {

using namespace engine::win32;
using engine_test::IsWine;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }  // ASCII paths

HANDLE OpenFolder(const std::string& path) {
    return CreateFileA(path.c_str(), kHeldFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A link at link to target, as someone who can write there makes one: a junction for a
// folder, a symbolic link for a file (mklink). Wine makes neither but lists a Unix
// symbolic link as a reparse point and opens its target: the Unix ln makes that one.
bool MakeLink(const std::string& target, const std::string& link, bool folder) {
    std::wstring program = L"Z:\\bin\\ln", command;
    if (IsWine()) {
        using ToUnix = char*(CDECL*)(const WCHAR*);
        const auto toUnix = reinterpret_cast<ToUnix>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
        char* unixTarget = toUnix(Wide(target).c_str());
        const std::string slash = link.substr(0, link.rfind('\\'));
        char* unixFolder = toUnix(Wide(slash).c_str());
        command = L"/bin/ln -s " + Wide(unixTarget) + L" " + Wide(unixFolder) + L"/" + Wide(link.substr(slash.size() + 1));
        HeapFree(GetProcessHeap(), 0, unixTarget);
        HeapFree(GetProcessHeap(), 0, unixFolder);
    } else {
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        program = std::wstring(system) + L"\\cmd.exe";
        command = L"cmd /c mklink " + std::wstring(folder ? L"/J \"" : L"\"") + Wide(link) + L"\" \"" + Wide(target) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    for (int i = 0; i < 250 && GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
    return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void ExpectOnly(PACL dacl, const std::vector<WELL_KNOWN_SID_TYPE>& known, size_t count) {
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, count);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Header.AceFlags & INHERITED_ACE, 0) << "ACE " << i << " comes from the temp folder";
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
        if (i < known.size()) {
            EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, known[i])) << "ACE " << i;
        }
    }
}

TEST(EmbeddedPayload, TheLockedFolderAdmitsSystemAndAdministratorsAloneIsTheirsAndIsNeverReused) {
    LockedFolderSecurity security(RunAccount::elevated);
    ASSERT_TRUE(security.ok()) << security.error();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.descriptor(), &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the temp folder's list would flow in";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(security.descriptor(), &present, &dacl, &defaulted));
    ExpectOnly(dacl, {WinLocalSystemSid, WinBuiltinAdministratorsSid}, 2);
    PSID owner = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorOwner(security.descriptor(), &owner, &defaulted));
    ASSERT_NE(owner, nullptr) << "the owner must be set, not left to the token's default";
    EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    // Unelevated, the user is let in: that run's files are the user's anyway.
    LockedFolderSecurity asUser(RunAccount::unelevated);
    ASSERT_TRUE(asUser.ok()) << asUser.error();
    ASSERT_TRUE(GetSecurityDescriptorDacl(asUser.descriptor(), &present, &dacl, &defaulted));
    ExpectOnly(dacl, {WinLocalSystemSid, WinBuiltinAdministratorsSid}, 3);

    engine_test::ScratchDirectory scratch;
    scratch.folder("planted");  // made beforehand, as an attacker would
    HANDLE parent = OpenFolder(scratch.path());
    DWORD error = 0;
    EXPECT_EQ(CreateHeldFolder(parent, L"planted", security, &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE fresh = CreateHeldFolder(parent, L"fresh", security, &error);
    ASSERT_NE(fresh, nullptr) << error;
    // Held, it cannot be moved away for a junction to take its place.
    EXPECT_FALSE(MoveFileA(scratch.file("fresh").c_str(), scratch.file("moved").c_str()));
    EXPECT_TRUE(engine_test::WriteBytes(scratch.file("fresh") + "\\inside.txt", "made inside"));
    if (!IsWine()) {  // Wine shows an owner and a list made from the Unix owner and mode
        PSECURITY_DESCRIPTOR kept = nullptr;
        ASSERT_EQ(GetSecurityInfo(fresh, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                  nullptr, &dacl, nullptr, &kept),
                  static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
        ExpectOnly(dacl, {WinLocalSystemSid, WinBuiltinAdministratorsSid}, 2);
        LocalFree(kept);
    }
    CloseHandle(fresh);
    CloseHandle(parent);

    // This test program carries no payload: nothing to check, nothing to unpack.
    std::string failure;
    EXPECT_TRUE(CheckEmbeddedPayload(&failure)) << failure;
    EXPECT_FALSE(HasEmbeddedPayload());
    RemovePayloadFolder();
}

TEST(EmbeddedPayload, RemovalByHandleDeletesLinksAsLinksAndNeverWhatTheyLeadTo) {
    engine_test::ScratchDirectory scratch;
    const std::string canary = scratch.folder("canary");
    ASSERT_TRUE(engine_test::WriteBytes(canary + "\\keep.txt", "keep"));
    ASSERT_TRUE(SetFileAttributesA((canary + "\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(engine_test::WriteBytes(canary + "\\plain.txt", "plain"));
    const std::string tree = scratch.folder("tree");
    CreateDirectoryA((tree + "\\sub").c_str(), nullptr);
    CreateDirectoryA((tree + "\\sub\\deeper").c_str(), nullptr);
    for (const char* name : {"\\a.txt", "\\sub\\b.txt", "\\sub\\deeper\\c.txt"}) {
        ASSERT_TRUE(engine_test::WriteBytes(tree + name, "ours"));
    }
    ASSERT_TRUE(MakeLink(canary, tree + "\\link", true));              // a folder link at the top
    ASSERT_TRUE(MakeLink(canary, tree + "\\sub\\junction", true));     // and one in a sub-folder
    ASSERT_TRUE(MakeLink(canary + "\\keep.txt", tree + "\\sub\\file", false));
    const DWORD canaryAttributes = GetFileAttributesA((canary + "\\keep.txt").c_str());

    HANDLE root = OpenFolder(tree);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> left;
    const bool gone = RemoveTreeByHandle(root, Wide(tree), &left);
    CloseHandle(root);

    EXPECT_EQ(engine_test::ReadBytes(canary + "\\keep.txt"), "keep");
    EXPECT_EQ(GetFileAttributesA((canary + "\\keep.txt").c_str()), canaryAttributes);
    EXPECT_EQ(engine_test::ReadBytes(canary + "\\plain.txt"), "plain");
    for (const char* name : {"\\a.txt", "\\sub\\b.txt", "\\sub\\deeper"}) {
        EXPECT_FALSE(Exists(tree + name)) << name;
    }
    // Wine deletes a link's target's name, not the link, so it refuses to: there the links
    // stay, named as left, and the tree with them.
    EXPECT_EQ(gone, !IsWine());
    EXPECT_EQ(Exists(tree), IsWine());
    EXPECT_EQ(std::find(left.begin(), left.end(), Wide(tree + "\\link")) != left.end(), IsWine());
    SetFileAttributesA((canary + "\\keep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(EmbeddedPayload, AnElevatedRunUnpacksUnderWindowsTempWhateverItsEnvironmentSaysAndNeverThroughALink) {
    engine_test::ScratchDirectory scratch;
    const engine_test::TempDirectoryOverride pointed(scratch.path() + "\\");
    char windows[MAX_PATH];
    ASSERT_GT(GetSystemWindowsDirectoryA(windows, MAX_PATH), 0u);
    std::wstring parent;
    std::string why;
    ASSERT_TRUE(UnpackParentFor(RunAccount::elevated, &parent, &why)) << why;
    EXPECT_EQ(parent, Wide(std::string(windows) + "\\Temp\\"));
    ASSERT_TRUE(UnpackParentFor(RunAccount::unelevated, &parent, &why)) << why;
    EXPECT_EQ(parent, Wide(scratch.path() + "\\"));
    HANDLE opened = OpenUnpackParent(parent, &why);
    EXPECT_NE(opened, nullptr) << why;
    CloseHandle(opened);
    ASSERT_TRUE(MakeLink(scratch.folder("elsewhere"), scratch.file("link"), true));
    EXPECT_EQ(OpenUnpackParent(Wide(scratch.file("link") + "\\"), &why), nullptr);
    EXPECT_EQ(why, "the temporary folder is a link or not a folder");
}

}  // namespace
