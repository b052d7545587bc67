// Command line and run set-up. Unattended runs decide here, before any window, whether
// they may install at all, and record why not: a deployment tool reads only the exit
// code and the log, so neither may be left unexplained.
#include "app/run_start.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/captions.h"
#include "console/win32/answer_source.h"
#include "engine/core/command_line.h"
#include "engine/win32/answers.h"
#include "engine/win32/embedded_payload.h"
#include "engine/win32/install_log.h"
#include "engine/win32/message_box.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/std_streams.h"

namespace app {

namespace {

using namespace engine::win32;

// One per system: held from start to end of every run, checked by unattended ones.
constexpr char kRunMutexName[] = "Global\\kelvane-installation";

bool AnswerFromFile(void*, char* line, size_t size) { return NextAnswer(line, size); }

const console::win32::ConsoleAnswerSource g_answerSource = {AnswerFromFile, nullptr};

// The usage where the caller can read it: the standard stream, else a box (never in an
// unattended run, where nobody could close it).
void ShowUsage(const char* text, bool toError, bool boxAllowed) {
    OpenStandardStreams();
    if (toError ? HasStandardError() : HasStandardOutput()) {
        (toError ? WriteStandardError : WriteStandardOutput)(text);
    } else if (boxAllowed) {
        ComputeApplicationName();
        AskUser(nullptr, text, g_applicationName, toError ? MB_OK | MB_ICONERROR : MB_OK | MB_ICONINFORMATION);
    }
}

// A bad command line does not say reliably which mode was meant; any word naming an
// unattended mode rules the box out.
bool NamesUnattendedMode(const char* commandLine) {
    const std::vector<std::string> words = engine::SplitCommandLine(commandLine);
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() < 2 || (w[0] != '/' && w[0] != '-')) continue;
        const std::string name = w.substr(1, w.find('=') == std::string::npos ? std::string::npos : w.find('=') - 1);
        if (_stricmp(name.c_str(), "quiet") == 0 || _stricmp(name.c_str(), "passive") == 0) return true;
    }
    return false;
}

// KELVANE_UI for the module, set before it is loaded: a C runtime inside the module
// takes its copy of the environment when it starts, and the host's own runtime keeps
// one too, so both the process environment and that copy get it.
void PublishUiMode(engine::UiMode mode) {
    const char* name = engine::UiModeName(mode);
    SetEnvironmentVariableA("KELVANE_UI", name);
    char assignment[32];
    snprintf(assignment, sizeof assignment, "KELVANE_UI=%s", name);
    _putenv(assignment);
}

// Held until the process ends; true when another run already held it. A mutex that
// cannot be made at all never stops an installation.
bool AnotherRunHoldsTheMutex() {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kRunMutexName);
    if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        // The name exists but this account may not open it: someone holds it.
        return true;
    }
    return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

// What the main dialog writes to the log once it has one (interactive runs).
std::string g_pendingNote;

std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = text != nullptr ? text : "";
    if (text != nullptr) LocalFree(text);
    reason = reason.substr(0, reason.find_first_of("\r\n"));
    return "error " + std::to_string(code) + (reason.empty() ? "" : " (" + reason + ")");
}

// Unattended: an exception nobody handles, on a thread the module started or anywhere
// else, ends the run as failed with its reason in the log, not as a vanished process
// whose exit code no deployment tool knows. (The entry's own thread is guarded already.)
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* pointers) {
    char report[160];
    snprintf(report, sizeof report, "Unhandled exception 0x%08lX at 0x%p on thread %lu: the installation cannot go on",
             static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode),
             pointers->ExceptionRecord->ExceptionAddress, static_cast<unsigned long>(GetCurrentThreadId()));
    EndUnattendedRun(kExitFailed, report);
}

// A one-file installer whose payload is not whole runs nothing of it: one box (logged
// and answered in an unattended run) and 1603, with nothing written to disk.
void RefuseADamagedInstaller() {
    std::string failure;
    if (CheckEmbeddedPayload(&failure)) return;
    const std::string text = "The installer is damaged: " + failure + ". Please download it again.";
    ComputeApplicationName();
    AskUser(nullptr, text.c_str(), g_applicationName, MB_OK | MB_ICONSTOP | MB_SYSTEMMODAL);
    EndRun(kExitFailed, kExitFailed, "The installer is damaged: nothing was installed");
}

