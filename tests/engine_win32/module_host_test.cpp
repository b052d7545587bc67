// Tests of the module host's window-free parts: paths and their bounds, error texts,
// the call block, the entry call under both conventions and when the module crashes,
// and the print services' order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/win32/host_services.h"
#include "engine/win32/install_log.h"
#include "engine/win32/module_host.h"
#include "engine/win32/print_services.h"
#include "test_support.h"

using namespace engine::win32;

namespace {

// Addresses of a local one call deeper: equal before and after a call exactly when the
// stack pointer came back where it was.
__declspec(noinline) uintptr_t StackProbe() {
    volatile char local = 0;
    return reinterpret_cast<uintptr_t>(&local);
}

InstallHostInterface* g_seenHost = nullptr;

extern "C" KelvaneBool __cdecl CdeclEntry(InstallHostInterface* host) {
    g_seenHost = host;
    return 0x101;
}

#if !defined(_WIN64)
extern "C" KelvaneBool __stdcall StdcallEntry(InstallHostInterface* host) {
    g_seenHost = host;
    return 1;
}
#endif

struct Recorded {
    std::vector<std::string> texts;
    std::vector<int> colors;
};

int32_t RecordString(void* context, const char* text) {
    static_cast<Recorded*>(context)->texts.push_back(text);
    return static_cast<int32_t>(static_cast<Recorded*>(context)->texts.size());
}

int32_t RecordColor(void* context, uint8_t color) {
    static_cast<Recorded*>(context)->colors.push_back(color);
    return 77;
}

}  // namespace

TEST(ModuleHost, ProgramDirectoryIsTheFolderOfTheProgramWithItsBackslash) {
    ASSERT_TRUE(ComputeProgramDirectory());
    char file[MAX_PATH];
    GetModuleFileNameA(nullptr, file, sizeof file);
    const std::string expected(file, strrchr(file, '\\') + 1);
    EXPECT_EQ(g_programDirectory, expected);
}

