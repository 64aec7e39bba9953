#include "updater/update_downloader.h"

#include <gtest/gtest.h>

#include "platform/crypto.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/temp_dir.h"
#include "platform/test_support/wait_for.h"
#include "updater/recording_update_alerts.h"
#include "updater/testing/update_feed_server.h"

namespace orvik {
namespace {

std::string digestOf(const std::string& bytes) { return platform::crypto::hexString(platform::crypto::sha256(bytes)); }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(UpdateErrorTest, DescribesEachFailureWithItsUserText) {
  EXPECT_EQ(UpdateError::installFailed("Could not verify file integrity.").errorDescription(),
            "Install failed: Could not verify file integrity.");
  EXPECT_EQ(UpdateError::downloadFailed().errorDescription(), "DMG download failed.");
  EXPECT_EQ((UpdateError{UpdateError::Kind::mountFailed, {}}).errorDescription(), "Could not mount the update file.");
  EXPECT_EQ((UpdateError{UpdateError::Kind::appNotFound, {}}).errorDescription(), "App not found inside the update.");
}

TEST(UpdateArchiveHashTest, HashesAcrossReadBoundariesLikeOneDigest) {
  testing::TempDir dir;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kUpdateHashChunkBytes - 1, kUpdateHashChunkBytes,
                                 kUpdateHashChunkBytes * 2 + 17}) {
    const std::string bytes = testing::updateArchiveBytes(size);
    testing::TempDir::writeFile(dir / "a", bytes);
    EXPECT_EQ(sha256OfFile(dir / "a"), digestOf(bytes)) << size;
  }
  EXPECT_FALSE(sha256OfFile(dir / "missing"));
}

struct ArchiveCase {
  const char* name;
  std::size_t size;
  enum { right, rightUpper, wrong, empty } digest;
  ArchiveCheck check;
  std::uint64_t reportedKB;
};

class ArchiveCheckTest : public ::testing::TestWithParam<ArchiveCase> {};

TEST_P(ArchiveCheckTest, ChecksTheSizeBeforeTheDigest) {
  const auto& c = GetParam();
  testing::TempDir dir;
  const std::string bytes = testing::updateArchiveBytes(c.size);
  testing::TempDir::writeFile(dir / "a.tar", bytes);
  std::string expected;
  switch (c.digest) {
    case ArchiveCase::right: expected = digestOf(bytes); break;
    case ArchiveCase::rightUpper: expected = upper(digestOf(bytes)); break;
    case ArchiveCase::wrong: expected = digestOf("other"); break;
    case ArchiveCase::empty: break;
  }
  const auto verdict = checkDownloadedArchive(dir / "a.tar", expected);
  EXPECT_EQ(verdict.check, c.check);
  EXPECT_EQ(verdict.size / 1024, c.reportedKB);
}

INSTANTIATE_TEST_SUITE_P(Table, ArchiveCheckTest,
                         ::testing::Values(ArchiveCase{"justTooSmall", 511999, ArchiveCase::right, ArchiveCheck::tooSmall, 499},
                                           ArchiveCase{"smallestTaken", 512000, ArchiveCase::right, ArchiveCheck::accepted, 500},
                                           ArchiveCase{"upperCaseDigest", 600000, ArchiveCase::rightUpper, ArchiveCheck::accepted, 585},
                                           ArchiveCase{"wrongDigest", 600000, ArchiveCase::wrong, ArchiveCheck::tampered, 585},
                                           ArchiveCase{"noDigest", 600000, ArchiveCase::empty, ArchiveCheck::tampered, 585},
                                           ArchiveCase{"emptyFile", 0, ArchiveCase::empty, ArchiveCheck::tooSmall, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ArchiveCheckTest, AMissingFileIsTooSmall) {
  testing::TempDir dir;
  EXPECT_EQ(checkDownloadedArchive(dir / "gone.tar", "ab").check, ArchiveCheck::tooSmall);
}

// Against the local update download host of tools/devservice.
class UpdateDownloaderIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    serverDir_ = new testing::TempDir();
    server_ = testing::UpdateFeedServer::start(serverDir_->path().string()).release();
  }
  static void TearDownTestSuite() {
    delete server_;
    delete serverDir_;
  }
  void SetUp() override {
    ASSERT_TRUE(server_);
    requestsBefore_ = server_->requests().size();
    downloader_ = std::make_unique<UpdateDownloader>(
        UpdateDownloader::Dependencies{queue_, alerts_, server_->settings(), folder_.path(), "help@orvik.test"});
  }
  void waitUntilIdle() {
    ASSERT_TRUE(testing::waitFor([&] { return !downloader_->state().isDownloading; }, [&] { queue_.runUntilIdle(); },
                                 60.0));
    queue_.runUntilIdle();
  }
  std::size_t filesInFolder() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder_.path()), {}));
  }
  std::vector<std::string> newRequests() const {
    auto all = server_->requests();
    return {all.begin() + static_cast<long>(requestsBefore_), all.end()};
  }

  static testing::TempDir* serverDir_;
  static testing::UpdateFeedServer* server_;
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  RecordingUpdateAlerts alerts_;
  testing::TempDir folder_;
  std::unique_ptr<UpdateDownloader> downloader_;
  std::size_t requestsBefore_ = 0;
};
testing::TempDir* UpdateDownloaderIntegration::serverDir_ = nullptr;
testing::UpdateFeedServer* UpdateDownloaderIntegration::server_ = nullptr;

