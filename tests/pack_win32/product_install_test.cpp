// Wine tests of an installer made without code: kelvane-pack turns a payload tree and a
// product file into one file, which installs quietly, is found in the installed-apps
// list, uninstalls through the command line that list gives a deployment tool, and puts
// everything back when it fails half-way.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/engine_win32/test_support.h"
#include "tests/modtest_win32/run_support.h"

namespace {

using modtest_test::BinDirectory;

const wchar_t kAppsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvane.Test.Product";
const wchar_t kProductKey[] = L"Software\\Kelvane Tests\\Product";
const wchar_t kSharedKey[] = L"Software\\Kelvane Tests\\Shared";
const wchar_t kEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Three levels, blanks, letters outside ASCII, a 0-byte file; "empty" stays empty.
const std::vector<std::pair<std::wstring, std::string>> kPayload = {
    {L"bin\\app.exe", "not really a program"},
    {L"bin\\tools\\deep file \u00e9t\u00e9.txt", std::string(70000, 'd')},
    {L"docs\\read me.txt", "read me\r\n"},
    {L"docs\\\u00dcn\u00efc\u00f6d\u00e9 \u540d\u524d.txt", "unicode"},
    {L"zero.dat", ""},
};

const char kProduct[] =
    "PRODUCT_ID=Kelvane.Test.Product\r\n"
    "NAME=Kelvane Test Product\r\n"
    "VERSION=1.2.3\r\n"
    "PUBLISHER=Kelvane Tests\r\n"
    "URL=https://example.invalid/kelvane\r\n"
    "ICON=bin\\app.exe\r\n"
    "SHORTCUT1=startmenu|Kelvane Tests\\Test Product|{app}\\bin\\app.exe|--from-menu|\r\n"
    "SHORTCUT2=desktop|Test Product|{app}\\bin\\app.exe||{app}\\bin\\app.exe,0\r\n"
    "REG1=HKLM|Software\\Kelvane Tests\\Product|InstallDir|string|{app}\r\n"
    "REG2=HKLM|Software\\Kelvane Tests\\Product|Build|dword|0x2A\r\n"
    "REG3=HKLM|Software\\Kelvane Tests\\Shared|Greeting|string|installed\r\n"
    "PATH={app}\\bin\r\n";

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return wide;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                                nullptr) && written == bytes.size());
    CloseHandle(file);
    return ok;
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

// A string value, "(none)" when absent; a DWORD as its decimal text.
std::wstring RegText(const wchar_t* key, const wchar_t* name) {
    wchar_t data[2048];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS) {
        return L"(none)";
    }
    if (type == REG_DWORD) {
        DWORD number = 0;
        memcpy(&number, data, sizeof number);
        return std::to_wstring(number);
    }
    return std::wstring(data);
}

bool KeyExists(const wchar_t* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

void SetGreeting(const wchar_t* text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), 0);
    RegSetValueExW(key, L"Greeting", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring KnownFolder(int csidl) {
    wchar_t path[MAX_PATH];
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path)) ? path : L"(unknown)";
}

// A link's target and arguments, through the shell's own reader.
std::wstring ReadLink(const std::wstring& link) {
    IShellLinkW* shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell)))) {
        return L"(no shell link)";
    }
    std::wstring result = L"(unreadable)";
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t target[MAX_PATH] = L"";
        wchar_t arguments[MAX_PATH] = L"";
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shell->GetPath(target, MAX_PATH, nullptr, 0)) &&
            SUCCEEDED(shell->GetArguments(arguments, MAX_PATH))) {
            result = std::wstring(target) + L" " + arguments;
        }
        file->Release();
    }
    shell->Release();
    return result;
}

