// Wine tests of kelvane-pack, run as a child process on the sample installer's inputs: its
// texts equal those the resource compiler put in kelvane-sample.exe, its archive holds the
// module and the files, and every bad input is refused with one message and no output;
// with --product, the installer without code and the same one the build makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/sha256.h"
#include "tests/engine_win32/test_support.h"
#include "tests/modtest_win32/run_support.h"

namespace {

using modtest_test::BinDirectory;

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

// The bytes of RCDATA (or type's) id and the languages it comes in; "(none)" when it is missing.
std::string ResourceOf(const std::string& program, int id, std::vector<WORD>* languages = nullptr, int type = 10) {
    HMODULE image = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) return "(cannot open " + program + ")";
    std::string bytes = "(none)";
    if (HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type))) {
        const void* data = LockResource(LoadResource(image, found));
        if (data != nullptr) bytes.assign(static_cast<const char*>(data), SizeofResource(image, found));
    }
    if (languages != nullptr) {
        EnumResourceLanguagesA(image, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id), AddLanguage,
                               reinterpret_cast<LONG_PTR>(languages));
    }
    FreeLibrary(image);
    return bytes;
}

// Names and sizes of what a folder holds: a failed run must leave it as it was.
std::string Listing(const std::string& folder) {
    std::string listing;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found) != 0) {
        if (found.cFileName[0] == '.') continue;
        listing += std::string(found.cFileName) + ":" + std::to_string(found.nFileSizeLow) + " ";
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return listing;
}

// A little-endian header field of a PE image, and where its certificate table entry lies.
uint32_t Field(const std::string& image, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(image.at(offset + i));
    return value;
}
size_t SignatureEntry(const std::string& image) {
    const size_t optional = Field(image, 0x3C) + 24;
    return optional + ((Field(image, optional) & 0xFFFF) == 0x10B ? 96 : 112) + 4 * 8;
}

class Pack : public ::testing::Test {
protected:
    Pack() : out_(scratch_.folder("out")), exe_(out_ + "\\MyInstaller.exe") {}

    std::vector<std::string> Arguments() const {
        const std::string texts = BinDirectory() + "pack_win32\\";
        return {"--stub",   BinDirectory() + "kelvane.exe",
                "--setup",  texts + "setup.ini",
                "--licence", texts + "licence.rtf",
                "--warning", texts + "warning.rtf",
                "--module", sample_ + "sample_install_module.dll",
                "--file",   sample_ + "install.cfg",  // arguments[11], the source the bad inputs reuse
                "--file",   "data\\readme.txt=" + sample_ + "readme.txt",
                "--out",    exe_};
    }
    modtest_test::ProgramRun Run(const std::vector<std::string>& arguments) const {
        return modtest_test::RunProgram(BinDirectory() + "kelvane-pack.exe", arguments);
    }

    engine_test::ScratchDirectory scratch_;
    const std::string out_, exe_;
    const std::string sample_ = BinDirectory() + "kelvane-sample\\";
    const std::vector<std::pair<std::string, std::string>> shipped_ = {
        {"sample_install_module.dll", "sample_install_module.dll"}, {"install.cfg", "install.cfg"},
        {"data\\readme.txt", "readme.txt"}};
};

TEST_F(Pack, TextsEqualTheResourceCompilersAndTheFilesLieBesideTheOutput) {
    const modtest_test::ProgramRun run = Run(Arguments());
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const std::string size = std::to_string(engine_test::ReadBytes(exe_).size());
    const std::vector<std::string> wrote = {"kelvane-pack: wrote " + exe_ + " (" + size + " bytes)"};
    EXPECT_EQ(modtest_test::Lines(run.out), wrote);
    for (int id : {455, 456, 457}) {
        std::vector<WORD> packed, compiled;
        EXPECT_EQ(ResourceOf(exe_, id, &packed), ResourceOf(sample_ + "kelvane-sample.exe", id, &compiled)) << id;
        EXPECT_EQ(packed, std::vector<WORD>{0}) << id;
        EXPECT_EQ(packed, compiled) << id;
    }
    EXPECT_EQ(ResourceOf(exe_, 458), "(none)");
    for (const auto& file : shipped_) {
        EXPECT_EQ(engine_test::ReadBytes(out_ + "\\" + file.first), engine_test::ReadBytes(sample_ + file.second));
    }
}

