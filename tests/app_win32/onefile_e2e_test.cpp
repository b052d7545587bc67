// One-file installers: the sample, copied alone into an empty folder, installs from a
// private folder under %windir%\Temp (the tests run elevated) gone when it ends, starting
// nothing by its own path; a copy with a flipped payload byte refuses and writes nothing.
#include <gtest/gtest.h>
#include <aclapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver.h"

using namespace app_test;

namespace {

const char kOneFile[] = "kelvane-sample-onefile.exe";
const char kTarget[] = "C:\\Kelvane Sample\\";  // the embedded install.cfg's TARGET
const char* const kPayload[] = {"readme.txt", "licence.txt", "greeting.txt", "colours.dat", "changes.txt"};

std::string ReadAll(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// Only the installer in the folder, and the sample's target cleared.
void ShipAlone(const Installation& installation, bool damaged = false) {
    DeleteFileA((installation.dir() + "kelvane.exe").c_str());
    for (const char* name : kPayload) DeleteFileA((std::string(kTarget) + name).c_str());
    DeleteFileA((std::string(kTarget) + "uninstall.lst").c_str());
    std::string bytes = ReadAll(BinDirectory() + kOneFile);
    if (damaged) {
        // One byte in the middle of the embedded archive; its size follows the magic.
        const size_t magic = bytes.find("KVPA\x02");
        ASSERT_NE(magic, std::string::npos);
        uint64_t size = 0;
        memcpy(&size, bytes.data() + magic + 12, sizeof size);
        bytes[magic + static_cast<size_t>(size / 2)] ^= 0x20;
    }
    installation.write(kOneFile, bytes);
}

void ExpectInstalled() {
    for (const char* name : kPayload) {
        EXPECT_EQ(ReadAll(std::string(kTarget) + name), ReadAll(BinDirectory() + "kelvane-sample\\" + name)) << name;
    }
}

// Where an elevated run unpacks: never the temp folder its environment names.
std::string UnpackParent() {
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(windows, length) + "\\Temp\\" : std::string();
}

// Unpacking folders of the program in that folder, by name.
std::vector<std::string> UnpackFolders() {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((UnpackParent() + "kelvane-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do found.push_back(entry.cFileName);
    while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

// The access list of folder, as the system keeps it: protected, only SYSTEM and
// Administrators, owned by Administrators. Wine keeps no access lists on files (it shows
// one made from the Unix mode), so there only the descriptor as built is checked
// (engine_win32_test).
void ExpectLockedDown(const std::string& folder) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr) return;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                    &owner, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "inherits from the temp folder";
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AceCount, 2);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceFlags & INHERITED_ACE, 0) << "ACE " << i << " comes from the temp folder";
    }
    LocalFree(descriptor);
}

// The program removes the folder itself before it ends: nothing is left to a helper.
void ExpectGone(const std::string& folder) {
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << folder << " is still there";
}

std::string FindRecord(const Installation& installation, const std::string& prefix) {
    for (const std::string& record : installation.logRecords()) {
        if (record.rfind(prefix, 0) == 0) return record.substr(prefix.size());
    }
    return std::string();
}

}  // namespace

TEST(OneFile, CopiedAloneInstallsFromAPrivateFolderThatIsGoneAfterwards) {
    Installation installation;
    ShipAlone(installation);
    Launch launch;
    launch.program = kOneFile;
    launch.arguments = "/passive /acceptlicence";
    Program program(installation, launch);
    std::string folder;
    ASSERT_TRUE(program.waitUntil(
        [&] { return !(folder = FindRecord(installation, "Program folder: ")).empty(); }, "the module's folder"));
    EXPECT_EQ(folder.rfind(UnpackParent() + "kelvane-", 0), 0u) << folder;
    EXPECT_EQ(folder.size(), UnpackParent().size() + 8 + 32 + 1) << "an unguessable name: " << folder;
    ExpectLockedDown(folder);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
    ExpectInstalled();
    ExpectGone(folder);

    // Interactively, the same installer from its own pages to the log question.
    ShipAlone(installation);
    Program again(installation, Launch{kOneFile, "", false});
    const HWND dialog = AcceptLicence(again, false);
    ASSERT_NE(dialog, nullptr);
    Click(GetDlgItem(dialog, 1001));
    // While it runs, its file is renamed and another program put at its path: whatever
    // the end does, it must not start that one (elevated, as the installer is).
    ASSERT_TRUE(again.waitUntil([] { return !UnpackFolders().empty(); }, "the unpacking folder"));
    ASSERT_TRUE(MoveFileA((installation.dir() + kOneFile).c_str(), (installation.dir() + "renamed.exe").c_str()));
    installation.copyFromBin("kvtest_marker.exe", kOneFile);
    again.answer("Installation finished.", "kelvane-sample-onefile");
    again.answer("View Log install", "Log", IDNO);
    ASSERT_TRUE(again.waitExit(code));
    EXPECT_EQ(code, 512u);
    ExpectInstalled();
    EXPECT_TRUE(UnpackFolders().empty());
    Sleep(1000);  // a process started at the end would have left its marker by now
    EXPECT_FALSE(installation.exists("marker-ran.txt"));
}

TEST(OneFile, ADamagedInstallerSaysSoWritesNothingAndEndsWith1603) {
    Installation installation;
    ShipAlone(installation, true);
    Program program(installation, Launch{kOneFile, "", false});
    const MessageBoxSeen box = program.waitMessageBox();
    EXPECT_EQ(box.caption, "kelvane-sample-onefile");
    EXPECT_EQ(box.text, "The installer is damaged: the archive's SHA-256 does not match its contents. Please download it again.");
    program.answer(box.text, box.caption);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 1603u);

    Launch quiet{kOneFile, "/quiet /acceptlicence", true};
    Program unattended(installation, quiet);
    std::vector<std::string> windows;
    ASSERT_TRUE(unattended.waitExitWatchingWindows(code, windows));
    EXPECT_EQ(code, 1603u);
    EXPECT_TRUE(windows.empty());
    EXPECT_FALSE(FindRecord(installation, "Message box \"kelvane-sample-onefile\": The installer is damaged").empty());
    EXPECT_EQ(installation.logRecords().back(), "Exit code 1603: the installation failed");
    EXPECT_TRUE(UnpackFolders().empty());
    EXPECT_EQ(ReadAll(std::string(kTarget) + "readme.txt"), "(missing)");
}