// Runs a whole command line as a deployment tool would; the exit code, or ~0 when it hung.
DWORD RunCommandLine(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return ~0u - 1;
    }
    DWORD code = ~0u;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class ProductInstall : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        for (const auto& file : kPayload) {
            const std::wstring path = payload_ + L"\\" + file.first;
            MakeFolders(path.substr(0, path.rfind(L'\\')));
            ASSERT_TRUE(WriteBytes(path, file.second));
        }
        MakeFolders(payload_ + L"\\empty");
        ASSERT_TRUE(engine_test::WriteBytes(scratch_.file("product.ini"), kProduct));
        const modtest_test::ProgramRun pack = modtest_test::RunProgram(
            BinDirectory() + "kelvane-pack.exe",
            {"--product", scratch_.file("product.ini"), "--payload", scratch_.file("payload"), "--out", setup_});
        ASSERT_EQ(pack.exitCode, 0u) << pack.out << pack.err;
        SetGreeting(L"before");
    }
    void TearDown() override {
        // A product a test leaves installed goes as a deployment tool would remove it: the
        // other bitness's tests run in the same prefix after these.
        const std::wstring quiet = RegText(kAppsKey, L"QuietUninstallString");
        if (quiet != L"(none)") RunCommandLine(quiet);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Kelvane Tests");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppsKey);
        CoUninitialize();
    }

    // Packs another product beside the first: its own payload folder, product file and installer.
    std::string Pack(const std::string& name, const std::string& product,
                     const std::vector<std::pair<std::wstring, std::string>>& files) const {
        const std::wstring payload = Wide(scratch_.path()) + L"\\" + Wide(name);
        for (const auto& file : files) {
            const std::wstring path = payload + L"\\" + file.first;
            MakeFolders(path.substr(0, path.rfind(L'\\')));
            WriteBytes(path, file.second);
        }
        const std::string setup = scratch_.file(name + ".exe");
        engine_test::WriteBytes(scratch_.file(name + ".ini"), product);
        const modtest_test::ProgramRun pack = modtest_test::RunProgram(
            BinDirectory() + "kelvane-pack.exe",
            {"--product", scratch_.file(name + ".ini"), "--payload", scratch_.file(name), "--out", setup});
        EXPECT_EQ(pack.exitCode, 0u) << pack.out << pack.err;
        return setup;
    }
    DWORD Run(const std::string& setup, const std::wstring& switches) const {
        return RunCommandLine(L"\"" + Wide(setup) + L"\" /quiet /acceptlicence " + switches);
    }

    DWORD Install(const std::string& log) const {
        return RunCommandLine(L"\"" + Wide(setup_) + L"\" /quiet /acceptlicence /log=\"" + Wide(log) + L"\" \"/dir=" +
                              app_ + L"\"");
    }
    std::wstring MachinePath() const { return RegText(kEnvironmentKey, L"Path"); }

    engine_test::ScratchDirectory scratch_;
    const std::wstring payload_ = Wide(scratch_.path()) + L"\\payload";
    const std::string setup_ = scratch_.file("setup.exe");
    // Not ASCII either, and two levels that do not exist yet.
    const std::wstring app_ = Wide(scratch_.path()) + L"\\Pr\u00f6gram Files\\Test Product";
    const std::wstring startMenuLink_ = KnownFolder(CSIDL_COMMON_PROGRAMS) + L"\\Kelvane Tests\\Test Product.lnk";
    const std::wstring desktopLink_ = KnownFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Test Product.lnk";
};

TEST_F(ProductInstall, InstallsQuietlyAndTheListsUninstallCommandRemovesItAll) {
    const std::wstring pathBefore = MachinePath();
    ASSERT_EQ(Install(scratch_.file("install.log")), 0u) << engine_test::ReadBytes(scratch_.file("install.log"));

    for (const auto& file : kPayload) EXPECT_EQ(ReadBytes(app_ + L"\\" + file.first), file.second);
    EXPECT_TRUE(Exists(app_ + L"\\empty"));
    const std::wstring program = app_ + L"\\bin\\app.exe";
    EXPECT_EQ(ReadLink(startMenuLink_), program + L" --from-menu");
    EXPECT_EQ(ReadLink(desktopLink_), program + L" ");
    EXPECT_EQ(RegText(kProductKey, L"InstallDir"), app_);
    EXPECT_EQ(RegText(kProductKey, L"Build"), L"42");
    EXPECT_EQ(RegText(kSharedKey, L"Greeting"), L"installed");
    EXPECT_EQ(MachinePath(), pathBefore + L";" + app_ + L"\\bin");

    const std::wstring uninstaller = L"\"" + app_ + L"\\uninstall\\uninstall.exe\" /uninstall";
    EXPECT_EQ(RegText(kAppsKey, L"DisplayName"), L"Kelvane Test Product");
    EXPECT_EQ(RegText(kAppsKey, L"DisplayVersion"), L"1.2.3");
    EXPECT_EQ(RegText(kAppsKey, L"Publisher"), L"Kelvane Tests");
    EXPECT_EQ(RegText(kAppsKey, L"InstallLocation"), app_);
    EXPECT_EQ(RegText(kAppsKey, L"DisplayIcon"), program);
    EXPECT_EQ(RegText(kAppsKey, L"URLInfoAbout"), L"https://example.invalid/kelvane");
    EXPECT_EQ(RegText(kAppsKey, L"UninstallString"), uninstaller);
    EXPECT_EQ(RegText(kAppsKey, L"QuietUninstallString"), uninstaller + L" /quiet");
    EXPECT_EQ(RegText(kAppsKey, L"NoModify") + RegText(kAppsKey, L"NoRepair"), L"11");
    EXPECT_EQ(RegText(kAppsKey, L"InstallDate").size(), 8u);
    EXPECT_NE(RegText(kAppsKey, L"EstimatedSize"), L"(none)");

    // What a user adds stays, and so does its folder; everything installed goes.
    ASSERT_TRUE(WriteBytes(app_ + L"\\docs\\my notes.txt", "mine"));
    EXPECT_EQ(RunCommandLine(RegText(kAppsKey, L"QuietUninstallString")), 0u);
    EXPECT_EQ(ReadBytes(app_ + L"\\docs\\my notes.txt"), "mine");
    for (const auto& file : kPayload) EXPECT_FALSE(Exists(app_ + L"\\" + file.first));
    for (const wchar_t* folder : {L"\\bin", L"\\empty", L"\\uninstall"}) EXPECT_FALSE(Exists(app_ + folder)) << folder;
    EXPECT_FALSE(Exists(startMenuLink_));
    EXPECT_FALSE(Exists(startMenuLink_.substr(0, startMenuLink_.rfind(L'\\'))));
    EXPECT_FALSE(Exists(desktopLink_));
    EXPECT_FALSE(KeyExists(kAppsKey));
    EXPECT_FALSE(KeyExists(kProductKey));
    EXPECT_EQ(RegText(kSharedKey, L"Greeting"), L"before");
    EXPECT_EQ(MachinePath(), pathBefore);
}