enum class Where { pinned, localhost, unpinned };
enum class Digest { good, goodUpper, tampered, none, exact };

struct DownloadCase {
  const char* name;
  Where where;
  const char* path;
  Digest digest;
  // Expected:
  bool installing;
  const char* error;  // the final errorMessage; empty when none
  const char* alertTitle;  // empty when no alert
  const char* alertReasonPart;
  const char* forbiddenServer;  // a server that must have received nothing
};

class UpdateDownloadTableIntegration : public UpdateDownloaderIntegration,
                                       public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(UpdateDownloadTableIntegration, EndsInTheRightStateAndKeepsOnlyAVerifiedArchive) {
  const auto& c = GetParam();
  std::string base = c.where == Where::pinned ? server_->url : c.where == Where::localhost ? server_->localhost
                                                                                            : server_->unpinned;
  std::string expected;
  switch (c.digest) {
    case Digest::good: expected = server_->sha256; break;
    case Digest::goodUpper: expected = upper(server_->sha256); break;
    case Digest::tampered: expected = digestOf("another file"); break;
    case Digest::none: break;
    case Digest::exact: expected = digestOf(testing::updateArchiveBytes(512000)); break;
  }
  int changes = 0;
  const auto subscription = downloader_->changed.add([&] { ++changes; });
  downloader_->downloadAndInstall(base + c.path, expected);
  EXPECT_TRUE(downloader_->state().isDownloading);
  waitUntilIdle();

  const auto& state = downloader_->state();
  EXPECT_EQ(state.isInstalling, c.installing);
  EXPECT_FALSE(state.isDownloading);
  EXPECT_EQ(state.errorMessage.value_or(""), c.error);
  if (c.installing) {
    ASSERT_TRUE(downloader_->stagedArchive());
    EXPECT_EQ(downloader_->stagedArchive()->parent_path(), folder_.path());
    EXPECT_EQ(sha256OfFile(*downloader_->stagedArchive()), c.digest == Digest::exact ? expected : server_->sha256);
    EXPECT_EQ(filesInFolder(), 1u);
    EXPECT_DOUBLE_EQ(state.downloadProgress, 1.0);
  } else {
    EXPECT_FALSE(downloader_->stagedArchive());
    EXPECT_EQ(filesInFolder(), 0u) << "a file that failed is deleted";
  }
  if (*c.alertTitle) {
    ASSERT_EQ(alerts_.alerts.size(), 1u);
    EXPECT_TRUE(alerts_.alerts[0].critical);
    EXPECT_EQ(alerts_.alerts[0].message, std::string("⚠️ ") + c.alertTitle);
    EXPECT_NE(alerts_.alerts[0].informative.find(c.alertReasonPart), std::string::npos) << alerts_.alerts[0].informative;
  } else {
    EXPECT_TRUE(alerts_.alerts.empty());
  }
  if (*c.forbiddenServer) {
    for (const auto& request : newRequests()) EXPECT_NE(request.rfind(c.forbiddenServer, 0), 0u) << request;
  }
  EXPECT_GT(changes, 1);
}

