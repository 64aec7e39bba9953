#include "files/orvik_file_scheme_handler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "files/documents_folder.h"
#include "files/files_test_support.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using Handler = OrvikFileSchemeHandler;
using orvik::testing::patternBytes;
using orvik::testing::TestHome;
using orvik::testing::TempDir;

TEST(OrvikFileParseRange, AgainstAThousandByteFile) {
  struct Case {
    std::string value;
    std::optional<ByteRange> range;
  };
  const std::vector<Case> cases = {
      {"bytes=0-", ByteRange{0, 999}},
      {"bytes=100-199", ByteRange{100, 199}},
      {"bytes=100-abc", ByteRange{100, 999}},
      {"bytes=999-999", ByteRange{999, 999}},
      {"bytes=+5-9", ByteRange{5, 9}},
      {"bytes=0-99,200-299", ByteRange{0, 999}},
      {"bytes=0-99999999999999999999999", ByteRange{0, 999}},
      // Suffix ranges: the last N bytes, the whole file when N is larger.
      {"bytes=-500", ByteRange{500, 999}},
      {"bytes=-1", ByteRange{999, 999}},
      {"bytes=-1000", ByteRange{0, 999}},
      {"bytes=-5000", ByteRange{0, 999}},
      {"bytes=-0", std::nullopt},
      {"bytes=-+5", std::nullopt},
      {"bytes=--5", std::nullopt},
      {"bytes=-", std::nullopt},
      // Unsatisfiable or unreadable: none, so the whole file goes with 200.
      {"bytes=500-2000", std::nullopt},
      {"bytes=1000-", std::nullopt},
      {"bytes=200-100", std::nullopt},
      {"bytes= 0-99", std::nullopt},
      {"bytes=0x10-20", std::nullopt},
      {"bytes=", std::nullopt},
      {"items=0-99", std::nullopt},
      {"Bytes=0-99", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(Handler::parseRange(c.value, 1000), c.range) << c.value;
  EXPECT_EQ(Handler::parseRange("bytes=0-", 0), std::nullopt);
  EXPECT_EQ(Handler::parseRange("bytes=-10", 0), std::nullopt);
}

TEST(OrvikFileParseRange, LengthsAtAndBeyondTwoToTheSixtyThirdNeverOverflow) {
  constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::string value;
    std::uint64_t total;
    std::optional<ByteRange> range;
  };
  const std::vector<Case> cases = {
      {"bytes=-10", kHalf, ByteRange{kHalf - 10, kHalf - 1}},
      {"bytes=-10", kHalf + 1, ByteRange{kHalf - 9, kHalf}},
      {"bytes=-10", kMax, ByteRange{kMax - 10, kMax - 1}},
      {"bytes=-9223372036854775808", kHalf, ByteRange{0, kHalf - 1}},
      {"bytes=-9223372036854775807", kHalf, ByteRange{1, kHalf - 1}},
      {"bytes=-18446744073709551615", kMax, ByteRange{0, kMax - 1}},
      {"bytes=-99999999999999999999999", kMax, ByteRange{0, kMax - 1}},
      {"bytes=-99999999999999999999999", 1000, ByteRange{0, 999}},
      {"bytes=0-", kMax, ByteRange{0, kMax - 1}},
      {"bytes=9223372036854775807-", kMax, ByteRange{kHalf - 1, kMax - 1}},
      {"bytes=5-9223372036854775807", kHalf, ByteRange{5, kHalf - 1}},
      {"bytes=5-9223372036854775807", kHalf - 1, std::nullopt},
      {"bytes=-1", 1, ByteRange{0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(Handler::parseRange(c.value, c.total), c.range) << c.value << " of " << c.total;
}

TEST(OrvikFileMimeType, ByLowerCasedExtension) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/a/b.mp4", "video/mp4"},          {"/a/B.MP4", "video/mp4"},           {"/x.mov", "video/quicktime"},
      {"/x.avi", "video/x-msvideo"},      {"/x.webm", "video/webm"},           {"/x.mkv", "video/x-matroska"},
      {"/x.m4v", "video/x-m4v"},          {"/x.3gp", "video/3gpp"},            {"/x.jpg", "image/jpeg"},
      {"/x.JPEG", "image/jpeg"},          {"/x.png", "image/png"},             {"/x.gif", "image/gif"},
      {"/x.webp", "image/webp"},          {"/x.heic", "image/heic"},           {"/x.svg", "image/svg+xml"},
      {"/x.pdf", "application/pdf"},      {"/x.zip", "application/zip"},       {"/x.txt", "text/plain"},
      {"/x.mp3", "audio/mpeg"},           {"/x.m4a", "audio/mp4"},             {"/x.wav", "audio/wav"},
      {"/x.ogg", "audio/ogg"},            {"/file.tar.gz", "application/octet-stream"},
      {"/noext", "application/octet-stream"}, {"/dir.mp4/file", "application/octet-stream"},
      {"/.jpg", "application/octet-stream"},
  };
  for (const auto& [path, type] : cases) EXPECT_EQ(Handler::mimeType(path), type) << path;
}

TEST(OrvikFilePath, PercentDecodedAbsolutePathOfTheUrl) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"orvikfile:///home/u/a.jpg", "/home/u/a.jpg"},
      {"orvikfile:///home/u/a%20b%C3%A9.jpg", "/home/u/a bé.jpg"},
      {"ORVIKFILE:///x", "/x"},
      {"orvikfile://host/x/y?q=1#frag", "/x/y"},
      {"orvikfile:/x", "/x"},
      {"orvikfile:///x%2", std::nullopt},
      {"orvikfile:///x%zz", std::nullopt},
      {"orvikfile:///x%00y", std::nullopt},
      {"orvikfile://host", std::nullopt},
      {"orvikfile:relative", std::nullopt},
      {"file:///etc/passwd", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [url, path] : cases) EXPECT_EQ(Handler::filePath(url), path) << url;
}