// A folder stands where the last payload file must go: everything done before it is
// undone, the file it replaced comes back, and the log says what was undone.
TEST_F(ProductInstall, AFailureHalfWayRestoresTheStateBefore) {
    const std::wstring pathBefore = MachinePath();
    MakeFolders(app_ + L"\\docs");
    ASSERT_TRUE(WriteBytes(app_ + L"\\docs\\read me.txt", "the user's own"));
    MakeFolders(app_ + L"\\zero.dat");

    const std::string log = scratch_.file("failed.log");
    EXPECT_EQ(Install(log), 1603u);
    EXPECT_EQ(ReadBytes(app_ + L"\\docs\\read me.txt"), "the user's own");
    for (const wchar_t* gone : {L"\\bin", L"\\empty", L"\\uninstall", L"\\docs\\\u00dcn\u00efc\u00f6d\u00e9 \u540d\u524d.txt"}) {
        EXPECT_FALSE(Exists(app_ + gone)) << gone;
    }
    EXPECT_TRUE(Exists(app_ + L"\\zero.dat"));
    EXPECT_FALSE(Exists(startMenuLink_));
    EXPECT_FALSE(KeyExists(kAppsKey));
    EXPECT_FALSE(KeyExists(kProductKey));
    EXPECT_EQ(RegText(kSharedKey, L"Greeting"), L"before");
    EXPECT_EQ(MachinePath(), pathBefore);
    const std::string records = engine_test::ReadBytes(log);
    EXPECT_NE(records.find("Undone"), std::string::npos) << records;
    EXPECT_NE(records.find("Exit code 1603"), std::string::npos) << records;
}

// The second release over the first: a file dropped, one added, one changed, a shortcut
// renamed; one entry at the new version; the first release over it refused untouched;
// the second's uninstall leaves nothing of either.
TEST_F(ProductInstall, ASecondReleaseReplacesTheFirstInPlaceAndTheFirstIsRefusedOverIt) {
    ASSERT_EQ(Install(scratch_.file("v1.log")), 0u) << engine_test::ReadBytes(scratch_.file("v1.log"));
    std::string v2 = kProduct;
    v2.replace(v2.find("VERSION=1.2.3"), 13, "VERSION=2.0.0");
    v2.replace(v2.find("|Test Product|"), 14, "|Test Product 2|");
    const std::string setup2 = Pack("v2", v2, {{L"bin\\app.exe", "the second program"}, {L"bin\\new.dll", "new"},
                                               {L"docs\\read me.txt", "read me again\r\n"}, {L"zero.dat", ""}});
    ASSERT_EQ(Run(setup2, L"/log=\"" + Wide(scratch_.file("v2.log")) + L"\""), 0u)
        << engine_test::ReadBytes(scratch_.file("v2.log"));
    EXPECT_EQ(ReadBytes(app_ + L"\\bin\\app.exe"), "the second program");
    EXPECT_EQ(ReadBytes(app_ + L"\\bin\\new.dll"), "new");
    EXPECT_EQ(ReadBytes(app_ + L"\\docs\\read me.txt"), "read me again\r\n");
    EXPECT_FALSE(Exists(app_ + L"\\bin\\tools"));  // only the first release had it
    EXPECT_FALSE(Exists(desktopLink_));
    const std::wstring renamed = desktopLink_.substr(0, desktopLink_.rfind(L'\\')) + L"\\Test Product 2.lnk";
    EXPECT_EQ(ReadLink(renamed), app_ + L"\\bin\\app.exe ");
    EXPECT_EQ(RegText(kAppsKey, L"DisplayVersion"), L"2.0.0");

    const std::string journal = ReadBytes(app_ + L"\\uninstall\\journal.txt");
    EXPECT_EQ(Install(scratch_.file("v1-again.log")), 1638u);
    EXPECT_EQ(ReadBytes(app_ + L"\\uninstall\\journal.txt"), journal);
    EXPECT_EQ(ReadBytes(app_ + L"\\bin\\app.exe"), "the second program");
    EXPECT_EQ(RegText(kAppsKey, L"DisplayVersion"), L"2.0.0");

    EXPECT_EQ(RunCommandLine(RegText(kAppsKey, L"QuietUninstallString")), 0u);
    EXPECT_FALSE(Exists(app_));
    EXPECT_FALSE(Exists(renamed));
    EXPECT_EQ(RegText(kSharedKey, L"Greeting"), L"before");
}

