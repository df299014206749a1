// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "scan/FrameSampler.h"
#include "support/MediaFactory.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using Reason = FrameSampler::Failure::Reason;
using test::ClipOptions;
using test::Scene;

// Grey, a slightly lighter grey from 3 s (a moderate change), a cut to red at 7 s, then
// red for 33 s: a still shot long enough for the hard gap.
const std::vector<Scene> scenes = {{3, "0x646464"}, {4, "0x6A6A6A"}, {33, "0xDC1E1E"}};

std::vector<double> times(const FrameSampler::Sampled& sampled) {
  std::vector<double> result;
  for (const auto& frame : sampled.frames) result.push_back(frame.time);
  return result;
}

void expectTimes(const std::vector<double>& got, const std::vector<double>& expected) {
  ASSERT_EQ(got.size(), expected.size()) << ::testing::PrintToString(got);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-6) << i;
}

Reason failureOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const FrameSampler::Failure& failure) {
    return failure.reason();
  }
  ADD_FAILURE() << "no failure";
  return Reason::unreadable;
}

bool isRed(const Picture& picture) {
  const auto mean = test::meanColour(picture, 0, 0, picture.width, picture.height);
  return mean[0] > 180 && mean[1] < 70 && mean[2] < 70;
}

// Rewrites the timescale (1) and duration of every version-0 mvhd and mdhd box of an MP4.
void claimDuration(const fs::path& file, std::uint32_t seconds) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  int patched = 0;
  for (const char* box : {"mvhd", "mdhd"}) {
    for (auto at = bytes.find(box); at != std::string::npos; at = bytes.find(box, at + 4)) {
      ASSERT_LT(at + 24, bytes.size());
      ASSERT_EQ(bytes[at + 4], 0) << box << " of version 1";
      const std::uint32_t fields[2] = {1, seconds};  // big-endian timescale, duration
      for (int f = 0; f < 2; ++f) {
        for (int b = 0; b < 4; ++b)
          bytes[at + 16 + f * 4 + b] = static_cast<char>(fields[f] >> (24 - 8 * b));
      }
      ++patched;
    }
  }
  ASSERT_GE(patched, 2);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// The end of the last video packet ffprobe finds in the file, in seconds.
double lastPacketEnd(const fs::path& file) {
  const std::string command =
      "ffprobe -v quiet -select_streams v:0 -show_entries packet=pts_time,duration_time "
      "-of csv=p=0 " +
      test::shellQuoted(file);
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  double end = 0;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    double pts = 0, duration = 0;
    if (std::sscanf(line, "%lf,%lf", &pts, &duration) >= 1) end = std::max(end, pts + duration);
  }
  pclose(pipe);
  return end;
}

class FrameSamplerVideo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDirectory;
    test::makeSceneClip(path("scenes-key.mp4"), scenes, ClipOptions{.keyframeSeconds = 2});
    test::makeSceneClip(path("scenes-gop.mp4"), scenes, ClipOptions{.keyframeSeconds = 0});
    test::makeSceneClip(path("scenes.mkv"), scenes, ClipOptions{.keyframeSeconds = 2});
    test::makeSceneClip(path("scenes.mts"), scenes, ClipOptions{.keyframeSeconds = 2});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path path(const std::string& name) { return *dir_ / name; }

  static test::TempDirectory* dir_;
};
test::TempDirectory* FrameSamplerVideo::dir_ = nullptr;

TEST(FrameSamplerPlan, CandidateTimesFollowTheDuration) {
  const FrameSampler::VideoPlan plan;
  EXPECT_EQ(FrameSampler::candidateStep(12, plan), 1.0);
  EXPECT_EQ(FrameSampler::candidateStep(19.99, plan), 1.0);
  EXPECT_EQ(FrameSampler::candidateStep(20, plan), 2.0);
  const auto twelve = FrameSampler::candidateTimes(12, plan);
  ASSERT_EQ(twelve.size(), 12u);
  for (std::size_t i = 0; i < twelve.size(); ++i) EXPECT_DOUBLE_EQ(twelve[i], 0.5 + i);
  expectTimes(FrameSampler::candidateTimes(0.6, plan), {0.3});
  expectTimes(FrameSampler::candidateTimes(0, plan), {0});
  const auto ten = FrameSampler::candidateTimes(600, plan);
  ASSERT_EQ(ten.size(), 300u);
  EXPECT_DOUBLE_EQ(ten.back(), 598.5);
  // A small step never goes below half a second.
  FrameSampler::VideoPlan fine;
  fine.step = 0.4;
  EXPECT_EQ(FrameSampler::candidateStep(10, fine), 0.5);
}

