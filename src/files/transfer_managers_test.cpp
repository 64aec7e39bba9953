#include "files/transfer_managers.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/xattr.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "platform/base64.h"
#include "core/file_security.h"
#include "files/documents_folder.h"
#include "files/files_test_support.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TestHome;
using orvik::testing::TempDir;

TEST(DocumentsFolder, LivesUnderTheApplicationsDataFolderAndIsCreatedWhenMissing) {
  TestHome home;
  const fs::path expected = home.dataHome() / "com.orvik.desk/Documents/Orvik";
  EXPECT_EQ(documentsDirectory(), expected);
  EXPECT_TRUE(fs::is_directory(expected));
  fs::remove_all(expected);
  EXPECT_EQ(documentsDirectory(), expected);
  EXPECT_TRUE(fs::is_directory(expected));
  EXPECT_FALSE(fs::exists(home.path() / "Documents"));
}

TEST(DocumentsFolder, DownloadFolderComesFromUserDirsButNeverStandsForHomeOrRoot) {
  TestHome home;
  const fs::path dirs = home.configHome() / "user-dirs.dirs";
  struct Case {
    std::string line;
    fs::path expected;
  };
  const std::vector<Case> cases = {
      {"", home.path() / "Downloads"},
      {"XDG_DOWNLOAD_DIR=\"$HOME/Telechargements\"", home.path() / "Telechargements"},
      {"XDG_DOWNLOAD_DIR=\"/srv/dl\"", "/srv/dl"},
      {"XDG_DOWNLOAD_DIR=\"$HOME\"", home.path() / "Downloads"},
      {"XDG_DOWNLOAD_DIR=\"$HOME/\"", home.path() / "Downloads"},
      {"XDG_DOWNLOAD_DIR=\"/\"", home.path() / "Downloads"},
  };
  for (const auto& c : cases) {
    TempDir::writeFile(dirs, "# written by xdg-user-dirs-update\n" + c.line + "\n");
    EXPECT_EQ(downloadsFolder(), c.expected) << c.line;
  }
}

TEST(TransferNaming, IdRuleAndCopyNames) {
  struct IdCase {
    std::string id;
    bool valid;
  };
  const std::vector<IdCase> ids = {
      {"abc_DEF-123", true}, {std::string(80, 'a'), true}, {std::string(81, 'a'), false}, {"", false},
      {"a.b", false},        {"../x", false},             {"a b", false},               {"a/b", false},
      {"é", false},
  };
  for (const auto& c : ids) EXPECT_EQ(isValidTransferId(c.id), c.valid) << c.id;

  struct CopyCase {
    std::string name;
    int k;
    std::string expected;
  };
  const std::vector<CopyCase> copies = {
      {"photo.jpg", 2, "photo 2.jpg"},   {"photo.jpg", 3, "photo 3.jpg"}, {"README", 2, "README 2"},
      {"a.tar.gz", 2, "a.tar 2.gz"},     {".profile", 2, ".profile 2"},   {"x.", 2, "x 2."},
  };
  for (const auto& c : copies) EXPECT_EQ(numberedCopyName(c.name, c.k), c.expected) << c.name;
}

