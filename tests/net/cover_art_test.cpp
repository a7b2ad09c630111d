// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/cover_art.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/curl_http_client.h"
#include "support/local_server.h"
#include "support/test_support.h"

namespace sondrel::net::coverart {
namespace {

constexpr const char* kRelease = "1f2e3d4c-0000-4000-8000-00000000000a";
constexpr const char* kNoCover = "1f2e3d4c-0000-4000-8000-0000000000ff";

TEST(CoverArt, Addresses) {
    EXPECT_EQ(FrontCoverUrl("", kRelease),
              std::string("https://coverartarchive.org/release/") + kRelease + "/front");
    EXPECT_EQ(FrontCoverUrl("https://caa.test/", kRelease),
              std::string("https://caa.test/release/") + kRelease + "/front");
    EXPECT_EQ(FrontCoverUrl("", "../x"), "") << "only an identifier goes into the address";
    EXPECT_EQ(ExtensionOf(ImageKind::Png), ".png");
    EXPECT_EQ(ExtensionOf(ImageKind::None), "");
}

class CoverArtServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }
    std::string Url(const std::string& prefix, const char* release = kRelease) {
        return FrontCoverUrl(server.url(prefix), release);
    }

    test::LocalServer server{std::string(SONDREL_SOURCE_DIR) + "/tests/net/data"};
    CurlHttpClient client;
    web::Endpoint local{"", true};
};

TEST_F(CoverArtServer, FetchesTheFrontCoverThroughTheRedirect) {
    const CoverOutcome got = FetchCover(client, local, Url("/caa"), "agent");
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_EQ(got.kind, ImageKind::Jpeg);
    EXPECT_TRUE(got.bytes.starts_with("\xff\xd8\xff"));

    store::PictureFolder folder;
    const store::DownloadOutcome saved =
        DownloadCover(client, local, Url("/caa"), "agent", folder.path(), "../Two Sides");
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(saved.path, folder.path() + "/Two Sides.jpg") << "the name is made safe";
    EXPECT_EQ(test::ReadAll(saved.path).size(), got.bytes.size());
}

TEST_F(CoverArtServer, FailuresSayWhy) {
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    struct Case {
        const char* what;
        std::string url;
        web::Endpoint endpoint;
        std::string error;
    };
    const Case cases[] = {
        {"no cover", Url("/caa", kNoCover), local,
         "Cover Art Archive: " + host + ": " + kMsgNoCover},
        {"not a picture", Url("/caa-text"), local,
         "Cover Art Archive: " + host + ": the answer is not a picture"},
        {"too large", Url("/caa-big"), local,
         "Cover Art Archive: " + host + ": the answer is larger than the limit of 32 MiB"},
        {"redirect to plain http elsewhere", Url("/caa-away"), local,
         "Cover Art Archive: the server sent the transfer to 0.0.0.0:" +
             std::to_string(server.port()) + ", which is not an https address"},
        {"plain http without the allowance", Url("/caa"), web::Endpoint{},
         "Cover Art Archive: only https addresses are used: " + Url("/caa")},
    };
    store::PictureFolder folder;
    for (const Case& c : cases) {
        const CoverOutcome got = FetchCover(client, c.endpoint, c.url, "agent");
        EXPECT_FALSE(got.ok) << c.what;
        EXPECT_EQ(got.error, c.error) << c.what;
        const auto saved = DownloadCover(client, c.endpoint, c.url, "agent", folder.path(), "x");
        EXPECT_FALSE(saved.ok) << c.what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "a failed download left a file";
    // The plain http address elsewhere was refused before it was asked.
    HttpRequest log;
    log.url = server.url("/requests");
    const HttpResponse asked = client.Fetch(log);
    ASSERT_TRUE(asked.ok) << asked.error;
    EXPECT_NE(asked.body.find("/caa-away/"), std::string::npos) << asked.body;
    EXPECT_EQ(asked.body.find("/picture.jpg"), std::string::npos) << asked.body;
}

}  // namespace
}  // namespace sondrel::net::coverart