TEST(ModuleHost, ModulePathCarriesTwoBackslashesAndIsNeverOverrun) {
    char path[260];
    EXPECT_TRUE(BuildModulePath("C:\\Setup\\", "install.dll", path));
    EXPECT_STREQ(path, "C:\\Setup\\\\install.dll");

    const std::string longName(255, 'n');
    EXPECT_FALSE(BuildModulePath("C:\\Setup\\", longName.c_str(), path));
    EXPECT_EQ(strlen(path), 259u);
    EXPECT_EQ(std::string(path, 10), "C:\\Setup\\\\");

    // Without a folder the load would look at the root of the current drive.
    EXPECT_FALSE(BuildModulePath("", "install.dll", path));
    // A name leading out of the folder is told apart from a long one, even when too long.
    DWORD refusal = 0;
    EXPECT_FALSE(BuildModulePath("C:\\Setup\\", ("..\\" + longName).c_str(), path, &refusal));
    EXPECT_EQ(refusal, static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(ModuleHost, SystemErrorTextsAreFirstLineAfterTheDegreeSign) {
    char text[512];
    FormatSystemError(ERROR_MOD_NOT_FOUND, text, sizeof text);
    const std::string s(text);
    ASSERT_EQ(s.rfind("Error Windows n\xB0" "126\n", 0), 0u) << s;
    EXPECT_GT(s.size(), strlen("Error Windows n\xB0" "126\n"));
    EXPECT_EQ(s.find('\r'), std::string::npos);
    EXPECT_EQ(s.find('\n'), strlen("Error Windows n\xB0" "126"));

    FormatSystemError(0x7FFFFF42, text, sizeof text);
    EXPECT_STREQ(text, "Unkown Error");

    char tiny[8];
    FormatSystemError(ERROR_MOD_NOT_FOUND, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "Error W");
}

TEST(ModuleHost, LoadFailureMessageNamesPathCodeAndReasonWithin511Characters) {
    char message[512];
    ComposeLoadFailure("C:\\Setup\\\\missing.dll", ERROR_MOD_NOT_FOUND, message, sizeof message);
    char reason[512];
    FormatSystemError(ERROR_MOD_NOT_FOUND, reason, sizeof reason);
    EXPECT_EQ(std::string(message),
              std::string("Can't load file C:\\Setup\\\\missing.dll with error 126 (") + reason + ")");

    const std::string longPath(600, 'p');
    ComposeLoadFailure(longPath.c_str(), -5, message, sizeof message);
    EXPECT_EQ(strlen(message), 511u);
    EXPECT_EQ(std::string(message, 16), "Can't load file ");
}

TEST(ModuleHost, EntryAndStartFailuresReadLikeTheLoadFailure) {
    char reason[512];
    FormatSystemError(ERROR_PROC_NOT_FOUND, reason, sizeof reason);
    char message[512];
    ComposeEntryFailure("C:\\S\\\\m.dll", ERROR_PROC_NOT_FOUND, message, sizeof message);
    EXPECT_EQ(std::string(message),
              std::string("Can't find quorvend_install2 in file C:\\S\\\\m.dll with error 127 (") + reason + ")");
    FormatSystemError(ERROR_NOT_ENOUGH_MEMORY, reason, sizeof reason);
    ComposeStartFailure("C:\\S\\\\m.dll", ERROR_NOT_ENOUGH_MEMORY, message, sizeof message);
    EXPECT_EQ(std::string(message),
              std::string("Can't start installation of file C:\\S\\\\m.dll with error 8 (") + reason + ")");
}

TEST(ModuleHost, MissingModuleFailsWithError126) {
    engine_test::ScratchDirectory scratch;
    DWORD error = 0;
    EXPECT_EQ(LoadInstallModule((scratch.path() + "\\\\absent.dll").c_str(), &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

static std::vector<DWORD> g_loadFlags;

static HMODULE WINAPI LoaderWithoutSearchFlags(LPCSTR path, HANDLE, DWORD flags) {
    g_loadFlags.push_back(flags);
    SetLastError(ERROR_INVALID_PARAMETER);
    const bool altered = flags == LOAD_WITH_ALTERED_SEARCH_PATH && strcmp(path, "C:\\m.dll") == 0;
    return altered ? GetModuleHandleA(nullptr) : nullptr;
}

TEST(ModuleHost, OlderSystemRefusingTheSearchFlagsGetsTheAlteredSearchPathLoad) {
    EXPECT_EQ(LoadInstallModuleWith(LoaderWithoutSearchFlags, "C:\\m.dll", nullptr), GetModuleHandleA(nullptr));
    EXPECT_EQ(g_loadFlags, (std::vector<DWORD>{LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32,
                                               LOAD_WITH_ALTERED_SEARCH_PATH}));
}

TEST(ModuleHost, CallBlockHoldsServicesIdentityAndZeroedReserves) {
    InstallCallBlock* block = NewInstallCallBlock(reinterpret_cast<void*>(0x1234));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->owner, reinterpret_cast<void*>(0x1234));
    block->host.reserved1 = 0xDEADBEEF;
    ComputeProgramDirectory();
    FillInstallCallBlock(*block, CdeclEntry, "Prog");
    EXPECT_EQ(block->entry, CdeclEntry);
    EXPECT_EQ(block->host.size, sizeof(void*) == 4 ? 48u : sizeof(InstallHostInterface));
    EXPECT_STREQ(block->host.programName, "Prog");
    EXPECT_EQ(block->host.programDirectory, g_programDirectory);
    EXPECT_EQ(block->host.readLine, &engine::win32::readLine);
    EXPECT_EQ(block->host.getIntValue, &engine::win32::getIntValue);
    EXPECT_EQ(block->host.printText, &printText);
    EXPECT_EQ(block->host.setPrintColor, &setPrintColor);
    EXPECT_EQ(block->host.reserved1, 0u);
    EXPECT_EQ(block->host.reserved2, 0u);
    EXPECT_EQ(block->host.mainWindow, nullptr);
    EXPECT_EQ(block->owner, reinterpret_cast<void*>(0x1234));
}

TEST(ModuleHost, EntryCallKeepsTheStackForBothConventions) {
    InstallHostInterface host = {};
    const uintptr_t before = StackProbe();
    for (int i = 0; i < 1000; ++i) {
        g_seenHost = nullptr;
        EXPECT_EQ(CallInstallEntry(CdeclEntry, &host).result, 0x101u);
        EXPECT_EQ(g_seenHost, &host);
    }
    EXPECT_EQ(StackProbe(), before);
#if !defined(_WIN64)
    // A __stdcall entry pops its argument; a plain call through the __cdecl type drifts
    // the stack by 4 bytes per call.
    const auto stdcallEntry = reinterpret_cast<InstallEntry>(reinterpret_cast<void*>(StdcallEntry));
    for (int i = 0; i < 1000; ++i) {
        g_seenHost = nullptr;
        EXPECT_EQ(CallInstallEntry(stdcallEntry, &host).result, 1u);
        EXPECT_EQ(g_seenHost, &host);
    }
    EXPECT_EQ(StackProbe(), before);
#endif
}

namespace {

// An export of kvtest_crash.dll (crash_module.c), which the load finds beside the program.
InstallEntry CrashEntry(const char* name) {
    void* entry = reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("kvtest_crash.dll"), name));
    return reinterpret_cast<InstallEntry>(entry);
}

DWORD WINAPI OverflowTwiceThenReturn(LPVOID parameter) {
    auto* outcomes = static_cast<EntryOutcome*>(parameter);
    InstallHostInterface host = {};
    outcomes[0] = CallInstallEntry(CrashEntry("kv_overflow"), &host);
    outcomes[1] = CallInstallEntry(CrashEntry("kv_overflow"), &host);
    outcomes[2] = CallInstallEntry(CrashEntry("kv_deep_return"), &host);
    return 0;
}

}  // namespace

TEST(ModuleHostCrash, CrashesAreReportedAndTheThreadGoesOnWithItsStackRegistersAndChain) {
    InstallHostInterface host = {};
    const uintptr_t stack = StackProbe();
    // The head of the 32-bit handler chain, at the start of the thread information block.
    const void* const chain = reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ExceptionList;
    EntryOutcome outcome;
    // Each twice: the second is caught only if the first left the handler chain whole.
    for (const char* name : {"kv_raise", "kv_write_null", "kv_raise", "kv_write_null"}) {
        outcome = CallInstallEntry(CrashEntry(name), &host);
        EXPECT_TRUE(outcome.crashed && outcome.result == 0) << name;
        EXPECT_EQ(outcome.exceptionCode, strcmp(name, "kv_raise") == 0 ? 0xE0001234u : 0xC0000005u) << name;
    }
    EXPECT_EQ(CallInstallEntry(CrashEntry("kv_deep_return"), &host).result, 1u);
    EXPECT_EQ(StackProbe(), stack);
    EXPECT_EQ(reinterpret_cast<NT_TIB*>(NtCurrentTeb())->ExceptionList, chain);

    const auto address = reinterpret_cast<unsigned long long>(outcome.exceptionAddress);
    const std::string start = "The install module crashed: exception 0xC0000005 at 0x";
    char expected[160], report[512], tiny[12];
    snprintf(expected, sizeof expected, "%s%0*llX (kvtest_crash.dll+0x%llX)", start.c_str(),
             static_cast<int>(2 * sizeof(void*)), address,
             address - reinterpret_cast<unsigned long long>(GetModuleHandleA("kvtest_crash.dll")));
    ComposeCrashReport(outcome, report, sizeof report);
    EXPECT_STREQ(report, expected);
    ComposeCrashReport(outcome, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "The install");
    outcome.exceptionAddress = nullptr;  // in no module
    ComposeCrashReport(outcome, report, sizeof report);
    EXPECT_EQ(report, start + std::string(2 * sizeof(void*), '0'));
}

// Under Wine the overflow used to end the thread: its one guard page lay at the stack's bottom.
TEST(ModuleHostCrash, StackOverflowIsCaughtAgainOnTheSameThread) {
    EntryOutcome outcomes[3];
    HANDLE thread = CreateThread(nullptr, 0, OverflowTwiceThenReturn, outcomes, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(outcomes[0].crashed && outcomes[1].crashed);
    EXPECT_EQ(outcomes[1].exceptionCode, 0xC00000FDu);
    EXPECT_EQ(outcomes[2].result, 1u);
}

TEST(PrintServices, PiecesGoToTheSinkInOrderAndEachIsLogged) {
    engine_test::ScratchDirectory scratch;
    engine_test::TempDirectoryOverride temp(scratch.path());
    engine_test::BoxRecorder boxes;
    OpenInstallLog(nullptr);
    ASSERT_NE(g_logFile, INVALID_HANDLE_VALUE);

    Recorded recorded;
    SetPrintSink(PrintSink{RecordString, RecordColor, &recorded});
    EXPECT_EQ(printText("A", "B", 0, 1), 4);
    EXPECT_EQ(printText("one", nullptr, 0x100, 0x200), 5);  // only the low 8 bits count
    EXPECT_EQ(printText("x", nullptr, 1, 0), 7);
    EXPECT_EQ(printText(nullptr, nullptr, 0, 0), 8);
    EXPECT_EQ(setPrintColor(0x11E), 77);
    SetPrintSink(ConsolePrintSink());
    CloseInstallLog();

    EXPECT_EQ(recorded.texts, (std::vector<std::string>{"A", " ", "B", "\n", "one", "\n", "x", ""}));
    EXPECT_EQ(recorded.colors, (std::vector<int>{0x1E}));

    const std::string log = engine_test::ReadBytes(scratch.file("setup-internet-gui.log"));
    std::vector<std::string> records;
    for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        records.push_back(log.substr(start, end - start));
    }
    ASSERT_EQ(records.size(), 9u);
    const char* expected[] = {"Running setup installation", "A", " ", "B", "\n", "one", "\n", "x", ""};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_TRUE(engine_test::IsRecordOf(records[i], expected[i])) << i << ": " << records[i];
    }
}