TEST(OrvikFileErrors, Texts) {
  EXPECT_EQ(Handler::describe(Handler::SchemeError::invalidURL, ""), "Invalid orvikfile:// URL");
  EXPECT_EQ(Handler::describe(Handler::SchemeError::fileNotFound, "/a/b"), "File not found: /a/b");
  EXPECT_EQ(Handler::describe(Handler::SchemeError::responseCreationFailed, ""), "Failed to create HTTP response");
}

std::string bodyOf(const Handler::Response& response) {
  if (!response.file) return response.bytes;
  std::string bytes(response.length, '\0');
  EXPECT_EQ(::pread(response.file->fd(), bytes.data(), bytes.size(), static_cast<off_t>(response.offset)),
            static_cast<ssize_t>(bytes.size()));
  return bytes;
}

class OrvikFileServeTest : public ::testing::Test {
 protected:
  OrvikFileServeTest() {
    docs_ = documentsDirectory();
    thousand_ = patternBytes(1000);
    TempDir::writeFile(docs_ / "a.bin", thousand_);
  }

  Handler::Result get(const fs::path& path, std::optional<std::string> range = std::nullopt,
                      std::string method = "GET") {
    Handler::Request request{std::move(method), "orvikfile://" + path.string(), {}};
    if (range) request.headers.emplace_back("range", *range);
    return handler_->serve(request);
  }

  TestHome home_;
  FileAccessPolicy policy_{FileAccessPolicy::programRoots};
  std::shared_ptr<Handler> handler_ =
      std::make_shared<Handler>(policy_, [](std::string_view origin) { return origin == "https://app.example"; });
  fs::path docs_;
  std::string thousand_;
};