TEST_F(Pack, EmbedsTheModuleAndFilesInAnArchiveTheReaderAccepts) {
    std::vector<std::string> arguments = Arguments();
    arguments.push_back("--embed");
    const modtest_test::ProgramRun run = Run(arguments);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(ResourceOf(exe_, 455), ResourceOf(sample_ + "kelvane-sample.exe", 455));
    const std::string archive = ResourceOf(exe_, engine::kArchiveResourceId);
    const engine::ArchiveIndex index =
        engine::ReadArchive(reinterpret_cast<const uint8_t*>(archive.data()), archive.size(), true);
    ASSERT_TRUE(index.ok) << index.failure;
    ASSERT_EQ(index.entries.size(), shipped_.size());
    for (size_t i = 0; i < shipped_.size(); ++i) {
        EXPECT_EQ(index.entries[i].path, shipped_[i].first);
        const std::string source = engine_test::ReadBytes(sample_ + shipped_[i].second);
        uint8_t digest[32];
        engine::Sha256Of(source.data(), source.size(), digest);
        const uint8_t* packed = index.entries[i].sha256;
        EXPECT_EQ(std::string(digest, digest + 32), std::string(packed, packed + 32)) << shipped_[i].first;
    }
    EXPECT_EQ(Listing(out_), "MyInstaller.exe:" + std::to_string(engine_test::ReadBytes(exe_).size()) + " ");
}

// Packed from the same inputs as the CMake-built one-file sample (its files to install
// under payload/), the installer carries the same archive and installs the same way.
TEST_F(Pack, MakesTheSameOneFileInstallerAsTheBuild) {
    const std::vector<std::string> all = Arguments();
    std::vector<std::string> arguments(all.begin(), all.begin() + 10);  // stub, texts and module
    arguments.insert(arguments.end(), {"--file", sample_ + "install.cfg"});
    for (const char* name : {"readme.txt", "licence.txt", "greeting.txt", "colours.dat", "changes.txt"}) {
        arguments.insert(arguments.end(), {"--file", std::string("payload/") + name + "=" + sample_ + name});
    }
    arguments.insert(arguments.end(), {"--embed", "--out", exe_});
    const modtest_test::ProgramRun run = Run(arguments);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const std::string built = BinDirectory() + "kelvane-sample-onefile.exe";
    for (int id : {455, 456, 457, engine::kArchiveResourceId}) EXPECT_EQ(ResourceOf(exe_, id), ResourceOf(built, id)) << id;

    const std::string target = "C:\\Kelvane Sample\\readme.txt";  // the embedded install.cfg's
    DeleteFileA(target.c_str());
    const modtest_test::ProgramRun install = modtest_test::RunProgram(exe_, {"/quiet", "/acceptlicence"});
    EXPECT_EQ(install.exitCode, 0u) << install.out << install.err;
    EXPECT_EQ(engine_test::ReadBytes(target), engine_test::ReadBytes(sample_ + "readme.txt"));
}

struct BadInput {
    const char* fault;
    const char* named;  // what the one line on standard error must name
    void (*change)(std::vector<std::string>& arguments, const std::string& folder);
};

void Set(std::vector<std::string>& arguments, const std::string& option, const std::string& value) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == option) arguments[i + 1] = value;
    }
}

