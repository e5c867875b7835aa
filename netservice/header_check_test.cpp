// Requests 32 and 33 against image files, and the account values.
#include "netservice/header_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "common/sample_images.h"
#include "netservice/account_values.h"
#include "support/temp_root.h"

namespace {

using ombrix::test::TempRoot;

CMountRequest request(int32_t code, const std::string& path, const std::string& password = "") {
    CMountRequest r;
    r.m_request = code;
    r.setText(path);
    r.setPassword(password);
    return r;
}

class HeaderCheck : public ::testing::Test {
  protected:
    std::string image(const char* name, const std::string& password = "",
                      const char* signature = nullptr) {
        OmxImageHeader header = ombrix::samples::makeHeader("disc", password);
        if (signature != nullptr) {
            std::memset(&header, 0, 999);
            std::memcpy(reinterpret_cast<char*>(&header) + 140, signature, std::strlen(signature));
        }
        std::string path = (root / name).string();
        ombrix::samples::writeImage(path, header);
        return path;
    }
    TempRoot root;
};

TEST_F(HeaderCheck, PasswordCheckAcceptsTheRightOneAndImagesWithoutAny) {
    std::string locked = image("locked.om4", "secret");
    CMountRequest r = request(33, locked, "secret");
    netsvc::CheckPassword(r);
    EXPECT_EQ(r.m_request, 33);
    for (const char* wrong : {"Secret", "", "secret!"}) {
        r = request(33, locked, wrong);
        netsvc::CheckPassword(r);
        EXPECT_EQ(r.m_request, -7) << wrong;
    }
    r = request(33, image("open.om4"), "anything");
    netsvc::CheckPassword(r);
    EXPECT_EQ(r.m_request, 33);
    // Older formats carry no password, whatever stands at the digest's place.
    std::string old = image("old.om4", "", "ZRM V3.0");
    std::fstream patch(old, std::ios::in | std::ios::out | std::ios::binary);
    patch.seekp(999);
    patch.write("ffffffffffffffffffffffffffffffff", 32);
    patch.close();
    r = request(33, old, "x");
    netsvc::CheckPassword(r);
    EXPECT_EQ(r.m_request, 33);
    r = request(33, image("other.om4", "pw", "ZRM V2.0"), "x");
    netsvc::CheckPassword(r);
    EXPECT_EQ(r.m_request, -7);
}

TEST_F(HeaderCheck, UnreadableHeadersAreErrorsInTheDataWord) {
    CMountRequest r = request(33, "");
    netsvc::CheckPassword(r);
    EXPECT_EQ(r.m_request, -8);
    EXPECT_EQ(r.m_dwData, 87u);
    r = request(32, (root / "missing.om4").string());
    netsvc::GetPasswordDigest(r);
    EXPECT_EQ(r.m_request, -8);
    EXPECT_EQ(r.m_dwData, 2u);
    ombrix::test::writeFile(root / "short.om4", std::string(1068, 'x'));
    r = request(33, (root / "short.om4").string());
    netsvc::CheckPassword(r);
    EXPECT_EQ(r.m_request, -8);
    EXPECT_EQ(r.m_dwData, 38u);
}

TEST_F(HeaderCheck, DigestRequestNeedsTheCurrentFormat) {
    CMountRequest r = request(32, image("locked.om4", "secret"));
    netsvc::GetPasswordDigest(r);
    EXPECT_EQ(r.m_request, 32);
    EXPECT_EQ(r.text(), "5ebe2294ecd0e0f08eab7690d2a6ee69");
    r = request(32, image("open.om4"));
    netsvc::GetPasswordDigest(r);
    EXPECT_EQ(r.text(), "");
    r = request(32, image("old.om4", "", "ZRM V3.0"));
    netsvc::GetPasswordDigest(r);
    EXPECT_EQ(r.m_request, -8);
    EXPECT_EQ(r.m_dwData, 1208u);
}

TEST(AccountValues, RootIsTheSystemAccountAndUnknownUsersTheirSid) {
    EXPECT_EQ(netsvc::AccountSid(0).ToString(), "S-1-5-18");
    EXPECT_EQ(netsvc::AccountSid(1000).ToString(), "S-1-22-1-1000");
    // No account has this id: its SID text stands for the name.
    EXPECT_EQ(netsvc::AccountName(3999999), "S-1-22-1-3999999");
    EXPECT_NE(netsvc::AccountName(0).find("\\root"), std::string::npos);
    EXPECT_EQ(netsvc::GrantServiceLogonRight("NOBODY\\no-such-account-here"), 1332);
}

}  // namespace