// A header may claim any duration: the candidates stay bounded and spread over all of it.
TEST(FrameSamplerPlan, AbsurdDurationsGetABoundedSpreadOfCandidates) {
  const FrameSampler::VideoPlan plan;
  const double claimed = 2147483647;  // 68 years, as a damaged MP4 header says
  const auto times = FrameSampler::candidateTimes(claimed, plan);
  EXPECT_LE(times.size(), static_cast<std::size_t>(FrameSampler::maxCandidates));
  EXPECT_GE(times.size(), static_cast<std::size_t>(FrameSampler::maxCandidates) - 1);
  EXPECT_EQ(times.front(), 0.5);
  EXPECT_GT(times.back(), claimed * 0.99);
  EXPECT_DOUBLE_EQ(FrameSampler::candidateStep(claimed, plan),
                   claimed / FrameSampler::maxCandidates);
  // 55 hours at 2 s is still every 2 s; a step of 0 no longer loops forever.
  EXPECT_EQ(FrameSampler::candidateStep(55 * 3600, plan), 2.0);
  FrameSampler::VideoPlan still;
  still.step = 0;
  EXPECT_LE(FrameSampler::candidateTimes(600, still).size(),
            static_cast<std::size_t>(FrameSampler::maxCandidates));
}

TEST(FrameSamplerSelector, KeepsCutsAtOnceAndModerateChangesAfterTheGaps) {
  const FrameSampler::VideoPlan plan;
  using Verdict = FrameSampler::Selector::Verdict;
  auto uniform = [](int value) { return FrameSampler::Signature(576, std::uint8_t(value)); };
  FrameSampler::Selector selector(plan);
  EXPECT_EQ(selector.offer(0.5, uniform(100)), Verdict::kept);     // the first frame
  EXPECT_EQ(selector.offer(2.5, uniform(114)), Verdict::kept);     // a cut, 2 s later
  EXPECT_EQ(selector.offer(4.5, uniform(119)), Verdict::dropped);  // 5 after 2 s
  EXPECT_EQ(selector.offer(6.5, uniform(119)), Verdict::dropped);  // 5 after 4 s
  EXPECT_EQ(selector.offer(8.5, uniform(119)), Verdict::kept);     // 5 after 6 s
  // Against the last kept frame, so 2.9 waits for the hard gap. Red up by 8 everywhere
  // and green by 1 in 100 of the 144 pixels: 1252 / 432, just under 2.9.
  FrameSampler::Selector slow(plan);
  const FrameSampler::Signature base(576, 100);
  FrameSampler::Signature twoNine = base;
  for (std::size_t p = 0; p < 144; ++p) {
    twoNine[p * 4] = 108;
    if (p < 100) twoNine[p * 4 + 1] = 101;
  }
  EXPECT_NEAR(FrameSampler::difference(base, twoNine), 2.9, 0.01);
  EXPECT_EQ(slow.offer(1, base), Verdict::kept);
  EXPECT_EQ(slow.offer(10, twoNine), Verdict::dropped);
  EXPECT_EQ(slow.offer(30.9, twoNine), Verdict::dropped);
  EXPECT_EQ(slow.offer(31, twoNine), Verdict::kept);
  // The same frame delivered twice is examined once.
  EXPECT_EQ(slow.offer(31.005, uniform(255)), Verdict::repeated);
  EXPECT_EQ(slow.offer(31.02, uniform(255)), Verdict::kept);
}