const BadInput kBadInputs[] = {
    {"missing input", "nothing.rtf", [](auto& a, auto& f) { Set(a, "--licence", f + "\\nothing.rtf"); }},
    {"LF-only setup.ini", "lone LF", [](auto& a, auto& f) {
         engine_test::WriteBytes(f + "\\lf.ini", "[setup]\nKelvane Sample\n1.0\nsample\nsample_install_module.dll\n");
         Set(a, "--setup", f + "\\lf.ini");
     }},
    {"line 5 not naming the module", "line 5 names the module \"other.dll\"", [](auto& a, auto& f) {
         engine_test::WriteBytes(f + "\\other.ini", "[setup]\r\nKelvane Sample\r\n1.0\r\nsample\r\nother.dll\r\n");
         Set(a, "--setup", f + "\\other.ini");
     }},
    {"path trick", "--file ../x=", [](auto& a, auto&) { a.insert(a.end(), {"--file", "../x=" + a[11]}); }},
    {"duplicate name", "--file INSTALL.CFG=",
     [](auto& a, auto&) { a.insert(a.end(), {"--file", "INSTALL.CFG=" + a[11]}); }},
    {"output equal to the stub", "same file as --stub", [](auto& a, auto&) { Set(a, "--out", a[1]); }},
    {"unknown option", "--compress: unknown option", [](auto& a, auto&) { a.push_back("--compress"); }},
    {"stub already packed", "already carries RCDATA 455",
     [](auto& a, auto&) { Set(a, "--stub", BinDirectory() + "kelvane-sample\\kelvane-sample.exe"); }},
    {"stub not a kelvane program", "is not a kelvane program",
     [](auto& a, auto&) { Set(a, "--stub", BinDirectory() + "kelvane-pack.exe"); }},
    // Refused without --module too (kept with --embed, which needs one).
    {"line 5 leaving the folder", "\"..\\sample_install_module.dll\", which is not a file inside",
     [](auto& a, auto& f) {
         engine_test::WriteBytes(f + "\\up.ini", "[s]\r\nSample\r\n1\r\ns\r\n..\\sample_install_module.dll\r\n");
         Set(a, "--setup", f + "\\up.ini");
         if (std::find(a.begin(), a.end(), "--embed") == a.end()) a.erase(a.begin() + 8, a.begin() + 10);
     }},
    {"short-name look-alike", "--file PROGRA~1.CFG=",
     [](auto& a, auto&) { a.insert(a.end(), {"--file", "PROGRA~1.CFG=" + a[11]}); }},
};

TEST_F(Pack, RefusesEachBadInputWithOneMessageAndNoOutput) {
    for (bool embed : {false, true}) {
        for (const BadInput& bad : kBadInputs) {
            std::vector<std::string> arguments = Arguments();
            if (embed) arguments.push_back("--embed");
            bad.change(arguments, scratch_.path());
            const std::string stub = engine_test::ReadBytes(arguments[1]);
            const std::string before = Listing(out_);
            const modtest_test::ProgramRun run = Run(arguments);
            EXPECT_EQ(run.exitCode, 1u) << bad.fault;
            EXPECT_EQ(modtest_test::Lines(run.err).size(), 1u) << bad.fault << ": " << run.err;
            EXPECT_NE(run.err.find(bad.named), std::string::npos) << bad.fault << ": " << run.err;
            EXPECT_EQ(Listing(out_), before) << bad.fault;
            EXPECT_EQ(engine_test::ReadBytes(arguments[1]), stub) << bad.fault;
        }
    }
}

TEST_F(Pack, LeavesAnOutputInUseAsItWas) {
    ASSERT_TRUE(engine_test::WriteBytes(exe_, "older installer"));
    HANDLE held = CreateFileA(exe_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const modtest_test::ProgramRun run = Run(Arguments());
    CloseHandle(held);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("in use"), std::string::npos) << run.err;
    EXPECT_EQ(engine_test::ReadBytes(exe_), "older installer");
    EXPECT_EQ(Listing(out_), "MyInstaller.exe:15 ");
}