// A program holds an installed file open without sharing: the upgrade stages the new file,
// the replacement waits among the system's pending renames, the log names it, 3010. (Wine's
// Restart Manager names no program holding a file, so /closeapplications has none to close.)
TEST_F(ProductInstall, AFileInUseWaitsForARestartAndTheRunSaysSo) {
    ASSERT_EQ(Install(scratch_.file("v1.log")), 0u);
    std::string v2 = kProduct;
    v2.replace(v2.find("VERSION=1.2.3"), 13, "VERSION=1.3.0");
    std::vector<std::pair<std::wstring, std::string>> files(kPayload.begin(), kPayload.end());
    files[0].second = "the newer program";
    const std::string setup2 = Pack("v13", v2, files);
    const std::wstring held = app_ + L"\\bin\\app.exe";
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const std::string log = scratch_.file("in-use.log");
    EXPECT_EQ(Run(setup2, L"/log=\"" + Wide(log) + L"\""), 3010u) << engine_test::ReadBytes(log);
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(held), "not really a program");  // until the restart
    wchar_t pending[32768] = L"";
    DWORD size = sizeof pending - sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                 L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending, &size);
    bool listed = false;
    std::string names;
    // Pairs of names, a deletion's second one empty: walk the whole value.
    const wchar_t* const end = pending + size / sizeof(wchar_t);
    for (const wchar_t* name = pending; name < end; name += wcslen(name) + 1) {
        listed = listed || std::wstring(name) == L"!\\??\\" + held;
        names += std::string(name, name + wcslen(name)) + "\n";
    }
    EXPECT_TRUE(listed) << names;
    EXPECT_NE(engine_test::ReadBytes(log).find("Exit code 3010"), std::string::npos);
    EXPECT_NE(engine_test::ReadBytes(log).find("app.exe"), std::string::npos);
}

// SCOPE=user: the per-user stub (no elevation asked), the user's local application data,
// the entry in the user's hive, and a clean uninstall. Wine runs every process with
// administrator rights, so the run without them is not shown here.
TEST_F(ProductInstall, APerUserProductInstallsForTheUserAndUninstallsCleanly) {
    const std::string setup = Pack("user", "PRODUCT_ID=Kelvane.Test.User\r\nNAME=Kelvane User Test\r\nVERSION=1.0\r\n"
                                           "PUBLISHER=Kelvane Tests\r\nSCOPE=user\r\n"
                                           "SHORTCUT1=startmenu|Kelvane User Test|{app}\\app.exe||\r\n",
                                   {{L"app.exe", "for one user"}});
    ASSERT_EQ(Run(setup, L""), 0u);
    const std::wstring app = KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\Kelvane User Test";
    EXPECT_EQ(ReadBytes(app + L"\\app.exe"), "for one user");
    EXPECT_TRUE(Exists(KnownFolder(CSIDL_PROGRAMS) + L"\\Kelvane User Test.lnk"));
    const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvane.Test.User";
    wchar_t quiet[1024] = L"";
    DWORD size = sizeof quiet - sizeof(wchar_t);
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, L"QuietUninstallString", RRF_RT_REG_SZ, nullptr, quiet, &size), 0);
    EXPECT_FALSE(KeyExists(key));  // not the machine's
    EXPECT_EQ(RunCommandLine(quiet), 0u);
    EXPECT_FALSE(Exists(app));
    EXPECT_FALSE(Exists(KnownFolder(CSIDL_PROGRAMS) + L"\\Kelvane User Test.lnk"));
    HKEY left = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &left), 0);
}

}  // namespace
