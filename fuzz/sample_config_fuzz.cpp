// libFuzzer target: arbitrary bytes as install.cfg through the engine's key=value
// loader and the sample install module's checks. Whatever it accepts must be safe to
// install from; whatever it refuses must come with a terminated reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/core/key_values.h"
#include "install_config.h"

namespace {

const char* KELVANE_CDECL LookUp(const KeyValueNode* list, const char* key, KelvaneBool upper) {
    return engine::getValue(list, key, (upper & 0xFFu) != 0);
}
int32_t KELVANE_CDECL LookUpNumber(const KeyValueNode* list, const char* key) {
    return engine::getIntValue(list, key);
}

bool Terminated(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

void CheckAccepted(const SampleConfig& config) {
    if (!Terminated(config.target, sizeof config.target)) std::abort();
    const size_t targetLength = std::strlen(config.target);
    if (targetLength < 3) std::abort();
    const bool drive = config.target[1] == ':' && config.target[2] == '\\';
    const bool share = config.target[0] == '\\' && config.target[1] == '\\';
    if (!drive && !share) std::abort();
    if (config.target[targetLength - 1] == '\\' && !(drive && targetLength == 3)) std::abort();
    if (config.fileCount < 1 || config.fileCount > SAMPLE_MAX_FILES) std::abort();
    if (config.requiredMegabytes > 2147483647u || config.pauseMilliseconds > SAMPLE_MAX_PAUSE_MS) std::abort();
    char joined[SAMPLE_PATH_SIZE];
    for (unsigned i = 0; i < config.fileCount; ++i) {
        const char* name = config.files[i];
        if (!Terminated(name, SAMPLE_NAME_SIZE) || name[0] == '\0') std::abort();
        if (std::strpbrk(name, "\\/:*?\"<>|") != nullptr) std::abort();
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) std::abort();
        if (!SampleJoinPath(joined, sizeof joined, config.target, name)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InstallHostInterface host{};
    host.size = sizeof host;
    host.getValue = LookUp;
    host.getIntValue = LookUpNumber;

    engine::KeyValueArena arena;
    engine::MemoryByteSource source(data, size);
    const KeyValueNode* list = engine::loadKeyValues(source, arena);

    static SampleConfig config;  // 16 KB: kept off the fuzzer's stack
    char error[512];
    std::memset(error, 'x', sizeof error);
    if (SampleParseConfig(&host, list, &config, error, sizeof error)) {
        if (error[0] != '\0') std::abort();
        CheckAccepted(config);
    } else if (!Terminated(error, sizeof error) || error[0] == '\0') {
        std::abort();
    }
    return 0;
}