TEST_F(FrameSamplerVideo, TakesKeyframesWithinTheToleranceAndKeepsScenes) {
  // Keyframes every 2 s lie half a second from each candidate: they are delivered as they
  // are. Kept: the first, the moderate change once 6 s passed, the cut, the hard gap.
  for (const char* name : {"scenes-key.mp4", "scenes.mkv"}) {
    const auto sampled = FrameSampler::video(path(name));
    EXPECT_NEAR(sampled.duration, 40, 0.05) << name;
    EXPECT_EQ(sampled.width, 160);
    EXPECT_EQ(sampled.height, 90);
    expectTimes(times(sampled), {0, 6, 8, 38});
    ASSERT_EQ(sampled.frames.size(), 4u);
    EXPECT_FALSE(isRed(sampled.frames[1].image));
    EXPECT_TRUE(isRed(sampled.frames[2].image));
    EXPECT_EQ(sampled.frames[0].image.width, 160);
    EXPECT_EQ(sampled.frames[0].image.height, 90);
  }
}

TEST_F(FrameSamplerVideo, DecodesForwardToTheNearestFrameWithoutNearbyKeyframes) {
  // One keyframe at the start (and a transport stream with no index at all): every
  // candidate is decoded exactly.
  for (const char* name : {"scenes-gop.mp4", "scenes.mts"}) {
    const auto sampled = FrameSampler::video(path(name));
    EXPECT_NEAR(sampled.duration, 40, 0.2) << name;
    expectTimes(times(sampled), {0.5, 6.5, 8.5, 38.5});
    ASSERT_EQ(sampled.frames.size(), 4u);
    EXPECT_TRUE(isRed(sampled.frames[2].image)) << name;
  }
}

TEST_F(FrameSamplerVideo, SamplesTheOtherContainersAndCodecsFFmpegPlays) {
  struct Case {
    const char* name;
    const char* codec;
  };
  for (const Case& c :
       {Case{"vp8.webm", "libvpx"}, Case{"mpeg4.avi", "mpeg4"}, Case{"hevc.mkv", "libx265"},
        Case{"hevc.mp4", "libx265"}, Case{"sorenson.flv", "flv"}}) {
    const auto file = path(c.name);
    test::makeSceneClip(file, scenes, ClipOptions{.keyframeSeconds = 2, .codec = c.codec});
    const auto sampled = FrameSampler::video(file);
    EXPECT_NEAR(sampled.duration, 40, 0.2) << c.name;
    EXPECT_EQ(sampled.width, 160) << c.name;
    EXPECT_EQ(sampled.height, 90) << c.name;
    // The first frame, the moderate change, the cut and the hard gap, as the keyframes
    // and the tolerance place them.
    const auto kept = times(sampled);
    ASSERT_EQ(kept.size(), 4u) << c.name << ": " << ::testing::PrintToString(kept);
    EXPECT_LE(kept[0], 1.0) << c.name;
    EXPECT_NEAR(kept[1], 6.25, 0.75) << c.name;
    EXPECT_NEAR(kept[2], 8.25, 0.75) << c.name;
    EXPECT_FALSE(isRed(sampled.frames[1].image)) << c.name;
    EXPECT_TRUE(isRed(sampled.frames[2].image)) << c.name;
    EXPECT_GE(kept[3] - kept[2], 30 - 1e-6) << c.name;
  }
}

TEST_F(FrameSamplerVideo, SmallerPixelLimitScalesFrames) {
  FrameSampler::VideoPlan plan;
  plan.maxPixels = 64;
  const auto sampled = FrameSampler::video(path("scenes-key.mp4"), plan, {});
  ASSERT_FALSE(sampled.frames.empty());
  EXPECT_EQ(sampled.frames[0].image.width, 64);
  EXPECT_EQ(sampled.frames[0].image.height, 36);
  EXPECT_EQ(sampled.width, 160);  // the reported size stays the source's
}

TEST_F(FrameSamplerVideo, StillTenMinutesKeepsOneFrameEveryThirtySeconds) {
  const auto file = path("still.mp4");
  // Tiny and slow, with a keyframe on the first candidate and then every 30 s.
  test::makeSceneClip(file, {{600, "0x336699"}},
                      ClipOptions{.width = 64,
                                  .height = 36,
                                  .fps = 2,
                                  .keyframeSeconds = 0,
                                  .forceKeyframes = "expr:gte(t,n_forced*30+0.5)"});
  const auto sampled = FrameSampler::video(file);
  EXPECT_NEAR(sampled.duration, 600, 0.6);
  std::vector<double> expected;
  for (int k = 0; k < 20; ++k) expected.push_back(0.5 + 30 * k);
  expectTimes(times(sampled), expected);
}

