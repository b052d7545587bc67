// Native tests of kelvane-pack's product checks (tools/pack/product_checks.cpp): the product
// file's lines as the installer reads them, its paths against the payload, and the texts
// the packer makes. Runs under ASan and UBSan; touches no file.
#include "tools/pack/product_checks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kProduct =
    "PRODUCT_ID=Kelvane.Example\r\nname=Kelvane Example\r\nNAME=Second\r\nVERSION=1.0.0\r\nPUBLISHER=Kelvane\r\n";

std::vector<std::string> Read(const std::string& text, KvProduct& product) {
    return pack::ReadProductFile(text, product);
}

bool Mentions(const std::vector<std::string>& problems, size_t index, const std::string& part) {
    return index < problems.size() && problems[index].find(part) != std::string::npos;
}

TEST(ProductPackChecks, LinesAreReadAsTheInstallerReadsThem) {
    std::unique_ptr<KvProduct> product(new KvProduct());
    // The first line of a key wins, its case ignored; a last line without its end is read.
    EXPECT_TRUE(Read(kProduct + "URL=https://example.org", *product).empty());
    EXPECT_STREQ(product->name, "Kelvane Example");
    EXPECT_STREQ(product->url, "https://example.org");

    std::string lf = kProduct;
    for (size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at)) lf.erase(at, 1);
    std::vector<std::string> problems = Read(lf, *product);
    ASSERT_EQ(problems.size(), 1u);  // one sentence for a file saved with LF throughout
    EXPECT_TRUE(Mentions(problems, 0, "line 1 ends with a lone LF")) << problems[0];

    problems = Read("PRODUCT_ID=A\r\nNAME=B\rVERSION=1\r\nX=" + std::string(300, 'x') + "\r\nY=" +
                        std::string(253, 'y') + "\r\n", *product);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_TRUE(Mentions(problems, 0, "line 2 ends with a lone CR")) << problems[0];
    EXPECT_TRUE(Mentions(problems, 1, "line 4 is 302 bytes long")) << problems[1];  // line 5: 255, the limit

    problems = Read("NAME=Kelvane Example\r\nVERSION=1.0.0\r\nPUBLISHER=Kelvane\r\n", *product);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(Mentions(problems, 0, "PRODUCT_ID")) << problems[0];
}

TEST(ProductPackChecks, EveryPathOfTheProductMustNameSomethingInThePayload) {
    std::unique_ptr<KvProduct> product(new KvProduct());
    const std::string text = kProduct +
                             "SHORTCUT1=startmenu|{NAME}\\Read me|{app}\\READ ME.txt\r\n"
                             "SHORTCUT2=desktop|Tool|{app}\\bin\\{NAME}.exe||{app}\\bin\\tool.ico,-3\r\n"
                             "SHORTCUT3=desktop|Gone|{app}\\gone.exe||{app}\\bin,1\r\n"
                             "ICON={app}\\bin\\tool.ico,2\r\nPATH={app}\\logs\r\n";
    ASSERT_TRUE(Read(text, *product).empty());
    pack::PayloadTree payload;
    payload.files = {"Read me.txt", "bin/Kelvane Example.exe", "bin/tool.ico"};
    payload.emptyFolders = {"logs"};
    const std::vector<std::string> problems = pack::CheckProductPayload(*product, payload);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_TRUE(Mentions(problems, 0, "SHORTCUT3's target \"{app}\\gone.exe\" names no file")) << problems[0];
    EXPECT_TRUE(Mentions(problems, 1, "SHORTCUT3's icon \"{app}\\bin\" names no file")) << problems[1];

    // A folder is one when a file lies in it; a file is no folder, nor an empty folder a file.
    const std::pair<const char*, size_t> paths[] = {{"{app}\\bin", 0}, {"{app}", 0}, {"{app}\\bin\\tool.ico", 1},
                                                    {"{app}\\bi", 1}, {"{app}\\Logs", 0}};
    for (const auto& path : paths) {
        std::unique_ptr<KvProduct> withPath(new KvProduct());
        ASSERT_TRUE(Read(kProduct + "PATH=" + path.first + "\r\n", *withPath).empty()) << path.first;
        EXPECT_EQ(pack::CheckProductPayload(*withPath, payload).size(), path.second) << path.first;
    }
    std::unique_ptr<KvProduct> withIcon(new KvProduct());
    ASSERT_TRUE(Read(kProduct + "ICON={app}\\logs\r\n", *withIcon).empty());
    EXPECT_EQ(pack::CheckProductPayload(*withIcon, payload).size(), 1u);
}

TEST(ProductPackChecks, GeneratedTexts) {
    std::unique_ptr<KvProduct> product(new KvProduct());
    ASSERT_TRUE(Read(kProduct + "PAYLOAD=files\\main\r\n", *product).empty());
    EXPECT_EQ(pack::ProductSetupText(*product),
              "[setup]\r\nKelvane Example\r\n1.0.0\r\nstandard\r\nkelvane-standard.dll\r\n");
    EXPECT_EQ(pack::PayloadFolder(*product), "payload/files/main");

    pack::PayloadTree payload;
    std::string folders, problem;
    ASSERT_TRUE(pack::FoldersText(payload, folders, problem));
    EXPECT_EQ(folders, "");
    payload.emptyFolders = {"logs", "data/cache"};
    ASSERT_TRUE(pack::FoldersText(payload, folders, problem));
    EXPECT_EQ(folders, "FOLDER1=logs\r\nFOLDER2=data\\cache\r\n");
    payload.emptyFolders = {std::string(247, 'a'), std::string(248, 'a')};  // FOLDER1= and 247 fill a line
    EXPECT_FALSE(pack::FoldersText(payload, folders, problem));
    EXPECT_NE(problem.find("(256 bytes with its key; at most 255)"), std::string::npos) << problem;

    EXPECT_EQ(pack::RtfText("a\\b{c}\x01"), "a\\\\b\\{c\\}");
    EXPECT_EQ(pack::RtfText("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"), "Gr\\u252?\\u223?e \\u8364?");
    EXPECT_EQ(pack::RtfText("\xEF\xBF\xBD\xF0\x9F\x98\x80"), "\\u-3?\\u-10179?\\u-8704?");  // signed, pairs
    EXPECT_EQ(pack::RtfText("\xC0\xAF\xED\xA0\x80\xE2\x82" "x\xFF"), "????x?");  // overlong, surrogate, cut
    const std::string licence = pack::ProductDocument(*product, true);
    EXPECT_EQ(licence.compare(0, 6, "{\\rtf1"), 0);
    EXPECT_NE(licence.find("{\\b Kelvane Example 1.0.0}"), std::string::npos) << licence;
    EXPECT_NE(licence, pack::ProductDocument(*product, false));
}

}  // namespace
