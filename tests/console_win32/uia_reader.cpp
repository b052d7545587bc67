// A second process for the accessibility tests: asks a console window for its UI
// Automation element and writes what it read, one "key=value" line each, to a file.
// Must only read; a value the system could not give is written as "!" and a reason.
#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using NodeFromHandle = HRESULT(WINAPI*)(HWND, void**);
using GetPropertyValue = HRESULT(WINAPI*)(void*, int, VARIANT*);
using NodeRelease = BOOL(WINAPI*)(void*);

constexpr int kBoundingRectangle = 30001;
constexpr int kControlType = 30003;
constexpr int kName = 30005;

void writeProperty(FILE* out, const char* key, GetPropertyValue get, void* node, int property) {
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = get(node, property, &v);
    if (FAILED(hr)) {
        std::fprintf(out, "%s=!failed 0x%08lx\n", key, static_cast<unsigned long>(hr));
    } else if (v.vt == VT_BSTR && v.bstrVal != nullptr) {
        char text[512] = "";
        if (WideCharToMultiByte(CP_UTF8, 0, v.bstrVal, -1, text, sizeof text, nullptr, nullptr) == 0) {
            std::fprintf(out, "%s=!longer than %u bytes\n", key, static_cast<unsigned>(sizeof text));  // never cut
        } else {
            std::fprintf(out, "%s=%s\n", key, text);
        }
    } else if (v.vt == VT_I4) {
        std::fprintf(out, "%s=%ld\n", key, static_cast<long>(v.lVal));
    } else if (v.vt == (VT_ARRAY | VT_R8) && v.parray != nullptr && v.parray->rgsabound[0].cElements == 4) {
        const double* r = static_cast<const double*>(v.parray->pvData);
        std::fprintf(out, "%s=%.0f,%.0f,%.0f,%.0f\n", key, r[0], r[1], r[2], r[3]);
    } else {
        std::fprintf(out, "%s=!type %u\n", key, static_cast<unsigned>(v.vt));
    }
    VariantClear(&v);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(argv[1], nullptr, 10)));
    FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) return 3;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    const LRESULT answer = SendMessageW(window, WM_GETOBJECT, 0, static_cast<LPARAM>(-25));  // UiaRootObjectId
    std::fprintf(out, "answer=%d\n", answer != 0 ? 1 : 0);

    HMODULE uia = LoadLibraryA("uiautomationcore.dll");
    const auto nodeFromHandle = reinterpret_cast<NodeFromHandle>(reinterpret_cast<void*>(GetProcAddress(uia, "UiaNodeFromHandle")));
    const auto getProperty = reinterpret_cast<GetPropertyValue>(reinterpret_cast<void*>(GetProcAddress(uia, "UiaGetPropertyValue")));
    const auto release = reinterpret_cast<NodeRelease>(reinterpret_cast<void*>(GetProcAddress(uia, "UiaNodeRelease")));
    void* node = nullptr;
    const HRESULT got = nodeFromHandle != nullptr ? nodeFromHandle(window, &node) : E_NOTIMPL;
    if (getProperty == nullptr || FAILED(got) || node == nullptr) {
        std::fprintf(out, "node=!0x%08lx\n", static_cast<unsigned long>(got));
    } else {
        std::fprintf(out, "node=1\n");
        writeProperty(out, "name", getProperty, node, kName);
        writeProperty(out, "controltype", getProperty, node, kControlType);
        writeProperty(out, "rect", getProperty, node, kBoundingRectangle);
        if (release != nullptr) release(node);
    }
    CoUninitialize();
    return std::fclose(out) == 0 ? 0 : 4;
}