TEST_F(FrameSamplerVideo, RotatedClipsReportAndDeliverTheirUprightSize) {
  // Four coloured quarters, stored 320 x 180: any wrong turn or mirror moves a colour.
  const auto landscape = path("quarters.mp4");
  test::runCommand(
      "ffmpeg -nostdin -y -v error -filter_complex "
      "\"color=c=0xDC1E1E:s=160x90:r=10:d=2[a];color=c=0x1E1EDC:s=160x90:r=10:d=2[b];"
      "color=c=0x1EDC1E:s=160x90:r=10:d=2[c];color=c=0xF0F0F0:s=160x90:r=10:d=2[d];"
      "[a][b]hstack[top];[c][d]hstack[bottom];[top][bottom]vstack,format=yuv420p[v]\" "
      "-map \"[v]\" -c:v libx264 " +
      test::shellQuoted(landscape));
  for (int rotation : {90, 180, 270}) {
    const auto file = path("rotated-" + std::to_string(rotation) + ".mp4");
    // The rotation goes into the display matrix as the stream is copied.
    test::runCommand("ffmpeg -nostdin -y -v error -i " + test::shellQuoted(landscape) +
                     " -c copy -metadata:s:v:0 rotate=" + std::to_string(rotation) + " " +
                     test::shellQuoted(file));
    const bool turned = rotation != 180;
    const int width = turned ? 180 : 320, height = turned ? 320 : 180;
    const auto info = FrameSampler::videoInfo(file);
    EXPECT_NEAR(info.duration, 2, 0.05);
    EXPECT_EQ(info.width, width) << rotation;
    EXPECT_EQ(info.height, height) << rotation;

    const auto sampled = FrameSampler::video(file);
    EXPECT_EQ(sampled.width, width) << rotation;
    EXPECT_EQ(sampled.height, height) << rotation;
    ASSERT_FALSE(sampled.frames.empty());
    const Picture& ours = sampled.frames[0].image;
    ASSERT_EQ(ours.width, width) << rotation;
    ASSERT_EQ(ours.height, height) << rotation;
    // ffmpeg's own upright rendering of the first frame is the reference.
    const auto reference = path("rotated-" + std::to_string(rotation) + ".ppm");
    test::runCommand("ffmpeg -nostdin -y -v error -i " + test::shellQuoted(file) + " -frames:v 1 " +
                     test::shellQuoted(reference));
    const Picture upright = test::readPpm(reference);
    ASSERT_EQ(upright.width, width);
    ASSERT_EQ(upright.height, height);
    for (int qy = 0; qy < 2; ++qy) {
      for (int qx = 0; qx < 2; ++qx) {
        const int x = qx * width / 2 + width / 8, y = qy * height / 2 + height / 8;
        const auto want = test::meanColour(upright, x, y, width / 4, height / 4);
        const auto got = test::meanColour(ours, x, y, width / 4, height / 4);
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(got[c], want[c], 12) << rotation << " quarter " << qx << "," << qy;
      }
    }
  }
}

TEST_F(FrameSamplerVideo, ShortAndDurationlessClipsStillGiveAFrame) {
  const auto shortClip = path("short.mp4");
  test::makeSceneClip(shortClip, {{0.6, "0x1E1EDC"}});
  const auto sampled = FrameSampler::video(shortClip);
  EXPECT_NEAR(sampled.duration, 0.6, 0.05);
  ASSERT_EQ(sampled.frames.size(), 1u);
  // The one candidate is at 0.3 with a tolerance of 0.5: the keyframe at 0 serves.
  EXPECT_NEAR(sampled.frames[0].time, 0.0, 1e-6);

  // A live recording carries no duration: only time 0 is asked for.
  const auto live = path("live.mkv");
  test::makeSceneClip(live, {{3, "0x1E1EDC"}}, ClipOptions{.extraOutputArgs = "-live 1"});
  EXPECT_EQ(FrameSampler::videoInfo(live).duration, 0);
  const auto fromLive = FrameSampler::video(live);
  EXPECT_EQ(fromLive.duration, 0);
  expectTimes(times(fromLive), {0});
  EXPECT_EQ(fromLive.frames[0].image.width, 160);
}