// The system's resource updater moves what follows the resources but not the header's
// pointer to mingw's symbol table, which tools then read as garbage.
TEST_F(Pack, KeepsTheStubsSymbolTableAndDropsItsSignature) {
    std::string stub = engine_test::ReadBytes(BinDirectory() + "kelvane.exe");
    const std::string symbols = stub.substr(Field(stub, Field(stub, 0x3C) + 12));
    ASSERT_GT(symbols.size(), 4u);
    for (int i = 0; i < 4; ++i) stub[SignatureEntry(stub) + i] = static_cast<char>(stub.size() >> (8 * i));
    stub[SignatureEntry(stub) + 4] = 16;
    ASSERT_TRUE(engine_test::WriteBytes(scratch_.file("signed.exe"), stub + "CERTIFICATE-DATA"));
    std::vector<std::string> arguments = Arguments();
    arguments[1] = scratch_.file("signed.exe");
    const modtest_test::ProgramRun run = Run(arguments);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    ASSERT_EQ(modtest_test::Lines(run.out).size(), 2u) << run.out;
    EXPECT_EQ(modtest_test::Lines(run.out)[0].find("kelvane-pack: --stub " + arguments[1] +
                                                   ": its Authenticode signature was removed"), 0u) << run.out;
    const std::string packed = engine_test::ReadBytes(exe_);
    EXPECT_EQ(Field(packed, SignatureEntry(packed)), 0u);
    EXPECT_EQ(Field(packed, SignatureEntry(packed) + 4), 0u);
    const uint32_t table = Field(packed, Field(packed, 0x3C) + 12);
    EXPECT_TRUE(table <= packed.size() && packed.compare(table, std::string::npos, symbols) == 0) << table;
}

// ---- --product: an installer without code -------------------------------------------

const char kProductIni[] =
    "PRODUCT_ID=Kelvane.Test\r\nNAME=Kelvane Test\r\nVERSION=2.1\r\nPUBLISHER=Kelvane\r\n"
    "SHORTCUT1=startmenu|Kelvane Test\\Read me|{app}\\Read me.txt\r\nPATH={app}\\bin\r\n";
const char kProductSetup[] = "[setup]\r\nKelvane Test\r\n2.1\r\nstandard\r\nkelvane-standard.dll\r\n";

bool AppendTo(void* text, const uint8_t* bytes, size_t size) {
    static_cast<std::string*>(text)->append(reinterpret_cast<const char*>(bytes), size);
    return true;
}

// Each entry's path and bytes, or the reader's failure as the only path.
// A short stand-in for a file's bytes in failure messages.
std::string Digest(const std::string& bytes) {
    uint8_t digest[32];
    engine::Sha256Of(bytes.data(), bytes.size(), digest);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) text += std::string(1, kHex[byte >> 4]) + kHex[byte & 15];
    return std::to_string(bytes.size()) + " bytes " + text;
}

std::vector<std::pair<std::string, std::string>> Entries(const std::string& archive) {
    const auto* data = reinterpret_cast<const uint8_t*>(archive.data());
    const engine::ArchiveIndex index = engine::ReadArchive(data, archive.size(), true);
    if (!index.ok) return {{"(refused) " + index.failure, ""}};
    std::vector<std::pair<std::string, std::string>> entries;
    for (const engine::ArchiveEntry& entry : index.entries) {
        entries.push_back({entry.path, ""});
        engine::ExtractEntry(data, archive.size(), entry, AppendTo, &entries.back().second, nullptr);
    }
    return entries;
}

