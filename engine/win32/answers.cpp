// Answers for unattended input fields, read once and handed out in order. The window
// thread alone hands them out, so the position needs no lock.
#include "engine/win32/answers.h"

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/answer_lines.h"
#include "engine/win32/install_log.h"

namespace engine::win32 {

namespace {

constexpr DWORD kMaxAnswersBytes = 1u << 20;

std::vector<std::string> g_answers;
size_t g_nextAnswer = 0;
bool g_answersLoaded = false;

}  // namespace

bool LoadAnswers(const wchar_t* path, DWORD* error) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD code = 0;
    std::string bytes;
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE) {
        code = GetLastError();
    } else if (!GetFileSizeEx(file, &size)) {
        code = GetLastError();
    } else if (size.QuadPart > kMaxAnswersBytes) {
        code = ERROR_FILE_TOO_LARGE;
    } else {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && !ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) {
            code = GetLastError();
        }
        bytes.resize(got);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (code != 0) {
        if (error != nullptr) *error = code;
        return false;
    }
    g_answers = engine::SplitAnswerLines(bytes.data(), bytes.size());
    g_nextAnswer = 0;
    g_answersLoaded = true;
    return true;
}

bool NextAnswer(char* line, size_t size) {
    if (g_nextAnswer >= g_answers.size()) {
        WriteLogLine(g_answersLoaded ? "Input field: no answer left in the answers file; the field's text is kept"
                                     : "Input field: no answers file; the field's text is kept");
        return false;
    }
    const std::string& answer = g_answers[g_nextAnswer++];
    if (line != nullptr && size > 0) {
        const size_t n = answer.size() < size - 1 ? answer.size() : size - 1;
        memcpy(line, answer.data(), n);
        line[n] = '\0';
    }
    const std::string record = "Input field: answer " + std::to_string(g_nextAnswer) + " of " +
                               std::to_string(g_answers.size()) + " from the answers file (" +
                               std::to_string(answer.size()) + (answer.size() == 1 ? " character)" : " characters)");
    WriteLogLine(record.c_str());
    return true;
}

}  // namespace engine::win32
