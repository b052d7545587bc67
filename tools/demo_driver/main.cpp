// kelvane-demo-driver: walks a kelvane installer through its whole path (see
// installer_walk.h) for scripts/demo, pausing at each checkpoint for a screenshot.
// Exit code 0 when the walk completed and the installer ended with 512 (with --passive
// or --uninstall: with 0), else 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/demo_driver/installer_walk.h"

int main(int argc, char** argv) {
    demo::WalkOptions options;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--sync") == 0 && i + 1 < argc) {
            options.syncFolder = argv[++i];
            options.settleMs = 1000;  // console ticks, a repaint, and the display's flush
        } else if (strcmp(argv[i], "--passive") == 0) {
            options.passive = true;
        } else if (strcmp(argv[i], "--uninstall") == 0) {
            options.uninstall = true;
        } else if (strcmp(argv[i], "--snap") == 0 && i + 2 < argc) {
            options.snapCaption = argv[++i];
            options.snapName = argv[++i];
            options.installer = "(none)";
        } else if (strcmp(argv[i], "--progress") == 0 && i + 1 < argc) {
            options.progressText = argv[++i];
        } else if (strcmp(argv[i], "--cwd") == 0 && i + 1 < argc) {
            options.workingDirectory = argv[++i];
        } else if (argv[i][0] != '-' && options.installer.empty()) {
            options.installer = argv[i];
        } else {
            options.installer.clear();
            break;
        }
    }
    if (options.installer.empty()) {
        fprintf(stderr,
                "usage: kelvane-demo-driver installer.exe [--sync folder] [--cwd folder] [--uninstall] [--passive]\n"
                "                           [--progress console-text]\n"
                "       kelvane-demo-driver --snap window-caption checkpoint-name --sync folder\n");
        return 1;
    }
    const demo::WalkResult result = demo::WalkInstaller(options);
    const DWORD expected = options.passive || options.uninstall ? 0u : 512u;
    const bool ok = result.completed && (!options.snapCaption.empty() || result.exitCode == expected);
    std::string report;
    for (const demo::BoxSeen& box : result.boxes) report += "box [" + box.caption + "] " + box.text + "\n";
    if (result.completed) {
        report += "installer ended with exit code " + std::to_string(result.exitCode) + "\n";
    } else {
        report += "walk failed: " + result.failure + "\n";
    }
    fputs(report.c_str(), ok ? stdout : stderr);
    // Under a Wine desktop the caller may not see this process's output: the report and
    // the verdict also go to the sync folder, last, as the sign that the walk is over.
    if (!options.syncFolder.empty()) {
        const std::string path = options.syncFolder + "\\result.txt";
        if (FILE* file = fopen((path + ".part").c_str(), "wb")) {
            fprintf(file, "%s\n%s", ok ? "passed" : "failed", report.c_str());
            fclose(file);
            rename((path + ".part").c_str(), path.c_str());
        }
    }
    return ok ? 0 : 1;
}
