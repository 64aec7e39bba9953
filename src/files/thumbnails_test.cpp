#include "files/thumbnails.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/documents_folder.h"
#include "files/files_test_support.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TestHome;
using orvik::testing::TempDir;

TEST(ThumbnailSize, FitsEightHundredSquareRoundedDownAndAtLeastOnePixel) {
  struct Case {
    PixelSize source;
    PixelSize expected;
  };
  const std::vector<Case> cases = {
      {{4000, 3000}, {800, 600}}, {{3000, 4000}, {600, 800}}, {{1000, 333}, {800, 266}},
      {{800, 600}, {800, 600}},   {{800, 800}, {800, 800}},   {{10, 10}, {10, 10}},
      {{801, 1}, {800, 1}},       {{20000, 10}, {800, 1}},    {{10, 20000}, {1, 800}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scaledThumbnailSize(c.source), c.expected) << c.source.width << "x" << c.source.height;
  }
}

TEST(ThumbnailKind, VideoExtensionsIgnoringCase) {
  for (const char* path : {"/a/b.mp4", "/a/B.MOV", "x.avi", "x.webm", "x.mkv", "x.m4v", "x.3gp"}) {
    EXPECT_TRUE(isVideoPath(path)) << path;
  }
  for (const char* path : {"/a/b.heic", "x.jpg", "x.pdf", "/dir.mp4/file", "mp4"}) {
    EXPECT_FALSE(isVideoPath(path)) << path;
  }
}

struct PixbufUnref {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufUnref>;

Pixbuf solid(int width, int height, guint32 rgba, bool alpha = false) {
  Pixbuf pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, width, height));
  gdk_pixbuf_fill(pixbuf.get(), rgba);
  return pixbuf;
}

void save(GdkPixbuf* pixbuf, const fs::path& file, const char* type) {
  ASSERT_TRUE(gdk_pixbuf_save(pixbuf, file.c_str(), type, nullptr, nullptr)) << file;
}

// A JPEG whose pixels are stored lying on their side, with the EXIF
// orientation 6 ("rotate 90° clockwise to show") as cameras write it: red
// on the stored left half, blue on the right.
std::string sidewaysJpeg(int width, int height) {
  Pixbuf pixbuf = solid(width, height, 0x0000FFFF);
  Pixbuf red = solid(width / 2, height, 0xFF0000FF);
  gdk_pixbuf_copy_area(red.get(), 0, 0, width / 2, height, pixbuf.get(), 0, 0);
  gchar* buffer = nullptr;
  gsize size = 0;
  EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "jpeg", nullptr, "quality", "95", nullptr));
  std::string jpeg(buffer, size);
  g_free(buffer);
  // APP1 "Exif" with a big-endian TIFF header and one IFD entry: tag 0x0112
  // (Orientation), type SHORT, count 1, value 6.
  const std::string tiff = std::string("MM\0\x2A\0\0\0\x08", 8) + std::string("\0\x01", 2) +
                           std::string("\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 12) + std::string("\0\0\0\0", 4);
  const std::string payload = std::string("Exif\0\0", 6) + tiff;
  const std::size_t length = payload.size() + 2;
  const std::string segment = std::string("\xFF\xE1", 2) + static_cast<char>(length >> 8) +
                              static_cast<char>(length & 0xFF) + payload;
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

struct Rgb {
  int r, g, b;
};

Rgb pixelAt(GdkPixbuf* pixbuf, int x, int y) {
  const guchar* p = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) +
                    x * gdk_pixbuf_get_n_channels(pixbuf);
  return {p[0], p[1], p[2]};
}

class ThumbnailsTest : public ::testing::Test {
 protected:
  static Pixbuf load(const fs::path& file) {
    GError* error = nullptr;
    Pixbuf pixbuf(gdk_pixbuf_new_from_file(file.c_str(), &error));
    if (error) g_error_free(error);
    return pixbuf;
  }
  static PixelSize sizeOf(const fs::path& jpeg) {
    Pixbuf pixbuf = load(jpeg);
    if (!pixbuf) return {};
    return {gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get())};
  }
  static bool isJpeg(const fs::path& file) {
    const std::string bytes = TempDir::readFile(file);
    return bytes.size() > 3 && bytes.substr(0, 3) == "\xFF\xD8\xFF";
  }

  TestHome home_;
  fs::path work_ = home_.outside() / "sources";
  fs::path docs_ = documentsDirectory();

  void SetUp() override { fs::create_directories(work_); }
};

