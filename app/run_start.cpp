// Command line and run set-up. Unattended runs decide here, before any window, whether
// they may install at all, and record why not: a deployment tool reads only the exit
// code and the log, so neither may be left unexplained. The command line is read as
// UTF-16 and never converted to the ANSI code page for use: that best-fit conversion
// turns some characters into quotes and slashes.
#include "app/run_start.h"
#include "app/verify_window.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/captions.h"
#include "console/win32/answer_source.h"
#include "engine/core/command_line.h"
#include "engine/win32/answers.h"
#include "engine/win32/embedded_payload.h"
#include "engine/win32/install_log.h"
#include "engine/win32/message_box.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/setup_description.h"
#include "engine/win32/std_streams.h"

namespace app {

namespace {

using namespace engine::win32;

// One per system: held from start to end of every run, checked by unattended ones.
constexpr wchar_t kRunMutexName[] = L"Global\\kelvane-installation";
// Only SYSTEM and Administrators may open it, and it belongs to Administrators; so a
// name held by anything else is not an installer's.
constexpr wchar_t kRunMutexSecurity[] = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";
// Without administrator rights the owner cannot be Administrators: the account's own.
constexpr wchar_t kRunMutexSecurityUnelevated[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)";

// UTF-16 to UTF-8; strict refuses unpaired surrogates (false), otherwise they become U+FFFD.
bool ToUtf8(const wchar_t* wide, bool strict, std::string& utf8) {
    const DWORD flags = strict ? WC_ERR_INVALID_CHARS : 0;
    utf8.clear();
    if (*wide == 0) return true;
    const int length = WideCharToMultiByte(CP_UTF8, flags, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.resize(static_cast<size_t>(length));
    if (WideCharToMultiByte(CP_UTF8, flags, wide, -1, &utf8[0], length, nullptr, nullptr) != length) return false;
    utf8.resize(static_cast<size_t>(length) - 1);
    return true;
}

// Back to UTF-16 for the system's W functions; the text came from ToUtf8.
std::wstring ToWide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

// For reading only (the log, the usage, the box): the ANSI code page of the other
// records, '?' for what it lacks, never a best-fit look-alike.
std::string ForDisplay(const std::string& utf8) {
    const std::wstring wide = ToWide(utf8);
    if (wide.empty()) return std::string();
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, "?", nullptr);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &text[0], length, "?", nullptr);
    text.resize(static_cast<size_t>(length) - 1);
    return text;
}

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

// What the module reads from the environment, set before it is loaded: a C runtime
// inside the module takes its copy of the environment when it starts, and the host's own
// runtime keeps one too, so both the process environment and that copy get the ASCII
// values. Nothing the caller's environment held under these names reaches the module.
void PublishRunEnvironment(const engine::CommandLineOptions& options) {
    const struct { const char* name; const char* value; } plain[] = {
        {"KELVANE_UI", engine::UiModeName(options.mode)},
        {"KELVANE_ACTION", options.uninstall ? "uninstall" : "install"},
    };
    for (const auto& variable : plain) {
        SetEnvironmentVariableA(variable.name, variable.value);
        char assignment[64];
        snprintf(assignment, sizeof assignment, "%s=%s", variable.name, variable.value);
        _putenv(assignment);
    }
    // The path only in the process environment, as UTF-16: the runtime's narrow copy would
    // pass it through the ANSI code page, whose best fit can turn a character into a
    // separator. An inherited value is dropped from that copy too.
    SetEnvironmentVariableW(L"KELVANE_DIR", nullptr);
    _putenv("KELVANE_DIR=");
    if (!options.installDir.empty()) SetEnvironmentVariableW(L"KELVANE_DIR", ToWide(options.installDir).c_str());
    // Set only when asked; an inherited "1" must not decide a downgrade or close programs.
    const struct { const char* name; bool on; } flags[] = {
        {"KELVANE_ALLOW_DOWNGRADE", options.allowDowngrade},
        {"KELVANE_CLOSE_APPLICATIONS", options.closeApplications},
    };
    for (const auto& flag : flags) {
        char assignment[64];
        snprintf(assignment, sizeof assignment, "%s=%s", flag.name, flag.on ? "1" : "");
        SetEnvironmentVariableA(flag.name, flag.on ? "1" : nullptr);
        _putenv(assignment);
    }
}

// The end of the refusal records, for what this run would have done.
std::string NothingDone() { return Uninstalling() ? "nothing was removed" : "nothing was installed"; }

HANDLE CreateRunMutex(const wchar_t* security) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(security, SDDL_REVISION_1, &descriptor, nullptr)) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, FALSE, kRunMutexName);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return mutex;
}

enum class RunGuard { taken, heldByAnInstaller, squatted };