TEST_F(FrameSamplerVideo, CancellationIsPolledPerCandidateAndKeepsWhatWasKept) {
  int polls = 0;
  const auto all = FrameSampler::video(path("scenes-key.mp4"), {}, [&] {
    ++polls;
    return false;
  });
  EXPECT_EQ(polls, 20);  // 0.5, 2.5, ... 38.5
  EXPECT_EQ(all.frames.size(), 4u);

  polls = 0;
  const auto partial = FrameSampler::video(path("scenes-key.mp4"), {}, [&] { return ++polls > 5; });
  expectTimes(times(partial), {0, 6, 8});  // delivered 0, 2, 4, 6, 8: cancelled at the sixth
  EXPECT_EQ(polls, 6);

  // Cancelled before anything was kept: the frame at time 0 stands in.
  const auto none = FrameSampler::video(path("scenes-gop.mp4"), {}, [] { return true; });
  expectTimes(times(none), {0});
  EXPECT_FALSE(isRed(none.frames[0].image));
}

TEST_F(FrameSamplerVideo, ExactFramesAroundAMoment) {
  // No keyframes near the cut: frames must be decoded exactly to tell 6.9 from 7.1.
  const auto frames = FrameSampler::frames(path("scenes-gop.mp4"), 7.0, 1.5, 0.2, 384);
  ASSERT_EQ(frames.size(), 16u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const double requested = 5.5 + 0.2 * static_cast<double>(i);
    EXPECT_NEAR(frames[i].time, requested, 1e-9);
    EXPECT_EQ(isRed(frames[i].image), requested > 7.0) << requested;
  }
  // The start is clamped at 0.
  const auto start = FrameSampler::frames(path("scenes-key.mp4"), 0.4, 1.5, 0.2, 384);
  ASSERT_FALSE(start.empty());
  EXPECT_EQ(start.front().time, 0);
  EXPECT_EQ(start.size(), 10u);  // 0, 0.2, ..., 1.8
  // Past the end there is nothing to show.
  const auto end = FrameSampler::frames(path("scenes-gop.mp4"), 39.9, 1.5, 0.2, 384);
  ASSERT_GE(end.size(), 8u);
  for (const auto& frame : end) EXPECT_LE(frame.time, 40.0 + 1e-6);
  EXPECT_TRUE(FrameSampler::frames(path("scenes-gop.mp4"), -3, 1.5, 0.2, 384).empty());
}

TEST_F(FrameSamplerVideo, NoPictureAndProtectedContentHaveTheirFailures) {
  const auto audio = path("audio.mp4");
  test::makeAudioOnly(audio, 2);
  EXPECT_EQ(failureOf([&] { FrameSampler::video(audio); }), Reason::noVideoTrack);
  EXPECT_EQ(failureOf([&] { FrameSampler::videoInfo(audio); }), Reason::noVideoTrack);
  EXPECT_STREQ(FrameSampler::Failure(Reason::noVideoTrack).what(), "This file has no picture.");

  const auto locked = path("locked.mp4");
  test::makeSceneClip(
      locked, {{2, "0x1E1EDC"}},
      ClipOptions{.extraOutputArgs = "-encryption_scheme cenc-aes-ctr "
                                     "-encryption_key 76a6c65c5ea762046bd749a2e632ccbb "
                                     "-encryption_kid a7e61c373e219033c21091fa607bf3b8"});
  EXPECT_EQ(failureOf([&] { FrameSampler::video(locked); }), Reason::isProtected);
  EXPECT_STREQ(FrameSampler::Failure(Reason::isProtected).what(), "This video is copy-protected.");
  // Reading the size does not ask about protection.
  EXPECT_EQ(FrameSampler::videoInfo(locked).width, 160);
}