class ProductPack : public Pack {
protected:
    // A tree made with the wide calls: a sub-folder, a space, a name beyond ASCII, empty
    // folders (one inside another folder) and an empty file.
    ProductPack() : payload_(scratch_.folder("payload")) {
        const std::wstring root(payload_.begin(), payload_.end());
        for (const wchar_t* folder : {L"\\bin", L"\\bin\\empty", L"\\logs"}) {
            CreateDirectoryW((root + folder).c_str(), nullptr);
        }
        const std::pair<const wchar_t*, std::string> files[] = {
            {L"\\Read me.txt", "read me\r\n"}, {L"\\Gr\u00FC\u00DFe.txt", "hello"}, {L"\\bin\\zero.dat", ""}};
        for (const auto& file : files) {
            HANDLE h = CreateFileW((root + file.first).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            DWORD wrote = 0;
            WriteFile(h, file.second.data(), static_cast<DWORD>(file.second.size()), &wrote, nullptr);
            CloseHandle(h);
        }
    }
    modtest_test::ProgramRun RunProduct(const std::string& text) const {
        engine_test::WriteBytes(scratch_.file("product.ini"), text);
        return Run({"--product", scratch_.file("product.ini"), "--payload", payload_, "--out", exe_});
    }
    const std::string payload_;
};

TEST_F(ProductPack, WritesTheSetupTextsTheArchiveAndTheUninstaller) {
    const modtest_test::ProgramRun run = RunProduct(kProductIni);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(ResourceOf(exe_, 455), kProductSetup);
    for (int id : {456, 457}) {
        EXPECT_EQ(ResourceOf(exe_, id).find("{\\rtf1"), 0u) << id;
        EXPECT_NE(ResourceOf(exe_, id).find("Kelvane Test 2.1"), std::string::npos) << id;
    }
    const auto entries = Entries(ResourceOf(exe_, engine::kArchiveResourceId));
    std::vector<std::string> paths;
    for (const auto& entry : entries) paths.push_back(entry.first);
    const std::vector<std::string> expected = {"kelvane-standard.dll", "product.ini", "folders.ini", "uninstall.exe",
        "payload\\app\\Gr\xC3\xBC\xC3\x9F" "e.txt", "payload\\app\\Read me.txt", "payload\\app\\bin\\zero.dat"};
    ASSERT_EQ(paths, expected);
    EXPECT_EQ(Digest(entries[0].second), Digest(engine_test::ReadBytes(BinDirectory() + "kelvane-standard.dll")));
    EXPECT_EQ(entries[1].second, kProductIni);
    EXPECT_EQ(entries[2].second, "FOLDER1=bin\\empty\r\nFOLDER2=logs\r\n");
    EXPECT_EQ(entries[5].second, "read me\r\n");
    EXPECT_EQ(entries[6].second, "");
    ASSERT_TRUE(engine_test::WriteBytes(scratch_.file("uninstall.exe"), entries[3].second));
    EXPECT_EQ(ResourceOf(scratch_.file("uninstall.exe"), 455), kProductSetup);
    for (int id : {456, 457, 458}) EXPECT_EQ(ResourceOf(scratch_.file("uninstall.exe"), id), "(none)") << id;
    EXPECT_EQ(Listing(out_), "MyInstaller.exe:" + std::to_string(engine_test::ReadBytes(exe_).size()) + " ");
}

TEST_F(ProductPack, RefusesEachBadProductWithOneLinePerProblemAndNoOutput) {
    const std::string good = kProductIni;
    const auto without = [&good](const std::string& part) {
        return good.substr(0, good.find(part)) + good.substr(good.find(part) + part.size());
    };
    std::string lf = good;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    const struct {
        const char* fault;
        std::string text;
        std::vector<std::string> named;  // one per line on standard error
    } bad[] = {
        {"missing PRODUCT_ID", without("PRODUCT_ID=Kelvane.Test\r\n"), {"PRODUCT_ID: missing"}},
        {"bad VERSION", without("2.1\r\n").insert(good.find("2.1"), "2.x\r\n"), {"VERSION: \"2.x\" is not a version"}},
        {"unknown placeholder", good + "REG1=HKLM|Software\\Kelvane|Folder|string|{Nowhere}\r\n", {"{Nowhere}"}},
        {"targets outside the payload",
         good + "SHORTCUT2=desktop|Tool|{app}\\tool.exe\r\nSHORTCUT3=desktop|Logs|{app}\\logs\r\n",
         {"SHORTCUT2's target \"{app}\\tool.exe\" names no file", "SHORTCUT3's target \"{app}\\logs\" names no file"}},
        {"LF line ends", lf, {"line 1 ends with a lone LF"}},
    };
    for (const auto& product : bad) {
        const modtest_test::ProgramRun run = RunProduct(product.text);
        EXPECT_EQ(run.exitCode, 1u) << product.fault;
        const std::vector<std::string> lines = modtest_test::Lines(run.err);
        ASSERT_EQ(lines.size(), product.named.size()) << product.fault << ": " << run.err;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].find("kelvane-pack: " + scratch_.file("product.ini") + ": "), 0u) << lines[i];
            EXPECT_NE(lines[i].find(product.named[i]), std::string::npos) << product.fault << ": " << lines[i];
        }
        EXPECT_EQ(Listing(out_), "") << product.fault;
    }
}