// Takes the guard, held until the process ends. A name someone else made to block
// installations (refusing access, or owned by an account that is not SYSTEM or
// Administrators) gives squatted and holder says whose; a guard that cannot be made at
// all never stops an installation either.
RunGuard TakeRunGuard(std::string& holder) {
    HANDLE mutex = CreateRunMutex(kRunMutexSecurity);
    if (mutex == nullptr && GetLastError() == ERROR_INVALID_OWNER) mutex = CreateRunMutex(kRunMutexSecurityUnelevated);
    const DWORD error = GetLastError();
    if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) return RunGuard::taken;
    if (mutex == nullptr && error == ERROR_INVALID_HANDLE) {
        holder = "an object that is not a mutex";  // an event or a section made under the name
        return RunGuard::squatted;
    }
    if (mutex == nullptr && error != ERROR_ACCESS_DENIED) return RunGuard::taken;
    // An installer's guard refuses nobody with administrator rights; without them,
    // refusal proves nothing.
    if (mutex == nullptr && !RunsAsAdministrator()) return RunGuard::heldByAnInstaller;
    HANDLE readable = mutex != nullptr ? mutex : OpenMutexW(READ_CONTROL, FALSE, kRunMutexName);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD readError = readable == nullptr ? GetLastError()
                                                : GetSecurityInfo(readable, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                                                  &owner, nullptr, nullptr, nullptr, &descriptor);
    RunGuard guard = RunGuard::squatted;
    if (readError == ERROR_SUCCESS && IsSystemOrAdministrators(owner)) {
        guard = RunGuard::heldByAnInstaller;  // our handle keeps it for later runs, as the taker's does
    } else {
        holder = readError == ERROR_SUCCESS ? SidText(owner)
                                            : "an owner that cannot be read (error " + std::to_string(readError) + ")";
        if (readable != nullptr) CloseHandle(readable);  // nothing of it is kept alive by us
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    return guard;
}

std::string SquattedGuardRecord(const std::string& holder) {
    return "installation guard held by " + holder + ", not an installer";
}

// What the main dialog writes to the log once it has one (interactive runs).
std::vector<std::string> g_pendingNotes;

// Elevation changes nothing of where a per-user product goes; the log says whose it is.
constexpr char kUserScopeElevatedRecord[] =
    "A per-user installer run with administrator rights: it installs for this user only";

bool UserScopeRunElevated() { return g_userScopeStub && RunsAsAdministrator(); }

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
    double seconds = 0;
    // Only what a person watches gets the window: a quiet run shows none.
    const bool whole = CheckPayloadShowingProgress(g_uiMode != engine::UiMode::quiet, &failure, &seconds);
    if (HasEmbeddedPayload()) {
        char record[96];
        snprintf(record, sizeof record, "The installer's payload was checked in %.2f s", seconds);
        if (Unattended()) {
            WriteLogLine(record);
        } else {
            g_pendingNotes.push_back(record);  // the log opens with the main dialog
        }
    }
    if (whole) return;
    const std::string text = "The installer is damaged: " + failure + ". Please download it again.";
    ComputeApplicationName();
    AskUser(nullptr, text.c_str(), g_applicationName, MB_OK | MB_ICONSTOP | MB_SYSTEMMODAL);
    EndRun(kExitFailed, kExitFailed, "The installer is damaged: nothing was installed");
}

// Empty when the copy is open or none was asked for; else the sentence for the log.
std::string OpenTheLogCopy(const std::string& path) {
    LogCopyFailure failure;
    if (path.empty() || OpenLogCopy(ToWide(path).c_str(), &failure)) return std::string();
    return "The log copy " + ForDisplay(path) + " cannot be written: " +
           (failure.reason.empty() ? SystemErrorText(failure.error) : failure.reason);
}

void OpenUnattendedLog(const engine::CommandLineOptions& options, const std::string& commandLine) {
    char version[32];
    ProgramVersion(version);
    const std::string header = std::string("Unattended run (") + engine::UiModeName(options.mode) + ") of kelvane " +
                               version + "; command line: " + ForDisplay(commandLine);
    const std::string copyFailure = OpenTheLogCopy(options.logPath);
    OpenInstallLog(nullptr, header.c_str());
    MirrorNote(header.c_str());
    if (!copyFailure.empty()) {
        const std::string why = copyFailure + "; the installation goes on without it";
        WriteLogLine(why.c_str());
        MirrorNote(why.c_str());
    }
}