TEST_F(ThumbnailsTest, ImagesAreScaledToFitAndWrittenAsJpegUnderTheThumbName) {
  struct Case {
    std::string file;
    PixelSize source;
    const char* type;
    PixelSize expected;
  };
  const std::vector<Case> cases = {
      {"photo.png", {1600, 1200}, "png", {800, 600}},
      {"small.jpg", {640, 480}, "jpeg", {640, 480}},
      {"strip.png", {10, 4000}, "png", {2, 800}},
      {"thin.png", {20000, 10}, "png", {800, 1}},
      {"shared.webp", {2000, 1000}, "webp", {800, 400}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path source = work_ / c.file;
    save(solid(c.source.width, c.source.height, 0x336699FF).get(), source, c.type);
    const std::string id = "img" + std::to_string(n++);
    const std::optional<fs::path> thumb = makeImageThumbnail(source, id);
    ASSERT_TRUE(thumb) << c.file;
    EXPECT_EQ(*thumb, docs_ / ("thumb_" + id + ".jpg"));
    EXPECT_TRUE(isJpeg(*thumb)) << c.file;
    EXPECT_EQ(sizeOf(*thumb), c.expected) << c.file;
  }
  // Only finished thumbnails are in the folder: no temporary files remain.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(docs_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"thumb_img0.jpg", "thumb_img1.jpg", "thumb_img2.jpg", "thumb_img3.jpg",
                                              "thumb_img4.jpg"}));
}

TEST_F(ThumbnailsTest, OrientationTagIsApplied) {
  const fs::path source = work_ / "sideways.jpg";
  TempDir::writeFile(source, sidewaysJpeg(1600, 800));
  const std::optional<fs::path> thumb = makeImageThumbnail(source, "rot");
  ASSERT_TRUE(thumb);
  Pixbuf pixbuf = load(*thumb);
  ASSERT_TRUE(pixbuf);
  // Stored 1600 × 800, shown upright 800 × 1600, fitted to 400 × 800.
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf.get()), 400);
  EXPECT_EQ(gdk_pixbuf_get_height(pixbuf.get()), 800);
  // Turned clockwise, the stored left (red) half is on top.
  const Rgb top = pixelAt(pixbuf.get(), 200, 100);
  const Rgb bottom = pixelAt(pixbuf.get(), 200, 700);
  EXPECT_GT(top.r, 200);
  EXPECT_LT(top.b, 60);
  EXPECT_GT(bottom.b, 200);
  EXPECT_LT(bottom.r, 60);
}

TEST_F(ThumbnailsTest, TransparencyIsLaidOnWhite) {
  const fs::path source = work_ / "clear.png";
  save(solid(100, 50, 0x00000000, true).get(), source, "png");
  const std::optional<fs::path> thumb = makeImageThumbnail(source, "alpha");
  ASSERT_TRUE(thumb);
  Pixbuf pixbuf = load(*thumb);
  const Rgb centre = pixelAt(pixbuf.get(), 50, 25);
  EXPECT_GT(centre.r, 240);
  EXPECT_GT(centre.g, 240);
  EXPECT_GT(centre.b, 240);
}

TEST_F(ThumbnailsTest, PdfGivesItsFirstPage) {
  const fs::path source = work_ / "doc.pdf";
  cairo_surface_t* surface = cairo_pdf_surface_create(source.c_str(), 1200, 600);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_rectangle(cr, 0, 0, 600, 600);
  cairo_fill(cr);
  cairo_show_page(cr);
  cairo_pdf_surface_set_size(surface, 100, 100);
  cairo_show_page(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);

  const std::optional<fs::path> thumb = makeImageThumbnail(source, "pdf1");
  ASSERT_TRUE(thumb);
  Pixbuf pixbuf = load(*thumb);
  ASSERT_TRUE(pixbuf);
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf.get()), 800);
  EXPECT_EQ(gdk_pixbuf_get_height(pixbuf.get()), 400);
  EXPECT_LT(pixelAt(pixbuf.get(), 100, 200).r, 40);   // the black left half
  EXPECT_GT(pixelAt(pixbuf.get(), 700, 200).r, 220);  // white paper
}

TEST_F(ThumbnailsTest, WhatCannotBeReadGivesNoThumbnailAndKeepsAnEarlierOne) {
  TempDir::writeFile(work_ / "notes.txt", "just text, no picture");
  TempDir::writeFile(work_ / "broken.jpg", "\xFF\xD8\xFF\xE0 truncated");
  TempDir::writeFile(work_ / "fake.pdf", "%PDF-1.4 nothing more");
  EXPECT_FALSE(makeImageThumbnail(work_ / "notes.txt", "t1"));
  EXPECT_FALSE(makeImageThumbnail(work_ / "broken.jpg", "t2"));
  EXPECT_FALSE(makeImageThumbnail(work_ / "fake.pdf", "t3"));
  EXPECT_FALSE(makeImageThumbnail(work_ / "missing.png", "t4"));
  EXPECT_FALSE(makeVideoThumbnail(work_ / "notes.txt", "t5"));
  EXPECT_TRUE(fs::is_empty(docs_));

  save(solid(20, 20, 0xFF00FFFF).get(), work_ / "good.png", "png");
  ASSERT_TRUE(makeImageThumbnail(work_ / "good.png", "keep"));
  const std::string before = TempDir::readFile(docs_ / "thumb_keep.jpg");
  EXPECT_FALSE(makeImageThumbnail(work_ / "broken.jpg", "keep"));
  EXPECT_EQ(TempDir::readFile(docs_ / "thumb_keep.jpg"), before);
}