void OpenUnattendedLog(const engine::CommandLineOptions& options, const char* commandLine) {
    char version[32];
    ProgramVersion(version);
    const std::string header = std::string("Unattended run (") + engine::UiModeName(options.mode) + ") of kelvane " +
                               version + "; command line: " + commandLine;
    DWORD copyError = 0;
    const bool copyOpen = options.logPath.empty() || OpenLogCopy(options.logPath.c_str(), &copyError);
    OpenInstallLog(nullptr, header.c_str());
    MirrorNote(header.c_str());
    if (!copyOpen) {
        const std::string why = "The log copy " + options.logPath + " cannot be written: " +
                                SystemErrorText(copyError) + "; the installation goes on without it";
        WriteLogLine(why.c_str());
        MirrorNote(why.c_str());
    }
}

}  // namespace

void ProgramVersion(char (&out)[32]) {
    snprintf(out, sizeof out, "unknown");
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    const DWORD size = found != nullptr ? SizeofResource(nullptr, found) : 0;
    if (bytes == nullptr) return;
    // VS_FIXEDFILEINFO starts with its signature, DWORD-aligned inside the block.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, bytes + at, sizeof info);
        if (info.dwSignature != 0xFEEF04BD) continue;
        snprintf(out, sizeof out, "%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                 HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
        return;
    }
}

void StartRun(const char* commandLine) {
    if (commandLine == nullptr) commandLine = "";
    const engine::CommandLineParse parse = engine::ParseCommandLine(commandLine);
    if (!parse.ok) {
        const std::string text = parse.error + "\r\n\r\n" + engine::kUsageText;
        ShowUsage(text.c_str(), true, !NamesUnattendedMode(commandLine));
        ExitProcess(kExitBadCommandLine);
    }
    const engine::CommandLineOptions& options = parse.options;
    if (!options.removeFolder.empty()) ExitProcess(static_cast<UINT>(RunFolderRemover(options.removeFolder)));
    if (options.help) {
        ShowUsage(engine::kUsageText, false, true);
        ExitProcess(0);
    }
    if (options.mirrorToStdout) {
        OpenStandardStreams();
        EnableConsoleMirror();
    }
    g_uiMode = options.mode;
    PublishUiMode(options.mode);
    if (!Unattended()) {
        RefuseADamagedInstaller();
        // The interactive run takes the guard too, so that an unattended one started
        // meanwhile stays out; it never refuses to run itself.
        AnotherRunHoldsTheMutex();
        DWORD copyError = 0;
        if (!options.logPath.empty() && !OpenLogCopy(options.logPath.c_str(), &copyError)) {
            g_pendingNote = "The log copy " + options.logPath + " cannot be written: " + SystemErrorText(copyError);
        }
        return;
    }

    OpenUnattendedLog(options, commandLine);
    RefuseADamagedInstaller();
    if (!options.acceptLicence) {
        EndUnattendedRun(kExitLicenceNotAccepted,
                         "The licence was not accepted (/acceptlicence was not given): nothing was installed");
    }
    if (AnotherRunHoldsTheMutex()) {
        EndUnattendedRun(kExitAlreadyRunning, "Another kelvane installation is running: nothing was installed");
    }
    if (!options.answersPath.empty()) {
        DWORD error = 0;
        if (!LoadAnswers(options.answersPath.c_str(), &error)) {
            const std::string why = "The answers file " + options.answersPath + " cannot be read: " +
                                    SystemErrorText(error) + "; nothing was installed";
            EndUnattendedRun(kExitFailed, why.c_str());
        }
    }
    console::win32::setConsoleAnswerSource(&g_answerSource);
    SetUnhandledExceptionFilter(EndOnUnhandledException);
}

void WritePendingLogNote() {
    if (g_pendingNote.empty()) return;
    WriteLogLine(g_pendingNote.c_str());
    g_pendingNote.clear();
}

void FinishRun(bool mainDialogCreated) {
    if (!Unattended()) {
        RemovePayloadFolder();
        return;
    }
    EndUnattendedRun(kExitFailed, mainDialogCreated
                                      ? "The main window closed before the installation ran: nothing was installed"
                                      : "The main window could not be created: nothing was installed");
}

}  // namespace app