constexpr const char* kNetworkAttack = "Update Blocked — Possible Network Attack";
constexpr const char* kTampered = "Update Blocked — File Tampered";
INSTANTIATE_TEST_SUITE_P(
    Table, UpdateDownloadTableIntegration,
    ::testing::Values(
        DownloadCase{"rightDigest", Where::pinned, "/archives/update.tar", Digest::good, true, "", "", "", ""},
        DownloadCase{"upperCaseDigest", Where::pinned, "/archives/update.tar", Digest::goodUpper, true, "", "", "", ""},
        DownloadCase{"exactlyTheSmallestSize", Where::pinned, "/archives/exact.tar", Digest::exact, true, "", "", "",
                     ""},
        DownloadCase{"redirectOnTheSameHost", Where::pinned, "/redirect/same/archives/update.tar", Digest::good, true,
                     "", "", "", ""},
        DownloadCase{"wrongDigest", Where::pinned, "/archives/update.tar", Digest::tampered, false,
                     "Security check failed — update blocked.", kTampered,
                     "does not match the expected checksum", ""},
        DownloadCase{"noDigest", Where::pinned, "/archives/update.tar", Digest::none, false,
                     "Security check failed — update blocked.", kTampered, "contact Orvik support at help@orvik.test.",
                     ""},
        DownloadCase{"tooSmall", Where::pinned, "/archives/small.tar", Digest::good, false,
                     "Install failed: Download failed: received invalid file (499 KB). Please check your connection "
                     "and try again.",
                     "", "", ""},
        DownloadCase{"notFound", Where::pinned, "/archives/gone.tar", Digest::good, false, "DMG download failed.", "", "",
                     ""},
        DownloadCase{"unpinnedKey", Where::unpinned, "/archives/update.tar", Digest::good, false,
                     "DMG download failed.", kNetworkAttack,
                     "could not verify the identity of the update server (127.0.0.1)", "unpinned"},
        DownloadCase{"hostNotAllowed", Where::localhost, "/archives/update.tar", Digest::good, false,
                     "DMG download failed.", kNetworkAttack, "redirected to an unknown server (localhost)", "pinned"},
        DownloadCase{"redirectToAnotherHost", Where::pinned, "/redirect/foreign/archives/update.tar", Digest::good,
                     false, "DMG download failed.", kNetworkAttack, "redirected to an unknown server (localhost)", ""},
        DownloadCase{"redirectToHttp", Where::pinned, "/redirect/http/archives/update.tar", Digest::good, false,
                     "DMG download failed.", kNetworkAttack, "redirected to an unknown server (http://127.0.0.1)",
                     "http"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateDownloaderIntegration, IgnoresAStartWhileBusyAndClearsTheLastErrorOnTheNextStart) {
  downloader_->downloadAndInstall(server_->url + "/archives/gone.tar", server_->sha256);
  downloader_->downloadAndInstall(server_->url + "/archives/update.tar", server_->sha256);  // ignored
  waitUntilIdle();
  EXPECT_EQ(downloader_->state().errorMessage, "DMG download failed.");
  EXPECT_EQ(newRequests(), (std::vector<std::string>{"pinned /archives/gone.tar"}));

  downloader_->downloadAndInstall(server_->url + "/archives/update.tar", server_->sha256);
  EXPECT_FALSE(downloader_->state().errorMessage);
  EXPECT_EQ(downloader_->state().downloadProgress, 0.0);
  waitUntilIdle();
  ASSERT_TRUE(downloader_->state().isInstalling);
  // Installing: a start is ignored even though the download has ended.
  downloader_->downloadAndInstall(server_->url + "/archives/gone.tar", server_->sha256);
  queue_.runUntilIdle();
  EXPECT_TRUE(downloader_->state().isInstalling);
  EXPECT_FALSE(downloader_->state().isDownloading);
}

TEST_F(UpdateDownloaderIntegration, AnAddressThatDoesNotParseChangesNothing) {
  downloader_->downloadAndInstall("not an address", server_->sha256);
  EXPECT_FALSE(downloader_->state().isDownloading);
  EXPECT_FALSE(downloader_->state().errorMessage);
}

}  // namespace
}  // namespace orvik