TEST_F(ThumbnailsTest, NamesBreakingTheIdRuleAreRefused) {
  save(solid(20, 20, 0xFF00FFFF).get(), work_ / "good.png", "png");
  for (const char* name : {"../../escape", "a/b", "", "x.y"}) {
    EXPECT_FALSE(makeImageThumbnail(work_ / "good.png", name)) << name;
  }
  EXPECT_TRUE(fs::is_empty(docs_));
}

// A short clip from videotestsrc, `frames` frames at 10 per second: VP8 in
// WebM, or with `encodeAndMux` another encoder and container.
bool makeClip(const fs::path& file, int frames, int width, int height,
              const std::string& encodeAndMux = "vp8enc deadline=1 ! webmmux") {
  gst_init(nullptr, nullptr);
  const std::string description = "videotestsrc num-buffers=" + std::to_string(frames) +
                                  " ! video/x-raw,width=" + std::to_string(width) + ",height=" +
                                  std::to_string(height) + ",framerate=10/1 ! " + encodeAndMux +
                                  " ! filesink location=\"" + file.string() + "\"";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline) {
    if (error) g_error_free(error);
    return false;
  }
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message) gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

TEST_F(ThumbnailsTest, VideosGiveAFrameAtOneSecondOrAtTheStart) {
  const fs::path longer = work_ / "clip.webm";
  const fs::path shorter = work_ / "blink.webm";
  const fs::path wide = work_ / "wide.webm";
  ASSERT_TRUE(makeClip(longer, 20, 320, 240));
  ASSERT_TRUE(makeClip(shorter, 3, 160, 120));
  ASSERT_TRUE(makeClip(wide, 12, 1280, 320));

  const std::optional<fs::path> a = makeVideoThumbnail(longer, "v1");
  ASSERT_TRUE(a);
  EXPECT_EQ(*a, docs_ / "thumb_v1.jpg");
  EXPECT_EQ(sizeOf(*a), (PixelSize{320, 240}));
  // 0.3 s long: nothing at 1.0 s, so the first frame.
  const std::optional<fs::path> b = makeVideoThumbnail(shorter, "v2");
  ASSERT_TRUE(b);
  EXPECT_EQ(sizeOf(*b), (PixelSize{160, 120}));
  const std::optional<fs::path> c = makeVideoThumbnail(wide, "v3");
  ASSERT_TRUE(c);
  EXPECT_EQ(sizeOf(*c), (PixelSize{800, 200}));
}

TEST_F(ThumbnailsTest, APortraitRecordingGivesAnUprightFrame) {
  // Stored 320 × 240 with the track turned a quarter, as phones record
  // portrait video.
  const fs::path portrait = work_ / "portrait.mov";
  ASSERT_TRUE(makeClip(portrait, 15, 320, 240, "jpegenc ! qtmux"));
  // qtmux writes no rotation, so set the track header's matrix by hand to a
  // quarter turn clockwise (a=0, b=1, c=-1, d=0 in 16.16; w=1 in 2.30), as
  // a phone's recording carries it.
  std::string movie = TempDir::readFile(portrait);
  const std::size_t tkhd = movie.find("tkhd");
  ASSERT_NE(tkhd, std::string::npos);
  ASSERT_EQ(movie[tkhd + 4], 0) << "a version-0 track header";
  const std::string matrix("\0\0\0\0" "\0\x01\0\0" "\0\0\0\0"
                           "\xFF\xFF\0\0" "\0\0\0\0" "\0\0\0\0"
                           "\0\0\0\0" "\0\0\0\0" "\x40\0\0\0", 36);
  movie.replace(tkhd + 44, 36, matrix);
  TempDir::writeFile(portrait, movie);
  const std::optional<fs::path> thumb = makeVideoThumbnail(portrait, "v4");
  ASSERT_TRUE(thumb);
  EXPECT_EQ(sizeOf(*thumb), (PixelSize{240, 320}));
}

}  // namespace
}  // namespace orvik