// SCOPE=user packs the per-user stub, for the installer and its uninstaller alike; a stub
// or a folder of the other scope is refused.
TEST_F(ProductPack, PerUserProductsTakeThePerUserStubAndItsFolders) {
    const std::string user = std::string(kProductIni) + "SCOPE=user\r\n";
    modtest_test::ProgramRun run = RunProduct(user);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const auto entries = Entries(ResourceOf(exe_, engine::kArchiveResourceId));
    ASSERT_TRUE(entries.size() > 3 && engine_test::WriteBytes(scratch_.file("uninstall.exe"), entries[3].second));
    for (const std::string& program : {exe_, scratch_.file("uninstall.exe")})
        EXPECT_NE(ResourceOf(program, 1, nullptr, 24).find("level=\"asInvoker\""), std::string::npos) << program;
    run = RunProduct(std::string(kProductIni) + "TARGET={LocalAppData}\\Kelvane Test\r\n");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("{LocalAppData} is a folder of the user's own"), std::string::npos) << run.err;
    ASSERT_TRUE(engine_test::WriteBytes(scratch_.file("product.ini"), kProductIni));
    run = Run({"--product", scratch_.file("product.ini"), "--payload", payload_, "--out", exe_, "--stub",
               BinDirectory() + "kelvane-user.exe"});
    EXPECT_NE(run.err.find("does not ask for administrator rights"), std::string::npos) << run.err;
}

// The build's route (kelvane_add_installer PRODUCT) makes the same installer from the
// sample product: the same texts, and the same archive but for the uninstaller, which it
// links from the sources rather than copying the stub.
TEST_F(Pack, ProductInstallerEqualsTheBuildsButForTheUninstallersCode) {
    const std::string example = BinDirectory() + "pack_win32\\example\\";
    const modtest_test::ProgramRun run =
        Run({"--product", example + "product.ini", "--payload", example + "payload", "--out", exe_});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    const std::string built = BinDirectory() + "kelvane-example-setup.exe";
    for (int id : {455, 456, 457}) EXPECT_EQ(ResourceOf(exe_, id), ResourceOf(built, id)) << id;
    auto packed = Entries(ResourceOf(exe_, engine::kArchiveResourceId));
    auto made = Entries(ResourceOf(built, engine::kArchiveResourceId));
    ASSERT_EQ(packed.size(), made.size());
    ASSERT_GT(packed.size(), 4u);
    EXPECT_EQ(packed[3].first, "uninstall.exe");
    for (auto* entries : {&packed, &made}) {
        ASSERT_TRUE(engine_test::WriteBytes(scratch_.file("uninstall.exe"), (*entries)[3].second));
        (*entries)[3].second = ResourceOf(scratch_.file("uninstall.exe"), 455);
        for (auto& entry : *entries) entry.second = Digest(entry.second);
    }
    EXPECT_EQ(packed, made);
    EXPECT_EQ(packed[2].second, Digest("FOLDER1=logs\r\n"));
}

}  // namespace
