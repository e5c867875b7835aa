#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/md5_digest.h"
#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "oxtenv.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
using ombrix::test::TempRoot;

namespace {

class ImageHeader : public ::testing::Test {
  protected:
    std::string image(const std::string& description, const std::string& password = "") {
        std::string path = (root_ / "images/disc.om4").string();
        ombrix::samples::writeImage(path, ombrix::samples::makeHeader(description, password));
        return path;
    }
    TempRoot root_;
};

TEST_F(ImageHeader, ReadErrorsAreCodes) {
    OmxImageHeader h;
    EXPECT_EQ(OMXGetHeader(nullptr, &h), 87);
    EXPECT_EQ(OMXGetHeader("/x", nullptr), 87);
    EXPECT_EQ(OMXGetHeader((root_ / "missing.om4").c_str(), &h), 2);
    EXPECT_EQ(OMXGetHeader((root_ / "no/dir/x.om4").c_str(), &h), 3);
    EXPECT_EQ(OMXGetHeader(root_.path().c_str(), &h), 5);
    ombrix::test::writeFile(root_ / "short.om4", std::string(1068, 'x'));
    EXPECT_EQ(OMXGetHeader((root_ / "short.om4").c_str(), &h), 38);
    EXPECT_EQ(OMXHasPWD((root_ / "short.om4").c_str()), 0);

    std::string path = image("Disc");
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    EXPECT_STREQ(h.description, "Disc");
    EXPECT_EQ(h.formatMark, kOmxFormatMark);
}

TEST_F(ImageHeader, PasswordIsCheckedChangedAndCleared) {
    std::string path = image("Disc", "secret");
    EXPECT_EQ(OMXHasPWD(path.c_str()), 1);
    EXPECT_EQ(OMXSetPWD(path.c_str(), "wrong", "new"), 86);
    EXPECT_EQ(OMXSetPWD(path.c_str(), "secret", "new"), 0);
    OmxImageHeader h;
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    EXPECT_EQ(std::string(h.passwordDigest), *ombrix::md5Hex("new"));
    EXPECT_EQ(OMXSetPWD(path.c_str(), "new", ""), 0);
    EXPECT_EQ(OMXHasPWD(path.c_str()), 0);
    EXPECT_EQ(OMXSetPWD(path.c_str(), "anything", "again"), 0);  // no password: no check
    EXPECT_EQ(OMXHasPWD(path.c_str()), 1);
    EXPECT_EQ(OMXSetPWD(path.c_str(), nullptr, "x"), 87);

    // The rewritten header carries a valid checksum and the rest of the file is untouched.
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    std::string body(reinterpret_cast<const char*>(&h), kOmxChecksummedBytes);
    EXPECT_EQ(std::string(h.checksum), *ombrix::md5Hex(body));
    EXPECT_EQ(fs::file_size(path), 1069u + 282u);
}

TEST_F(ImageHeader, AHeaderWithAWrongChecksumIsNeverWritten) {
    std::string path = image("Disc");
    std::string bytes = ombrix::test::readFile(path);
    bytes[851] = 'X';  // description changed behind the checksum's back
    ombrix::test::writeFile(path, bytes);
    EXPECT_EQ(OMXSetPWD(path.c_str(), "", "new"), 1208);
    EXPECT_EQ(OMXSetDescription(path.c_str(), "New"), 1208);
    EXPECT_EQ(ombrix::test::readFile(path), bytes);
}

TEST_F(ImageHeader, DescriptionReachesHeaderAndSharedEntry) {
    std::string path = image("Old");
    std::string catalogue = (root_ / "OMXimg.dat").string();
    EnvSetGlobalValue("OmxConfigFileNet", catalogue.c_str());
    ombrix::test::writeFile(catalogue,
                            "[Images]\r\nOMXImage_5001=" + path + "|p|d|E|1|2|1|Old\r\n");
    EnvSetGlobalValue("OMXImage_5001", (path + "|p|d|E|1|2|1|Old").c_str());
    EnvSetGlobalValue("OMXIndexHiNet", "5001");

    std::string longText(200, 'n');
    EXPECT_EQ(OMXSetDescription(path.c_str(), longText.c_str()), 0);
    OmxImageHeader h;
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    EXPECT_EQ(std::string(h.description, 128), longText.substr(0, 128));
    EXPECT_EQ(
        ombrix::test::readFile(catalogue),
        "[IMAGES]\r\nOMXIMAGE_5001=" + path + "|p|d|E|1|2|1|" + longText.substr(0, 128) + "\r\n");
}

}  // namespace

namespace {

// Changes of one header from several processes at once: each is made whole, none undoes
// another, and none fails because the file is busy for a moment.
TEST_F(ImageHeader, ConcurrentChangesNeitherFailNorUndoEachOther) {
    const std::string path = image("start", "p0");
    constexpr int kPasswordChanges = 150;
    constexpr int kDescriptionChanges = 300;
    std::vector<pid_t> children;
    children.push_back(::fork());
    if (children.back() == 0) {
        // One process walks the password from p0 to p150, one change after the other.
        for (int n = 0; n < kPasswordChanges; ++n) {
            std::string from = "p" + std::to_string(n), to = "p" + std::to_string(n + 1);
            if (OMXSetPWD(path.c_str(), from.c_str(), to.c_str()) != 0) _exit(1);
        }
        _exit(0);
    }
    for (int writer = 0; writer < 2; ++writer) {
        children.push_back(::fork());
        if (children.back() == 0) {
            for (int n = 0; n < kDescriptionChanges; ++n) {
                std::string text = "writer " + std::to_string(writer) + " " + std::to_string(n);
                if (OMXSetDescription(path.c_str(), text.c_str()) != 0) _exit(2);
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    }
    OmxImageHeader h;
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    EXPECT_EQ(std::string(h.passwordDigest), *ombrix::md5Hex("p150"));
    EXPECT_EQ(std::string(h.description).rfind("writer ", 0), 0u);
}

}  // namespace