TEST(Base64, DecodesOnlyStrictStandardText) {
  struct Case {
    std::string text;
    std::optional<std::string> bytes;
  };
  const std::vector<Case> cases = {
      {"", std::string()},
      {"TWFu", std::string("Man")},
      {"TWE=", std::string("Ma")},
      {"TQ==", std::string("M")},
      {"+/+/", std::string("\xfb\xff\xbf", 3)},
      {"AAEC", std::string("\x00\x01\x02", 3)},
      {"TWFu\n", std::nullopt},
      {"TW Fu", std::nullopt},
      {"TWE", std::nullopt},
      {"T===", std::nullopt},
      {"====", std::nullopt},
      {"TQ==TWFu", std::nullopt},
      {"TW=u", std::nullopt},
      {"-_-_", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::decodeBase64Strict(c.text), c.bytes) << c.text;
}

class TransferManagersTest : public ::testing::Test {
 protected:
  fs::path folder() const { return home_.dataHome() / "com.orvik.desk/Documents/Orvik"; }
  static std::string read(const fs::path& file) { return TempDir::readFile(file); }

  TestHome home_;
  DocTransferManager docs_{documentsDirectory};
  ImgTransferManager images_{documentsDirectory};
  VideoTransferManager videos_{documentsDirectory};
};

TEST_F(TransferManagersTest, ChunksLandInOrderAndFinishHandsBackTheFile) {
  ASSERT_EQ(docs_.start("t1", "report.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("t1", "%PDF-"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("t1", std::string("1.4\0\n", 5)), TransferStatus::ok);
  const TransferFinish done = docs_.finish("t1");
  ASSERT_EQ(done.status, TransferStatus::ok);
  EXPECT_EQ(done.file, folder() / "report.pdf");
  EXPECT_EQ(read(done.file), std::string("%PDF-1.4\0\n", 10));
  struct stat info{};
  ASSERT_EQ(::stat(done.file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Finished means forgotten.
  EXPECT_EQ(docs_.append("t1", "more"), TransferStatus::unknownTransfer);
  EXPECT_EQ(docs_.finish("t1").status, TransferStatus::unknownTransfer);
  EXPECT_EQ(read(done.file).size(), 10u);
}

TEST_F(TransferManagersTest, FinishedDocumentsAreQuarantinedImagesAndVideosAreNot) {
  ASSERT_EQ(docs_.start("d", "a.txt"), TransferStatus::ok);
  ASSERT_EQ(images_.start("i", std::nullopt), TransferStatus::ok);
  ASSERT_EQ(videos_.start("v", "video/mp4", 0), TransferStatus::ok);
  const fs::path doc = docs_.finish("d").file;
  const fs::path image = images_.finish("i").file;
  const fs::path video = videos_.finish("v").file;
  auto quarantined = [](const fs::path& file) {
    return ::getxattr(file.c_str(), FileSecurity::quarantineAttribute, nullptr, 0) > 0;
  };
  // Some file systems (tmpfs of old kernels) take no user attributes.
  if (::setxattr(doc.c_str(), "user.orvik.probe", "1", 1, 0) != 0) GTEST_SKIP() << "no user xattrs here";
  EXPECT_TRUE(quarantined(doc));
  EXPECT_FALSE(quarantined(image));
  EXPECT_FALSE(quarantined(video));
}

TEST_F(TransferManagersTest, NamesFromThePageNeverLeaveTheDocumentsFolder) {
  struct Case {
    std::string name;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"../x.pdf", "x.pdf"},          {"../../.ssh/authorized_keys", "authorized_keys"},
      {"..", "file"},                 {"", "file"},
      {".", "file"},                  {"a/b/", "b"},
      {"/etc/passwd", "passwd"},
      // Page JSON can carry "\u0000": the name on disk and the one reported must agree.
      {std::string(".\0", 2), "file"},   {std::string("..\0", 3), "file"},
      {std::string("report.pdf\0.sh", 14), "report.pdf.sh"},
      {"tab\there.txt", "tabhere.txt"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string id = "doc" + std::to_string(n++);
    ASSERT_EQ(docs_.start(id, c.name), TransferStatus::ok) << c.name;
    const TransferFinish done = docs_.finish(id);
    ASSERT_EQ(done.status, TransferStatus::ok);
    EXPECT_EQ(done.file.parent_path(), folder()) << c.name;
    EXPECT_EQ(done.file.filename().string().substr(0, c.written.size()), c.written) << c.name;
    EXPECT_EQ(done.file.string().find('\0'), std::string::npos) << c.name;
    EXPECT_TRUE(fs::is_regular_file(done.file)) << c.name;
  }
  ASSERT_EQ(images_.start("img", "../../evil.jpg"), TransferStatus::ok);
  EXPECT_EQ(images_.finish("img").file, folder() / "evil.jpg");
  EXPECT_FALSE(fs::exists(home_.dataHome() / "evil.jpg"));
}

TEST_F(TransferManagersTest, TheIdRuleAppliesOnlyWhereTheIdBecomesPartOfAFileName) {
  // Documents and named images use the id only as the transfer's key; images
  // without a name and videos are stored under it.
  struct Case {
    std::string id;
    bool keyOnly;   // document, image with a name
    bool fileName;  // image without a name, video
  };
  const std::vector<Case> cases = {
      {"", false, false},
      {"abc_DEF-1", true, true},
      {"msg:42.part=1", true, false},
      {"../up", true, false},
      {"a/b", true, false},
      {"thumb.x", true, false},
      {std::string(81, 'z'), true, false},
      {std::string(kMaxTransferIdLength, 'z'), true, false},
      {std::string(kMaxTransferIdLength + 1, 'z'), false, false},
  };
  ImgTransferManager unnamedImages{documentsDirectory};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id.substr(0, 20));
    const auto expected = [](bool ok) { return ok ? TransferStatus::ok : TransferStatus::invalidTransferId; };
    ASSERT_EQ(docs_.start(c.id, "a.pdf"), expected(c.keyOnly));
    ASSERT_EQ(images_.start(c.id, std::string("cat.png")), expected(c.keyOnly));
    ASSERT_EQ(unnamedImages.start(c.id, std::nullopt), expected(c.fileName));
    ASSERT_EQ(videos_.start(c.id, "video/mp4", 1), expected(c.fileName));
    if (c.keyOnly) {
      ASSERT_EQ(docs_.append(c.id, "pdf"), TransferStatus::ok);
      const TransferFinish document = docs_.finish(c.id);
      ASSERT_EQ(document.status, TransferStatus::ok);
      EXPECT_EQ(document.file.parent_path(), folder());
      EXPECT_EQ(read(document.file), "pdf");
      const TransferFinish image = images_.finish(c.id);
      ASSERT_EQ(image.status, TransferStatus::ok);
      EXPECT_EQ(image.file.parent_path(), folder());
    }
    if (c.fileName) {
      EXPECT_EQ(unnamedImages.finish(c.id).file, folder() / (c.id + ".jpg"));
      EXPECT_EQ(videos_.finish(c.id).file, folder() / (c.id + ".mp4"));
    }
  }
  // Nothing but the documents, named images and the files named after good ids.
  for (const auto& name : TempDir::listing(folder())) {
    EXPECT_TRUE(name.rfind("a", 0) == 0 || name.rfind("cat", 0) == 0) << name;
  }
}

TEST_F(TransferManagersTest, ImageAndVideoNames) {
  ASSERT_EQ(images_.start("im1", std::nullopt), TransferStatus::ok);
  EXPECT_EQ(images_.finish("im1").file.filename(), "im1.jpg");
  ASSERT_EQ(images_.start("im2", std::string("cat.png")), TransferStatus::ok);
  EXPECT_EQ(images_.finish("im2").file.filename(), "cat.png");

  struct Case {
    std::string mime;
    std::string extension;
  };
  const std::vector<Case> cases = {{"video/mp4", "mp4"},        {"Video/QuickTime", "mov"}, {"video/x-msvideo", "avi"},
                                   {"video/webm", "webm"},      {"video/x-matroska", "mkv"}, {"video/x-flv", "mp4"},
                                   {"", "mp4"}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string id = "v" + std::to_string(n++);
    ASSERT_EQ(videos_.start(id, c.mime, 1234), TransferStatus::ok);
    EXPECT_EQ(videos_.finish(id).file.filename(), id + "." + c.extension) << c.mime;
  }
}

TEST_F(TransferManagersTest, EmptyTransferFinishesAsAnEmptyFileEvenAfterTheFolderWasDeleted) {
  fs::remove_all(folder());
  ASSERT_EQ(videos_.start("empty", "video/webm", 0), TransferStatus::ok);
  const TransferFinish done = videos_.finish("empty");
  ASSERT_EQ(done.status, TransferStatus::ok);
  EXPECT_TRUE(fs::is_regular_file(done.file));
  EXPECT_EQ(fs::file_size(done.file), 0u);
}

TEST_F(TransferManagersTest, ChunksForUnknownIdsChangeNothing) {
  EXPECT_EQ(docs_.append("nobody", "x"), TransferStatus::unknownTransfer);
  EXPECT_EQ(docs_.finish("nobody").status, TransferStatus::unknownTransfer);
  EXPECT_TRUE(TempDir::listing(documentsDirectory()).empty());
}

TEST_F(TransferManagersTest, AnotherTransferWithTheSameNameGetsTheNextFreeCopyName) {
  ASSERT_EQ(docs_.start("first", "report.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("first", "one"), TransferStatus::ok);
  // Open at the same time, and after the first has finished.
  ASSERT_EQ(docs_.start("second", "report.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("second", "two"), TransferStatus::ok);
  const fs::path first = docs_.finish("first").file;
  const fs::path second = docs_.finish("second").file;
  ASSERT_EQ(docs_.start("third", "report.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("third", "three"), TransferStatus::ok);
  const fs::path third = docs_.finish("third").file;

  EXPECT_EQ(first.filename(), "report.pdf");
  EXPECT_EQ(second.filename(), "report 2.pdf");
  EXPECT_EQ(third.filename(), "report 3.pdf");
  EXPECT_EQ(read(first), "one");
  EXPECT_EQ(read(second), "two");
  EXPECT_EQ(read(third), "three");

  // A file that was there before (received in an earlier run) is kept too,
  // and so is a dangling link, which is never followed.
  TempDir::writeFile(folder() / "README", "old");
  fs::create_symlink(home_.path() / "target", folder() / "cat.png");
  ASSERT_EQ(images_.start("img", std::string("README")), TransferStatus::ok);
  ASSERT_EQ(images_.start("img2", std::string("cat.png")), TransferStatus::ok);
  EXPECT_EQ(images_.finish("img").file.filename(), "README 2");
  EXPECT_EQ(images_.finish("img2").file.filename(), "cat 2.png");
  EXPECT_EQ(read(folder() / "README"), "old");
  EXPECT_FALSE(fs::exists(home_.path() / "target"));
}

TEST_F(TransferManagersTest, SecondStartWithTheSameIdStartsThatTransferOver) {
  ASSERT_EQ(docs_.start("t", "a.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("t", "stale bytes"), TransferStatus::ok);
  ASSERT_EQ(docs_.start("t", "a.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("t", "fresh"), TransferStatus::ok);
  const TransferFinish done = docs_.finish("t");
  EXPECT_EQ(done.file.filename(), "a.pdf");
  EXPECT_EQ(read(done.file), "fresh");
  EXPECT_EQ(TempDir::listing(folder()), std::vector<std::string>{"a.pdf"});

  // With another name the earlier file stays as written so far.
  ASSERT_EQ(docs_.start("u", "b.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("u", "partial"), TransferStatus::ok);
  ASSERT_EQ(docs_.start("u", "c.pdf"), TransferStatus::ok);
  ASSERT_EQ(docs_.append("u", "whole"), TransferStatus::ok);
  EXPECT_EQ(docs_.finish("u").file.filename(), "c.pdf");
  EXPECT_EQ(read(folder() / "b.pdf"), "partial");
  EXPECT_EQ(read(folder() / "c.pdf"), "whole");
}

TEST_F(TransferManagersTest, AFailedTransferIsNeverReportedAsAFile) {
  ASSERT_EQ(images_.start("bad", std::string("x.jpg")), TransferStatus::ok);
  ASSERT_EQ(images_.append("bad", "abc"), TransferStatus::ok);
  images_.fail("bad");
  EXPECT_EQ(images_.append("bad", "def"), TransferStatus::writeFailed);
  EXPECT_EQ(images_.finish("bad").status, TransferStatus::writeFailed);
  EXPECT_FALSE(fs::exists(folder() / "x.jpg"));
}

TEST_F(TransferManagersTest, AWriteThatRunsOutOfRoomFailsTheTransfer) {
  // A file-size limit makes write() fail with EFBIG part-way, as a full disk
  // fails it with ENOSPC.
  ASSERT_EQ(videos_.start("big", "video/mp4", 10), TransferStatus::ok);
  ASSERT_EQ(videos_.append("big", "1234"), TransferStatus::ok);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 6;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const TransferStatus status = videos_.append("big", "5678");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(status, TransferStatus::writeFailed);
  EXPECT_EQ(videos_.append("big", "9"), TransferStatus::writeFailed);
  EXPECT_EQ(videos_.finish("big").status, TransferStatus::writeFailed);
  EXPECT_FALSE(fs::exists(folder() / "big.mp4"));
}

TEST_F(TransferManagersTest, StartFailsCleanlyWhenTheFolderCannotBeMade) {
  // A plain file where the folder should be: no start can create anything.
  const fs::path blocker = home_.outside() / "not-a-folder";
  TempDir::writeFile(blocker, "x");
  DocTransferManager docs([&] { return blocker / "Orvik"; });
  EXPECT_EQ(docs.start("t", "a.pdf"), TransferStatus::cannotCreateFile);
  EXPECT_EQ(docs.append("t", "x"), TransferStatus::unknownTransfer);
  EXPECT_EQ(docs.finish("t").status, TransferStatus::unknownTransfer);
}

}  // namespace
}  // namespace orvik