// Ends with 87 for a line that is no valid UTF-16 or has a bad word.
engine::CommandLineParse ParseOrEnd(const wchar_t* wideLine, std::string& commandLine) {
    engine::CommandLineParse parse;
    if (!ToUtf8(wideLine, true, commandLine)) {
        ToUtf8(wideLine, false, commandLine);  // enough to tell which mode was meant
        parse = engine::ParseCommandLine(commandLine.c_str());
        // Without a switch the line is ignored, as it always was, whatever it holds.
        const engine::CommandLineOptions& o = parse.options;
        if (parse.ok && o.mode == engine::UiMode::full && !o.acceptLicence && !o.mirrorToStdout && !o.help &&
            !o.uninstall && o.logPath.empty() && o.answersPath.empty() && o.installDir.empty() &&
            !o.allowDowngrade && !o.closeApplications && !o.forceRestart) {
            return parse;
        }
        parse.ok = false;
        parse.error = "The command line is not valid UTF-16";
    } else {
        parse = engine::ParseCommandLine(commandLine.c_str());
    }
    if (!parse.ok) {
        // A bad line does not say reliably which mode was meant; any word naming an
        // unattended one rules the box out.
        const std::string text = ForDisplay(parse.error) + "\r\n\r\n" + engine::kUsageText;
        ShowUsage(text.c_str(), true, !engine::NamesUnattendedMode(commandLine.c_str()));
        ExitProcess(kExitBadCommandLine);
    }
    return parse;
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

void StartRun(const wchar_t* wideCommandLine) {
    std::string commandLine;
    const engine::CommandLineParse parse = ParseOrEnd(wideCommandLine == nullptr ? L"" : wideCommandLine, commandLine);
    const engine::CommandLineOptions& options = parse.options;
    if (options.help) {
        ShowUsage(engine::kUsageText, false, true);
        ExitProcess(0);
    }
    if (options.mirrorToStdout) {
        OpenStandardStreams();
        EnableConsoleMirror();
    }
    g_uiMode = options.mode;
    g_uninstalling = options.uninstall;
    g_forceRestart = options.forceRestart;
    PublishRunEnvironment(options);
    if (!Unattended()) {
        RefuseADamagedInstaller();
        // The interactive run takes the guard too, so that an unattended one started
        // meanwhile stays out; it never refuses to run itself.
        std::string holder;
        if (TakeRunGuard(holder) == RunGuard::squatted) g_pendingNotes.push_back(SquattedGuardRecord(holder));
        if (UserScopeRunElevated()) g_pendingNotes.push_back(kUserScopeElevatedRecord);
        const std::string copyFailure = OpenTheLogCopy(options.logPath);
        if (!copyFailure.empty()) g_pendingNotes.push_back(copyFailure);
        return;
    }

    OpenUnattendedLog(options, commandLine);
    if (UserScopeRunElevated()) {
        WriteLogLine(kUserScopeElevatedRecord);
        MirrorNote(kUserScopeElevatedRecord);
    }
    RefuseADamagedInstaller();
    if (engine::NeedsLicenceAcceptance(options) && !options.acceptLicence) {
        EndUnattendedRun(kExitLicenceNotAccepted,
                         "The licence was not accepted (/acceptlicence was not given): nothing was installed");
    }
    std::string holder;
    const RunGuard guard = TakeRunGuard(holder);
    if (guard == RunGuard::heldByAnInstaller) {
        EndUnattendedRun(kExitAlreadyRunning, ("Another kelvane installation is running: " + NothingDone()).c_str());
    }
    if (guard == RunGuard::squatted) {
        // Waiting for it would end every run with 1618, retried for ever: it blocks nothing.
        const std::string record = SquattedGuardRecord(holder);
        WriteLogLine(record.c_str());
        MirrorNote(record.c_str());
    }
    if (!options.answersPath.empty()) {
        DWORD error = 0;
        if (!LoadAnswers(ToWide(options.answersPath).c_str(), &error)) {
            const std::string why = "The answers file " + ForDisplay(options.answersPath) + " cannot be read: " +
                                    SystemErrorText(error) + "; " + NothingDone();
            EndUnattendedRun(kExitFailed, why.c_str());
        }
    }
    console::win32::setConsoleAnswerSource(&g_answerSource);
    SetUnhandledExceptionFilter(EndOnUnhandledException);
}

void WritePendingLogNote() {
    for (const std::string& note : g_pendingNotes) WriteLogLine(note.c_str());
    g_pendingNotes.clear();
}

void FinishRun(bool mainDialogCreated) {
    if (!Unattended() && !Uninstalling()) {
        RemovePayloadFolder();
        return;
    }
    const char* run = Uninstalling() ? "uninstallation" : "installation";
    const std::string why = (mainDialogCreated ? std::string("The main window closed before the ") + run + " ran: "
                                               : std::string("The main window could not be created: ")) +
                            NothingDone();
    EndRun(kExitFailed, kExitFailed, why.c_str());
}

void LeaveCurrentFolder() {
    // Started by double-clicking it, an uninstaller's current folder is the one it must
    // remove; once the setup description is read, nothing is read from there.
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) SetCurrentDirectoryW(system);
}

void ConfirmRemoval() {
    OpenInstallLog(nullptr);
    WritePendingLogNote();
    char version[32];
    ProgramVersion(version);
    const std::string record = std::string("Uninstallation of ") + g_programName + " (interactive run of kelvane " +
                               version + ")";
    WriteLogLine(record.c_str());
    const std::string question =
        std::string("Remove ") + g_programName + " and everything it installed from this computer?";
    ComputeApplicationName();
    if (AskUser(nullptr, question.c_str(), g_applicationName, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        EndRun(kExitRemovalDeclined, kExitRemovalDeclined, "The removal was not confirmed: nothing was removed");
    }
    WriteLogLine("The removal was confirmed");
}

}  // namespace app