TEST_F(OrvikFileServeTest, RangesStatusesHeadersAndBodies) {
  struct Case {
    std::optional<std::string> range;
    int status;
    std::optional<std::string> contentRange;
    std::size_t first;
    std::size_t length;
  };
  const std::vector<Case> cases = {
      {std::nullopt, 200, std::nullopt, 0, 1000},
      {"bytes=0-", 206, "bytes 0-999/1000", 0, 1000},
      {"bytes=100-199", 206, "bytes 100-199/1000", 100, 100},
      {"bytes=100-abc", 206, "bytes 100-999/1000", 100, 900},
      {"bytes=-300", 206, "bytes 700-999/1000", 700, 300},
      {"bytes=500-2000", 200, std::nullopt, 0, 1000},
      {"bytes=1000-", 200, std::nullopt, 0, 1000},
      {"items=0-99", 200, std::nullopt, 0, 1000},
  };
  for (const auto& c : cases) {
    const Handler::Result result = get(docs_ / "a.bin", c.range);
    ASSERT_TRUE(result.response) << result.errorText;
    const Handler::Response& response = *result.response;
    const std::string label = c.range.value_or("none");
    EXPECT_EQ(response.status, c.status) << label;
    EXPECT_EQ(response.header("Content-Range"), c.contentRange) << label;
    EXPECT_EQ(response.header("Content-Length"), std::to_string(c.length)) << label;
    EXPECT_EQ(bodyOf(response), thousand_.substr(c.first, c.length)) << label;
  }

  const Handler::Response response = *get(docs_ / "a.bin", "bytes=0-9").response;
  std::vector<std::string> names;
  for (const auto& [name, value] : response.headers) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Content-Type", "Accept-Ranges", "Cache-Control",
                                              "Access-Control-Allow-Origin", "Access-Control-Allow-Methods",
                                              "Access-Control-Allow-Headers", "Access-Control-Expose-Headers",
                                              "Content-Range", "Content-Length"}));
  EXPECT_EQ(response.header("content-type"), "application/octet-stream");
  EXPECT_EQ(response.header("Accept-Ranges"), "bytes");
  EXPECT_EQ(response.header("Cache-Control"), "no-cache");
  EXPECT_EQ(response.header("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(response.header("Access-Control-Allow-Methods"), "GET, HEAD, OPTIONS");
  EXPECT_EQ(response.header("Access-Control-Expose-Headers"), "Content-Range, Accept-Ranges, Content-Length");
}

TEST_F(OrvikFileServeTest, EmptyFileHeadAndMimeTypes) {
  TempDir::writeFile(docs_ / "empty.txt", "");
  const Handler::Response empty = *get(docs_ / "empty.txt", "bytes=0-").response;
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.header("Content-Length"), "0");
  EXPECT_EQ(empty.header("Content-Type"), "text/plain");
  EXPECT_EQ(bodyOf(empty), "");

  TempDir::writeFile(docs_ / "CLIP.MP4", "abc");
  const Handler::Response head = *get(docs_ / "CLIP.MP4", std::nullopt, "HEAD").response;
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("Content-Type"), "video/mp4");
  EXPECT_EQ(head.header("Content-Length"), "3");
}

