// Unattended runs as deployment agents start them: switches, exit codes, the standard
// streams handed over, the windows that appear (or never do), the log and what was
// installed. Mostly on the sample single-file installer; a test module asks questions
// and crashes where the sample would not.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver.h"

using namespace app_test;

namespace {

const char* const kPayload[] = {"readme.txt", "licence.txt", "greeting.txt", "colours.dat", "changes.txt"};

struct Outcome {
    DWORD code = 0;
    std::vector<std::string> windows;
    std::string out;
    std::string err;
};

Outcome RunToEnd(const Installation& installation, const std::string& program, const std::string& arguments) {
    Launch launch;
    launch.program = program;
    launch.arguments = arguments;
    launch.captureStreams = true;
    Program process(installation, launch);
    Outcome run;
    EXPECT_TRUE(process.waitExitWatchingWindows(run.code, run.windows));
    run.out = process.standardOutput();
    run.err = process.standardError();
    return run;
}

void ExpectPayloadInstalled(const Installation& installation) {
    for (const char* name : kPayload) {
        EXPECT_EQ(installation.read("target\\" + std::string(name)), installation.read(name)) << name;
    }
}

bool Has(const std::vector<std::string>& records, const std::string& prefix) {
    for (const std::string& r : records) {
        if (r.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& line : lines) s += line + "\n";
    return s;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// A log's records without their time stamps.
std::vector<std::string> RecordsIn(const std::string& bytes) {
    std::vector<std::string> records;
    for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        records.push_back(bytes.substr(start, end - start).substr(std::min<size_t>(22, end - start)));
    }
    return records;
}

// Through the UTF-16 API, as a deployment agent may start it: the driver's ANSI command
// line cannot carry every character. Its log goes where the driver's runs put theirs.
DWORD RunWide(const Installation& installation, const std::wstring& arguments) {
    const std::wstring dir(installation.dir().begin(), installation.dir().end());
    std::wstring line = L"\"" + dir + L"kelvane.exe\" " + arguments;
    wchar_t saved[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);  // GetTempPath reads it before TEMP
    SetEnvironmentVariableW(L"TMP", (dir + L"temp").c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const BOOL started =
        CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup, &info);
    SetEnvironmentVariableW(L"TMP", saved);
    DWORD code = 0xDEADBEEF;
    if (!started) return code;
    if (WaitForSingleObject(info.hProcess, kTimeout) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, code);
    WaitForSingleObject(info.hProcess, kTimeout);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

}  // namespace

TEST(Unattended, QuietInstallsWithNoWindowAndALogThatOpensAndClosesTheRun) {
    Installation installation;
    const std::string target = installation.dir() + "target";
    installation.shipSample(target, "ASK_TARGET=1\r\n");
    const std::string copy = installation.dir() + "copy.log";
    const std::string arguments = "/QUIET -acceptlicence /stdout \"/log=" + copy + "\"";
    const Outcome run = RunToEnd(installation, "kelvane-sample.exe", arguments);
    EXPECT_EQ(run.code, 0u);
    EXPECT_TRUE(run.windows.empty()) << Join(run.windows);
    ExpectPayloadInstalled(installation);

    const std::vector<std::string> records = installation.logRecords();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[0], "Unattended run (quiet) of kelvane 1.0.0.1; command line: \"" + installation.dir() +
                              "kelvane-sample.exe\" " + arguments);
    EXPECT_EQ(records[1], "Running setup installation");
    EXPECT_TRUE(Has(records, "Message box \"kelvane-sample\": Installation finished. [answered OK, unattended]"));
    EXPECT_TRUE(Has(records, "Message box \"Log\": View Log install [answered No, unattended]"));
    EXPECT_FALSE(Has(records, "Input field")) << "the sample asks nothing in an unattended run";
    EXPECT_EQ(records.back(), "Exit code 0: the installation succeeded");
    EXPECT_EQ(installation.read("copy.log"), installation.read("temp\\setup-internet-gui.log"));

    EXPECT_NE(run.out.find("Sample install module for Kelvane Sample\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(not asked: unattended run)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Installation finished.\nkelvane: Message box"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nkelvane: Exit code 0: the installation succeeded\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(Unattended, PassiveShowsOnlyTheMainDialog) {
    Installation installation;
    installation.shipSample(installation.dir() + "target");
    const Outcome run = RunToEnd(installation, "kelvane-sample.exe", "/passive /acceptlicense");
    EXPECT_EQ(run.code, 0u);
    EXPECT_EQ(run.windows, std::vector<std::string>{"main dialog"});
    ExpectPayloadInstalled(installation);
    EXPECT_EQ(installation.logRecords().back(), "Exit code 0: the installation succeeded");
}

// The module asks three questions and waits for a key, holds the run open, and a second
// run is refused meanwhile; standard output holds what the console shows, red apart.
TEST(Unattended, PassiveAnswersQuestionsMirrorsTheConsoleAndHoldsOffASecondRun) {
    Installation installation;
    installation.writeSetup("Asking Program", "kvtest.dll");
    const std::string event = "kvtest-unattended-" + std::to_string(GetCurrentProcessId());
    installation.addModule("kvtest_cdecl.dll", "kvtest.dll",
                           "INPUTS=3\r\nWAITKEY=1\r\nPRINTENV=1\r\nREDLINE=1\r\nWAIT=" + event + "\r\n");
    installation.write("answers.txt", "first answer\r\nsecond\r\n");
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
    Launch launch;
    launch.arguments = "/passive /acceptlicence /stdout /answers=answers.txt";
    launch.captureStreams = true;
    Program program(installation, launch);
    ASSERT_TRUE(program.waitUntil([&] { return installation.exists("waiting.txt"); }, "the module's wait"));

    const HWND dialog = program.waitMainDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(program.topWindows(), std::vector<HWND>{dialog});
    const ConsoleView view = program.readConsole(GetDlgItem(dialog, 1000));
    for (const char* shown : {"KELVANE_UI=passive", "question 1: first answer", "answer 1 (1): [first answer]",
                              "answer 2 (1): [second]", "answer 3 (1): [default 3]", "key 13"}) {
        int r = 0, c = 0;
        EXPECT_TRUE(view.find(shown, r, c)) << shown << "\n" << view.text();
    }
    std::vector<std::string> consoleLines;  // what the console shows, red rows apart
    for (int r = 0; r < view.rows; ++r) {
        if (view.attribute(r, 0) != 0x04) consoleLines.push_back(view.row(r));
    }
    while (!consoleLines.empty() && consoleLines.back().empty()) consoleLines.pop_back();
    std::vector<std::string> mirrored;
    for (const std::string& line : Lines(program.standardOutput())) {
        if (line.rfind("kelvane: ", 0) != 0) mirrored.push_back(line);
    }
    EXPECT_EQ(Join(mirrored), Join(consoleLines));
    EXPECT_EQ(program.standardError(), "alarm in red\n");

    // Regression: the refused run wrote nothing to the log the first one held open.
    const std::string secondArguments = "/quiet /acceptlicence /stdout /log=second.log";
    const Outcome second = RunToEnd(installation, "kelvane.exe", secondArguments);
    EXPECT_EQ(second.code, 1618u);
    EXPECT_NE(second.out.find("kelvane: Exit code 1618: another kelvane installation is running"), std::string::npos)
        << second.out;
    const std::vector<std::string> refused = {
        "Unattended run (quiet) of kelvane 1.0.0.1; command line: \"" + installation.dir() + "kelvane.exe\" " +
            secondArguments,
        "Running setup installation", "Another kelvane installation is running: nothing was installed",
        "Exit code 1618: another kelvane installation is running"};
    EXPECT_EQ(Join(RecordsIn(installation.read("second.log"))), Join(refused));

    SetEvent(release);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    CloseHandle(release);
    EXPECT_EQ(code, 0u);
    const std::vector<std::string> records = installation.logRecords();
    for (const std::string& record : refused) EXPECT_TRUE(Has(records, record)) << record;
    EXPECT_TRUE(Has(records, "Message box: Ini taked [answered OK, unattended]"));
    // Answers may be passwords: their length is logged, never their text (the test
    // module prints them back itself).
    const std::string given = "Input field: answer 1 of 2 from the answers file (12 characters)";
    EXPECT_NE(std::find(records.begin(), records.end(), given), records.end());
    EXPECT_TRUE(Has(records, "Input field: no answer left in the answers file; the field's text is kept"));
    EXPECT_EQ(records.back(), "Exit code 0: the installation succeeded");
}

TEST(Unattended, RefusalsAndFailuresEndWithTheirCodesAndSayWhy) {
    struct Case {
        const char* name;
        std::string arguments;
        std::string extraConfig;
        bool removeModule;
        DWORD code;
        std::string logged;  // a record that starts so; empty: no log expected
        std::string err;     // in the standard error
    };
    const Case cases[] = {
        {"no acceptance", "/quiet /log=copy.log", "", false, 1602, "The licence was not accepted", ""},
        {"unknown switch", "/quiet /acceptlicence /bogus", "", false, 87, "", "Unknown switch: /bogus"},
        {"two modes", "-passive /quiet /acceptlicence", "", false, 87, "", "Usage:"},
        {"plain word", "/quiet acceptlicence", "", false, 87, "", "Not a switch (switches start with / or -): acceptlicence"},
        {"module fails", "/quiet /acceptlicence", "FILE6=missing.txt\r\n", false, 1603,
         "Message box \"kelvane-sample\": Installation failure. [answered OK, unattended]", ""},
        {"module missing", "/quiet /acceptlicence", "", true, 1603, "Can't load file ", ""},
        {"answers missing", "/quiet /acceptlicence /answers=nowhere.txt", "", false, 1603, "The answers file ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Installation installation;
        installation.shipSample(installation.dir() + "target", c.extraConfig);
        if (c.removeModule) DeleteFileA((installation.dir() + "sample_install_module.dll").c_str());
        const Outcome run = RunToEnd(installation, "kelvane-sample.exe", c.arguments);
        EXPECT_EQ(run.code, c.code);
        EXPECT_TRUE(run.windows.empty()) << Join(run.windows);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_FALSE(installation.exists("target\\readme.txt"));
        const std::vector<std::string> records = installation.logRecords();
        if (c.logged.empty()) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        EXPECT_TRUE(Has(records, c.logged)) << Join(records);
        EXPECT_EQ(records.back(), "Exit code " + std::to_string(c.code) + ": " +
                                      (c.code == 1602 ? "the licence was not accepted" : "the installation failed"));
    }
}

TEST(Unattended, HelpAndAnUnwritableLogCopyStillEndWell) {
    Installation installation;
    installation.shipSample(installation.dir() + "target");
    const Outcome help = RunToEnd(installation, "kelvane-sample.exe", "/?");
    EXPECT_EQ(help.code, 0u);
    EXPECT_NE(help.out.find("/acceptlicence"), std::string::npos) << help.out;
    EXPECT_TRUE(help.windows.empty()) << Join(help.windows);

    const std::string copy = installation.dir() + "no such folder\\run.log";
    const Outcome run = RunToEnd(installation, "kelvane-sample.exe", "/quiet /acceptlicence \"/log=" + copy + "\"");
    EXPECT_EQ(run.code, 0u);
    EXPECT_TRUE(installation.exists("target\\readme.txt"));
    EXPECT_TRUE(Has(installation.logRecords(), "The log copy " + copy + " cannot be written: error 3"));

    // Regression: the copy was written through a hard link, and opened by any name.
    installation.write("victim.txt", "precious");
    ASSERT_TRUE(CreateHardLinkA((installation.dir() + "linked.log").c_str(), (installation.dir() + "victim.txt").c_str(),
                                nullptr));
    for (const std::string& path : {installation.dir() + "linked.log", std::string("\\\\.\\NUL")}) {
        const Outcome refused = RunToEnd(installation, "kelvane-sample.exe", "/quiet /acceptlicence \"/log=" + path + "\"");
        EXPECT_EQ(refused.code, 0u) << path;
        EXPECT_TRUE(Has(installation.logRecords(), "The log copy " + path + " cannot be written: it is ")) << path;
        EXPECT_EQ(installation.logRecords().back(), "Exit code 0: the installation succeeded");
    }
    EXPECT_EQ(installation.read("victim.txt"), "precious");
}

// Regression: anyone could make the run guard first, refusing access, and every
// unattended run then ended with 1618, retried for ever.
TEST(Unattended, AGuardHeldByNoInstallerIsNamedAndDoesNotStopTheRun) {
    HANDLE token = nullptr;
    alignas(TOKEN_USER) BYTE me[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    LPWSTR sid = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                GetTokenInformation(token, TokenUser, me, sizeof me, &size) &&
                ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(me)->User.Sid, &sid));
    CloseHandle(token);
    const std::wstring mine = sid;
    LocalFree(sid);
    // Wine lets an owner in the token read whatever the entries say, and lets any owner
    // be set: there the squatter is Local Service.
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    const struct { std::wstring security; std::string holder; } squatters[] = {
        // Nobody may open it, the owner's implicit rights taken away too.
        {(wine ? L"O:LS" : L"O:" + mine) + L"D:(D;;GA;;;OW)(D;;GA;;;WD)", "an owner that cannot be read (error 5)"},
        {L"O:" + mine + L"D:(A;;GA;;;WD)", std::string(mine.begin(), mine.end())},
    };
    for (const auto& squatter : squatters) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(squatter.security.c_str(), SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        HANDLE guard = CreateMutexW(&attributes, FALSE, L"Global\\kelvane-installation");
        LocalFree(descriptor);
        ASSERT_NE(guard, nullptr);
        Installation installation;
        installation.shipSample(installation.dir() + "target");
        const Outcome run = RunToEnd(installation, "kelvane-sample.exe", "/quiet /acceptlicence");
        CloseHandle(guard);
        EXPECT_EQ(run.code, 0u);
        EXPECT_TRUE(Has(installation.logRecords(), "installation guard held by " + squatter.holder + ", not an installer"))
            << Join(installation.logRecords());
    }
}

TEST(Unattended, ACrashingModuleFailsTheInstallationInEveryMode) {
    Installation installation;
    installation.writeSetup("Crashing Program", "kvtest.dll");
    installation.writeDocuments();
    installation.addModule("kvtest_cdecl.dll", "kvtest.dll", "CRASH=1\r\n");
    const Outcome quiet = RunToEnd(installation, "kelvane.exe", "/quiet /acceptlicence");
    EXPECT_EQ(quiet.code, 1603u);
    EXPECT_TRUE(Has(installation.logRecords(), "The install module crashed: exception 0xC0000005 at 0x"));
    installation.write("kvtest.ini", "CRASH=2\r\n");
    EXPECT_EQ(RunToEnd(installation, "kelvane.exe", "/quiet /acceptlicence").code, 1603u);
    EXPECT_TRUE(Has(installation.logRecords(), "Unhandled exception 0xC0000005 at 0x"));
    installation.write("kvtest.ini", "CRASH=1\r\n");

    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    Click(GetDlgItem(dialog, 1001));
    program.answer("Installation failure.", "kelvane");
    const ConsoleView view = program.readConsole(GetDlgItem(dialog, 1000));
    int r = 0, c = 0;
    ASSERT_TRUE(view.find("The install module crashed: exception 0xC0000005", r, c)) << view.text();
    EXPECT_EQ(view.attribute(r, c), 0x04);
    program.answer("View Log install", "Log", IDNO);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 512u);
}

// A removal shows no pages and needs no licence; the module learns what to do and the
// /dir= path, never what the caller's environment held; an interactive one asks first.
TEST(Unattended, RemovalsNeedNoLicenceTellTheModuleAndEndWithTheirOwnCodes) {
    Installation installation;
    installation.writeSetup("Removable Program", "kvtest.dll");
    installation.addModule("kvtest_cdecl.dll", "kvtest.dll", "PRINTENV=2\r\n");
    // U+0151 is in no Western ANSI code page: only the UTF-16 line carries it.
    EXPECT_EQ(RunWide(installation, L"/uninstall /quiet /allowdowngrade -CloseApplications \"/dir=C:\\Caf\u00e9 \u0151\""),
              0u);
    EXPECT_EQ(installation.logRecords().back(), "Exit code 0: the uninstallation succeeded");
    installation.write("kvtest.ini", "PRINTENV=2\r\nRESULT=0\r\n");
    const char* const planted[] = {"KELVANE_DIR", "KELVANE_ALLOW_DOWNGRADE", "KELVANE_CLOSE_APPLICATIONS"};
    for (const char* name : planted) SetEnvironmentVariableA(name, "1");
    EXPECT_EQ(RunToEnd(installation, "kelvane.exe", "/passive /uninstall").code, 1603u);
    for (const char* name : planted) SetEnvironmentVariableA(name, nullptr);
    const std::vector<std::string> records = installation.logRecords();
    for (const char* logged : {"KELVANE_ACTION=uninstall", "KELVANE_DIR=C:\\Caf\xC3\xA9 \xC5\x91", "KELVANE_DIR absent",
                               "KELVANE_ALLOW_DOWNGRADE=1", "KELVANE_CLOSE_APPLICATIONS=1",
                               "KELVANE_ALLOW_DOWNGRADE absent", "KELVANE_CLOSE_APPLICATIONS absent",
                               "Message box \"kelvane\": Uninstallation finished. [answered OK, unattended]",
                               "Message box \"kelvane\": Uninstallation failure.",
                               "Exit code 1603: the uninstallation failed"}) {
        EXPECT_TRUE(Has(records, logged)) << logged << "\n" << Join(records);
    }
    for (const int button : {IDNO, IDYES}) {
        Program program(installation, Launch{"kelvane.exe", "/uninstall", false});
        program.answer("Ini taked", "Error");  // and no document's warning: none is loaded
        program.answer("Remove Removable Program and everything it installed from this computer?", "kelvane", button);
        if (button == IDYES) program.answer("Uninstallation failure.", "kelvane");
        if (button == IDYES) program.answer("View Log install", "Log", IDNO);
        DWORD code = 0;
        EXPECT_TRUE(program.waitExit(code) && code == (button == IDYES ? 1603u : 1602u)) << code;
    }
    EXPECT_TRUE(Has(installation.logRecords(), "The removal was not confirmed: nothing was removed"));
}

// A module's outcome becomes the code deployment tools know, only with the result it goes
// with; an interactive run keeps 512 and says what is left to do. The per-user stub names
// its elevation.
TEST(Unattended, ModuleOutcomesEndWithTheRestartAndOtherVersionCodes) {
    Installation installation;
    installation.writeSetup("Outcome Program", "kvtest.dll");
    installation.writeDocuments();
    installation.addModule("kvtest_cdecl.dll", "kvtest.dll");
    installation.copyFromBin("kelvane-user.exe", "kelvane-user.exe");
    const char kRestart[] = "Installation finished. Restart the computer to complete it.";
    const struct { const char* config; const char* program; const char* arguments; DWORD code; const char* meaning; } cases[] = {
        {"OUTCOME=3010", "kelvane.exe", "/quiet /acceptlicence /norestart", 3010,
         "the installation succeeded; a restart is needed to complete it"},
        {"OUTCOME=1638\r\nRESULT=0", "kelvane.exe", "/quiet /acceptlicence", 1638, "another version of this product is installed"},
        {"OUTCOME=1638", "kelvane-user.exe", "/passive /acceptlicence", 0, "the installation succeeded"},
        {"OUTCOME=3010\r\nRESULT=0", "kelvane.exe", "/quiet /acceptlicence", 1603, "the installation failed"},
        {"OUTCOME=3010", "kelvane.exe", "/quiet /uninstall", 3010, "the uninstallation succeeded; a restart is needed to complete it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        installation.write("kvtest.ini", c.config);
        EXPECT_EQ(RunToEnd(installation, c.program, c.arguments).code, c.code);
        EXPECT_EQ(installation.logRecords().back(), "Exit code " + std::to_string(c.code) + ": " + c.meaning);
    }
    const std::vector<std::string> records = installation.logRecords();
    EXPECT_TRUE(Has(records, "Message box \"kelvane\": " + std::string(kRestart) + " [answered OK, unattended]"));
    EXPECT_TRUE(Has(records, "A per-user installer run with administrator rights: it installs for this user only"));

    installation.write("kvtest.ini", "OUTCOME=3010");
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    Click(GetDlgItem(dialog, 1001));
    program.answer(kRestart, "kelvane");
    program.answer("View Log install", "Log", IDNO);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 512u);
}
