// kelvane-modtest: runs an install module as the installer does (same call block, the
// same six services, the same log, the entry on a worker thread) but prints to stdout.
// Exit code 0 when the module returned true, 1 otherwise. Shows no window.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/win32/install_log.h"
#include "engine/win32/message_box.h"
#include "engine/win32/module_host.h"
#include "engine/win32/print_services.h"
#include "tools/modtest/stdout_sink.h"

namespace {

using namespace engine::win32;

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr uint8_t kFailureColour = 4;
constexpr uint8_t kNormalColour = 7;

char g_programName[256] = "";
EntryOutcome g_entryOutcome;
modtest::ColourMode g_colourMode = modtest::ColourMode::None;

int Usage(const char* problem) {
    if (problem != nullptr) fprintf(stderr, "kelvane-modtest: %s\n", problem);
    fprintf(stderr,
            "usage: kelvane-modtest path\\to\\module.dll [--program-name NAME]\n"
            "Runs the module's quorvend_install2 as the installer would, with the module's\n"
            "folder as the program folder; prints to stdout and logs as the installer does.\n"
            "Exit code 0 when the module returns true, 1 otherwise.\n");
    return kFailed;
}

// The engine's boxes (a log that cannot be created) must not block a CI run.
int WINAPI BoxToStandardError(HWND, LPCSTR text, LPCSTR caption, UINT) {
    fprintf(stderr, "kelvane-modtest: %s%s%s\n", caption != nullptr ? caption : "", caption != nullptr ? ": " : "",
            text != nullptr ? text : "");
    return IDOK;
}

// CI reads crashes on standard error, wherever they happened.
void PrintCrashLine(uint32_t code, const void* address) {
    fprintf(stderr, "kelvane-modtest: the module raised exception 0x%08lX at %p\n", static_cast<unsigned long>(code),
            address);
    fflush(stderr);
}

// A crash on a thread the module started (the entry's own are caught by the call) ends
// the run as a failure the caller can read.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    fflush(stdout);
    modtest::RestoreColour(g_colourMode);
    fputc('\n', stderr);
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    PrintCrashLine(static_cast<uint32_t>(record.ExceptionCode), record.ExceptionAddress);
    TerminateProcess(GetCurrentProcess(), kFailed);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A failure of the host's own, as the installer reports one: red, logged, then colour 7.
void ReportFailure(const PrintSink& sink, const char* text) {
    sink.setTextColor(sink.context, kFailureColour);
    WriteLogLine(text);
    sink.putString(sink.context, text);
    sink.putString(sink.context, "\n");
    sink.setTextColor(sink.context, kNormalColour);
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
    auto* block = static_cast<InstallCallBlock*>(parameter);
    block->host.mainWindow = nullptr;  // no window: a module must accept a null owner
    g_entryOutcome = CallInstallEntry(block->entry, &block->host);
    return 0;
}

// The module's folder plays the program folder: the installer's module lies beside it.
bool SplitModulePath(const char* argument, char (&moduleFileName)[256]) {
    char full[260];
    const DWORD length = GetFullPathNameA(argument, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return false;
    char drive[_MAX_DRIVE];
    char directory[_MAX_DIR];
    char name[_MAX_FNAME];
    char extension[_MAX_EXT];
    _splitpath(full, drive, directory, name, extension);
    const int directoryLength = snprintf(g_programDirectory, sizeof g_programDirectory, "%s%s", drive, directory);
    const int nameLength = snprintf(moduleFileName, sizeof moduleFileName, "%s%s", name, extension);
    if (g_programName[0] == '\0') snprintf(g_programName, sizeof g_programName, "%s", name);
    return directoryLength > 0 && static_cast<size_t>(directoryLength) < sizeof g_programDirectory &&
           nameLength > 0 && static_cast<size_t>(nameLength) < sizeof moduleFileName;
}

int RunModule(const char* argument) {
    const PrintSink sink = modtest::StdoutPrintSink(g_colourMode);
    SetPrintSink(sink);
    OpenInstallLog(nullptr);

    char moduleFileName[256];
    char path[260];
    char message[512];
    DWORD refusal = ERROR_FILENAME_EXCED_RANGE;
    if (!SplitModulePath(argument, moduleFileName) ||
        !BuildModulePath(g_programDirectory, moduleFileName, path, &refusal)) {
        // As the installer reports a module path that does not fit, or a device name.
        ComposeLoadFailure(argument, static_cast<int32_t>(refusal), message, sizeof message);
        ReportFailure(sink, message);
        return kFailed;
    }
    InstallCallBlock* block = PrepareInstallCall(path, nullptr, g_programName, message, sizeof message);
    if (block == nullptr) {
        ReportFailure(sink, message);
        return kFailed;
    }

    HANDLE worker = CreateThread(nullptr, 0, InstallWorker, block, 0, nullptr);
    if (worker == nullptr) {
        ComposeStartFailure(path, static_cast<int32_t>(GetLastError()), message, sizeof message);
        ReportFailure(sink, message);
        return kFailed;
    }
    WaitForSingleObject(worker, INFINITE);
    if (g_entryOutcome.crashed) {
        // As the installer: the report on a line of its own, then the failure line below.
        ComposeCrashReport(g_entryOutcome, message, sizeof message);
        sink.putString(sink.context, "\n");
        ReportFailure(sink, message);
        PrintCrashLine(g_entryOutcome.exceptionCode, g_entryOutcome.exceptionAddress);
    }
    const bool succeeded = !g_entryOutcome.crashed && (g_entryOutcome.result & 0xFFu) != 0;
    if (succeeded) {
        WriteLogLine("Installation finished.");
        sink.putString(sink.context, "Installation finished.");
    } else {
        sink.setTextColor(sink.context, kFailureColour);
        WriteLogLine("Installation failure.");
        sink.putString(sink.context, "Installation failure.");
        sink.setTextColor(sink.context, kNormalColour);
    }
    sink.putString(sink.context, "\n");  // the installer has no next line; a terminal does
    return succeeded ? kSucceeded : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    const char* modulePath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--program-name") == 0) {
            if (++i >= argc) return Usage("--program-name needs a value");
            // Cut to 255 characters, as the installer cuts line 2 of setup.ini.
            snprintf(g_programName, sizeof g_programName, "%s", argv[i]);
            if (g_programName[0] == '\0') return Usage("--program-name needs a value");
        } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            Usage(nullptr);
            return kSucceeded;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return Usage("unknown option");
        } else if (modulePath == nullptr) {
            modulePath = argv[i];
        } else {
            return Usage("only one module at a time");
        }
    }
    if (modulePath == nullptr) return Usage("no module given");

    // The module's bytes go out as given: no CR added before its line feeds.
    _setmode(_fileno(stdout), _O_BINARY);
    g_messageBox = BoxToStandardError;
    g_colourMode = modtest::DetectColourMode();
    SetUnhandledExceptionFilter(ReportCrash);
    const int result = RunModule(modulePath);
    modtest::RestoreColour(g_colourMode);
    SwitchOffInstallLog();
    if (g_logPath[0] != '\0') fprintf(stderr, "kelvane-modtest: log %s\n", g_logPath);
    return result;
}