TEST_F(FrameSamplerVideo, HostileFilesAreUnreadable) {
  std::ofstream(path("empty.mp4")).close();
  test::writeRandom(path("random.mp4"), 200000, 11);
  // The default MP4 writes its index last: half a file has none.
  test::writeTruncated(path("truncated.mp4"), path("scenes-key.mp4"),
                       fs::file_size(path("scenes-key.mp4")) / 2);
  fs::create_directory(path("folder.mp4"));
  for (const char* name : {"empty.mp4", "random.mp4", "truncated.mp4", "folder.mp4"}) {
    EXPECT_EQ(failureOf([&] { FrameSampler::video(path(name)); }), Reason::unreadable) << name;
    EXPECT_EQ(failureOf([&] { FrameSampler::videoInfo(path(name)); }), Reason::unreadable) << name;
    EXPECT_TRUE(FrameSampler::frames(path(name), 1, 1.5, 0.2, 384).empty()) << name;
  }
  // A missing file is the file system's error, passed on as it is.
  EXPECT_THROW(FrameSampler::video(path("missing.mp4")), std::runtime_error);
  EXPECT_TRUE(FrameSampler::frames(path("missing.mp4"), 1, 1.5, 0.2, 384).empty());

  // A 1.2-second clip whose movie and media headers claim 2147483647 seconds (a 5 KB file
  // that once asked for a billion candidates): sampled in bounded time, its frames found.
  const auto longClaim = path("claims-68-years.mp4");
  test::makePatternClip(longClaim, 1.2, ClipOptions{.width = 48, .height = 32});
  claimDuration(longClaim, 0x7FFFFFFF);
  EXPECT_NEAR(FrameSampler::videoInfo(longClaim).duration, 2147483647, 1);
  const auto claimed = FrameSampler::video(longClaim);
  ASSERT_FALSE(claimed.frames.empty());
  EXPECT_LT(claimed.frames[0].time, 1.2);
  // Far out, a small step does not move the time: the refinement there ends too.
  EXPECT_LE(FrameSampler::frames(longClaim, 1e300, 1.5, 0.2, 64).size(), 1u);

  // A file cut to 40 % of its bytes still claims its whole length: it lasts as far as its
  // frames go.
  struct Cut {
    const char* name;
    ClipOptions options;
  };
  for (const Cut& c : {Cut{"cut.mp4", ClipOptions{.extraOutputArgs = "-movflags +faststart"}},
                       Cut{"cut.mkv", ClipOptions{}}}) {
    const auto whole = path(std::string("whole-") + c.name);
    test::makePatternClip(whole, 40, c.options);
    test::writeTruncated(path(c.name), whole, fs::file_size(whole) * 2 / 5);
    const double readable = lastPacketEnd(path(c.name));
    ASSERT_GT(readable, 5) << c.name;
    ASSERT_LT(readable, 30) << c.name;
    EXPECT_NEAR(FrameSampler::videoInfo(path(c.name)).duration, 40, 0.1) << c.name;
    EXPECT_NEAR(FrameSampler::video(whole).duration, 40, 0.1) << c.name;
    const auto cut = FrameSampler::video(path(c.name));
    ASSERT_FALSE(cut.frames.empty()) << c.name;
    EXPECT_NEAR(cut.duration, readable, 0.11) << c.name;
    EXPECT_LT(cut.frames.back().time, cut.duration) << c.name;
  }
  // The header that claims 68 years: its frames end far sooner.
  EXPECT_NEAR(claimed.duration, lastPacketEnd(longClaim), 0.11);

  // With its index first, half a file still plays its first half.
  const auto faststart = path("faststart.mp4");
  test::makeSceneClip(faststart, scenes, ClipOptions{.extraOutputArgs = "-movflags +faststart"});
  test::writeTruncated(path("half.mp4"), faststart, fs::file_size(faststart) / 2);
  const auto half = FrameSampler::video(path("half.mp4"));
  ASSERT_FALSE(half.frames.empty());
  EXPECT_EQ(half.frames[0].time, 0);
}

}  // namespace
}  // namespace quillmere
