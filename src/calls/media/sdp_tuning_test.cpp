#include "calls/media/sdp_tuning.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

struct TuneCase {
  const char* name;
  std::string input;
  std::string expected;
};

class TuneOpusTest : public ::testing::TestWithParam<TuneCase> {};

TEST_P(TuneOpusTest, RewritesTheOpusFormatAndPacketTimes) { EXPECT_EQ(tuneOpus(GetParam().input), GetParam().expected); }

const std::string kTuned = "stereo=0;sprop-stereo=0;useinbandfec=1;usedtx=1;maxaveragebitrate=24000";

INSTANTIATE_TEST_SUITE_P(
    Sdp, TuneOpusTest,
    ::testing::Values(
        TuneCase{"MergesIntoTheExistingFormatLine",
                 "a=rtpmap:111 opus/48000/2\na=fmtp:111 minptime=10;useinbandfec=1\na=ptime:20",
                 "a=rtpmap:111 opus/48000/2\na=fmtp:111 minptime=10;useinbandfec=1;stereo=0;sprop-stereo=0;usedtx=1;"
                 "maxaveragebitrate=24000\na=ptime:60\na=maxptime:60"},
        TuneCase{"KeepsCrLfIncludingTheFinalSeparator",
                 "v=0\r\na=rtpmap:111 opus/48000/2\r\na=fmtp:111 minptime=10\r\n",
                 "v=0\r\na=rtpmap:111 opus/48000/2\r\na=fmtp:111 minptime=10;" + kTuned +
                     "\r\na=ptime:60\r\na=maxptime:60\r\n"},
        TuneCase{"ExistingKeysKeepTheirPlaceAndTakeOurValues",
                 "a=rtpmap:109 opus/48000/2\na=fmtp:109 stereo=1; cbr ;useinbandfec=1;;=x",
                 "a=rtpmap:109 opus/48000/2\na=fmtp:109 stereo=0;cbr;useinbandfec=1;sprop-stereo=0;usedtx=1;"
                 "maxaveragebitrate=24000\na=ptime:60\na=maxptime:60"},
        TuneCase{"InsertsAFormatLineAfterAnUpperCaseMapping",
                 "A=RTPMAP:111 OPUS/48000/2\na=rtcp-fb:111 transport-cc",
                 "A=RTPMAP:111 OPUS/48000/2\na=fmtp:111 " + kTuned + "\na=ptime:60\na=maxptime:60\na=rtcp-fb:111 transport-cc"},
        TuneCase{"AnUpperCaseFormatLineIsNotTheOpusFormatLine",
                 "a=rtpmap:111 opus/48000/2\nA=FMTP:111 minptime=10",
                 "a=rtpmap:111 opus/48000/2\na=fmtp:111 " + kTuned + "\na=ptime:60\na=maxptime:60\nA=FMTP:111 minptime=10"},
        TuneCase{"DropsPacketTimesInEverySection",
                 "m=audio 9 UDP 111\na=ptime:20\na=rtpmap:111 opus/48000/2\na=fmtp:111 x=1\nm=video 9 UDP 96\nA=MaxPTime:120",
                 "m=audio 9 UDP 111\na=rtpmap:111 opus/48000/2\na=fmtp:111 x=1;" + kTuned +
                     "\na=ptime:60\na=maxptime:60\nm=video 9 UDP 96"},
        // A bare LF inside a CR LF description ends a line like any other:
        // neither neighbour is merged into the format line or dropped with a
        // packet time.
        TuneCase{"KeepsBareLfLinesInACrLfDescription",
                 "v=0\r\na=rtpmap:111 opus/48000/2\r\na=fmtp:111 minptime=10\na=rtcp-fb:111 nack\r\n"
                 "a=ptime:20\na=extmap:1 urn:x\r\na=mid:0\n",
                 "v=0\r\na=rtpmap:111 opus/48000/2\r\na=fmtp:111 minptime=10;" + kTuned +
                     "\r\na=ptime:60\r\na=maxptime:60\na=rtcp-fb:111 nack\r\na=extmap:1 urn:x\r\na=mid:0\n"},
        TuneCase{"KeepsABareLfMappingLineInACrLfDescription",
                 "v=0\r\na=rtpmap:111 opus/48000/2\na=rtcp-fb:111 nack\r\n",
                 "v=0\r\na=rtpmap:111 opus/48000/2\r\na=fmtp:111 " + kTuned +
                     "\r\na=ptime:60\r\na=maxptime:60\na=rtcp-fb:111 nack\r\n"},
        TuneCase{"WithoutOpusNothingChanges", "a=rtpmap:0 PCMU/8000\na=ptime:20\n", "a=rtpmap:0 PCMU/8000\na=ptime:20\n"},
        TuneCase{"WithoutPayloadDigitsNothingChanges", "a=rtpmap:x opus/48000/2\na=ptime:20",
                 "a=rtpmap:x opus/48000/2\na=ptime:20"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpusPayloadType, ReadsTheDigitsOfAnOpusMapping) {
  EXPECT_EQ(opusPayloadType("a=rtpmap:111 opus/48000/2"), "111");
  EXPECT_EQ(opusPayloadType("A=RTPMAP:96 OPUS/48000"), "96");
  EXPECT_EQ(opusPayloadType("a=rtpmap:x opus/48000/2"), "");
  EXPECT_EQ(opusPayloadType("a=rtpmap:111 opus/16000"), std::nullopt);
  EXPECT_EQ(opusPayloadType("a=fmtp:111 opus/48000"), std::nullopt);
}

}  // namespace
}  // namespace orvik