TEST_F(OrvikFileServeTest, PreflightNeedsNoFile) {
  for (const std::string method : {"OPTIONS", "options", "Options"}) {
    const Handler::Result result = get(docs_ / "missing.bin", std::nullopt, method);
    ASSERT_TRUE(result.response) << method;
    EXPECT_EQ(result.response->status, 204);
    EXPECT_EQ(result.response->header("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(result.response->header("Access-Control-Allow-Methods"), "GET, HEAD, OPTIONS");
    EXPECT_EQ(result.response->header("Access-Control-Allow-Headers"), "*");
    EXPECT_EQ(result.response->header("Access-Control-Max-Age"), "86400");
    EXPECT_EQ(result.response->header("Content-Type"), std::nullopt);
    EXPECT_EQ(result.response->header("Content-Length"), std::nullopt);
    EXPECT_EQ(result.response->bodyLength(), 0u);
  }
}

TEST_F(OrvikFileServeTest, ServesOnlyRegularFilesInsideTheAllowedPlaces) {
  const fs::path home = home_.path();
  TempDir::writeFile(home / ".ssh/id_ed25519", "secret key");
  TempDir::writeFile(home / "Downloads/movie.webm", "downloaded");
  TempDir::writeFile(home / "Pictures/picked.png", "picked");
  TempDir::writeFile(home / "Pictures/other.png", "other");
  TempDir::writeFile(home_.dataHome() / "com.orvik.desk-evil/x.txt", "sibling");
  fs::create_symlink(home / ".ssh/id_ed25519", docs_ / "link-out");
  fs::create_symlink(docs_ / "a.bin", home / "link-in");
  fs::create_directories(docs_ / "folder.mp4");
  ASSERT_EQ(::mkfifo((docs_ / "pipe.mp4").c_str(), 0600), 0);
  policy_.allowPickedFile(home / "Pictures/picked.png");

  struct Case {
    fs::path path;
    std::optional<std::string> body;  // none: not found
  };
  const std::vector<Case> cases = {
      {docs_ / "a.bin", thousand_},
      {home / "Downloads/movie.webm", "downloaded"},
      {home / "Pictures/picked.png", "picked"},
      {home / "link-in", thousand_},  // a link from outside to an allowed file is judged by its target
      {docs_ / (home / "Downloads/movie.webm").lexically_relative(docs_), "downloaded"},
      {home / ".ssh/id_ed25519", std::nullopt},
      {docs_ / "link-out", std::nullopt},
      {docs_ / (home / ".ssh/id_ed25519").lexically_relative(docs_), std::nullopt},
      {home / "Pictures/other.png", std::nullopt},
      {home_.dataHome() / "com.orvik.desk-evil/x.txt", std::nullopt},
      {docs_ / "folder.mp4", std::nullopt},
      {docs_ / "pipe.mp4", std::nullopt},
      {docs_ / "missing.bin", std::nullopt},
      {"/etc/passwd", std::nullopt},
  };
  for (const auto& c : cases) {
    const Handler::Result result = get(c.path);
    if (c.body) {
      ASSERT_TRUE(result.response) << c.path << ": " << result.errorText;
      EXPECT_EQ(bodyOf(*result.response), *c.body) << c.path;
    } else {
      EXPECT_FALSE(result.response) << c.path;
      EXPECT_EQ(result.error, Handler::SchemeError::fileNotFound) << c.path;
      EXPECT_EQ(result.errorText, "File not found: " + c.path.string()) << c.path;
    }
  }
}

TEST_F(OrvikFileServeTest, AnOriginHeaderMustBeTrusted) {
  Handler::Request request{"GET", "orvikfile://" + (docs_ / "a.bin").string(), {{"Origin", "https://app.example"}}};
  EXPECT_TRUE(handler_->serve(request).response);
  request.headers = {{"origin", "https://evil.example"}};
  const Handler::Result refused = handler_->serve(request);
  EXPECT_FALSE(refused.response);
  EXPECT_EQ(refused.error, Handler::SchemeError::fileNotFound);
}

TEST_F(OrvikFileServeTest, LargeBodiesAreHandedOverAsAFileSpanNotRead) {
  const std::uint64_t size = Handler::kInMemoryBodyLimit * 2 + 17;
  const std::string bytes = patternBytes(size);
  TempDir::writeFile(docs_ / "big.mkv", bytes);

  const Handler::Response whole = *get(docs_ / "big.mkv").response;
  EXPECT_TRUE(whole.file);
  EXPECT_TRUE(whole.bytes.empty());
  EXPECT_EQ(whole.offset, 0u);
  EXPECT_EQ(whole.length, size);
  EXPECT_EQ(whole.header("Content-Length"), std::to_string(size));

  const Handler::Response tail = *get(docs_ / "big.mkv", "bytes=-" + std::to_string(size - 5)).response;
  EXPECT_EQ(tail.status, 206);
  EXPECT_EQ(tail.bodyLength(), size - 5);
  EXPECT_EQ(bodyOf(tail), bytes.substr(5));

  const Handler::Response small = *get(docs_ / "big.mkv", "bytes=1000-1999").response;
  EXPECT_FALSE(small.file);
  EXPECT_EQ(small.bytes, bytes.substr(1000, 1000));
}

TEST_F(OrvikFileServeTest, StartTaskAnswersOnceOnTheMainQueue) {
  platform::VirtualQueue main;
  platform::ScopedMainQueue scoped(main);
  std::vector<Handler::Result> results;
  const std::vector<std::string> urls = {"orvikfile://" + (docs_ / "a.bin").string(), "orvikfile:///nowhere",
                                         "bogus:x"};
  for (const auto& url : urls) {
    handler_->startTask({"GET", url, {{"Range", "bytes=0-9"}}}, [&](Handler::Result r) { results.push_back(r); });
  }
  handler_->startTask({"OPTIONS", urls[1], {}}, [&](Handler::Result r) { results.push_back(r); });
  // Replies arrive through the main queue only.
  EXPECT_TRUE(results.empty());
  while (results.size() < 4) main.runUntilIdle();
  main.runUntilIdle();
  ASSERT_EQ(results.size(), 4u);
  int served = 0, missing = 0, invalid = 0, preflight = 0;
  for (const auto& r : results) {
    if (r.response && r.response->status == 206) ++served;
    if (r.response && r.response->status == 204) ++preflight;
    if (!r.response && r.error == Handler::SchemeError::fileNotFound) ++missing;
    if (!r.response && r.error == Handler::SchemeError::invalidURL) ++invalid;
  }
  EXPECT_EQ(served, 1);
  EXPECT_EQ(missing, 1);
  EXPECT_EQ(invalid, 1);
  EXPECT_EQ(preflight, 1);
}

TEST_F(OrvikFileServeTest, LoadsInFlightWhenTheHandlerGoesAreStillAnsweredOnce) {
  platform::VirtualQueue main;
  platform::ScopedMainQueue scoped(main);
  constexpr int kLoads = 40;
  int answered = 0;
  for (int i = 0; i < kLoads; ++i) {
    handler_->startTask({"GET", "orvikfile://" + (docs_ / "a.bin").string(), {}}, [&](Handler::Result) { ++answered; });
  }
  handler_.reset();
  for (int spin = 0; spin < 1000000 && answered < kLoads; ++spin) {
    main.runUntilIdle();
    std::this_thread::yield();
  }
  main.runUntilIdle();
  EXPECT_EQ(answered, kLoads);
}

}  // namespace
}  // namespace orvik
