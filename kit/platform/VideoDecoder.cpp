// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg video decoder: opening, seeking, decoding passes and upright, scaled frames.
#include "platform/VideoDecoder.h"

#include "platform/KeyframePlan.h"
#include "platform/MediaHeader.h"
#include "platform/StreamClock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <deque>
#include <limits>
#include <set>

namespace quillmere {

namespace {

constexpr double slack = StreamClock::slack;
constexpr double seekAhead = 8.0;  // seconds: reading further than this costs more than a seek
constexpr int peekPackets = 64;    // packets read to look for encryption
constexpr std::int64_t maxDecodedPixels = 16384LL * 16384LL;

// Errors of the file system, as opposed to bytes FFmpeg cannot make sense of.
bool isFileSystemError(int code) {
  for (int error :
       {ENOENT, EACCES, EPERM, ENOTDIR, ELOOP, ENAMETOOLONG, EIO, EMFILE, ENFILE, ENOMEM}) {
    if (code == AVERROR(error)) return true;
  }
  return false;
}

std::string describe(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct PacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::shared_ptr<AVFrame>;

FramePtr makeFrame() {
  return FramePtr(av_frame_alloc(), FrameFree{});
}

// The picture, turned by quarter turns clockwise, optionally mirrored first.
Picture orient(Picture in, int quarterTurns, bool mirror) {
  const int w = in.width, h = in.height;
  if (mirror) {
    for (int y = 0; y < h; ++y) {
      auto* row = in.rgb.data() + static_cast<std::size_t>(y) * w * 3;
      for (int x = 0; x < w / 2; ++x)
        std::swap_ranges(row + x * 3, row + x * 3 + 3, row + (w - 1 - x) * 3);
    }
  }
  if (quarterTurns == 0) return in;
  Picture out;
  const bool swap = quarterTurns % 2 == 1;
  out.width = swap ? h : w;
  out.height = swap ? w : h;
  out.rgb.resize(in.rgb.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int ox = x, oy = y;
      if (quarterTurns == 1) ox = h - 1 - y, oy = x;
      if (quarterTurns == 2) ox = w - 1 - x, oy = h - 1 - y;
      if (quarterTurns == 3) ox = y, oy = w - 1 - x;
      const auto* from = in.rgb.data() + (static_cast<std::size_t>(y) * w + x) * 3;
      auto* to = out.rgb.data() + (static_cast<std::size_t>(oy) * out.width + ox) * 3;
      to[0] = from[0], to[1] = from[1], to[2] = from[2];
    }
  }
  return out;
}

struct Playable {
  const char* extension;
  const char* demuxer;
  std::vector<AVCodecID> codecs;
};

const std::vector<Playable>& playableTable() {
  static const std::vector<Playable> table = {
      {"mp4", "mov", {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MPEG4, AV_CODEC_ID_AV1}},
      {"m4v", "mov", {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MPEG4}},
      {"mov", "mov", {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_PRORES, AV_CODEC_ID_MJPEG}},
      {"3gp", "mov", {AV_CODEC_ID_H263, AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4}},
      {"3g2", "mov", {AV_CODEC_ID_H263, AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4}},
      {"mkv", "matroska", {AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_VP9, AV_CODEC_ID_AV1}},
      {"webm", "matroska", {AV_CODEC_ID_VP8, AV_CODEC_ID_VP9, AV_CODEC_ID_AV1}},
      {"avi", "avi", {AV_CODEC_ID_MPEG4, AV_CODEC_ID_H264, AV_CODEC_ID_MJPEG}},
      {"wmv", "asf", {AV_CODEC_ID_WMV3, AV_CODEC_ID_VC1, AV_CODEC_ID_WMV2}},
      {"asf", "asf", {AV_CODEC_ID_WMV3, AV_CODEC_ID_VC1, AV_CODEC_ID_WMV2}},
      {"flv", "flv", {AV_CODEC_ID_FLV1, AV_CODEC_ID_H264}},
      {"ogv", "ogg", {AV_CODEC_ID_THEORA, AV_CODEC_ID_VP8}},
      {"rm", "rm", {AV_CODEC_ID_RV40, AV_CODEC_ID_RV30}},
      {"rmvb", "rm", {AV_CODEC_ID_RV40, AV_CODEC_ID_RV30}},
      {"vob", "mpeg", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG1VIDEO}},
      {"mpg", "mpeg", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG1VIDEO}},
      {"mpeg", "mpeg", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG1VIDEO}},
      {"ts", "mpegts", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_HEVC}},
      {"mts", "mpegts", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG2VIDEO}},
      {"m2ts", "mpegts", {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG2VIDEO}},
  };
  return table;
}

}  // namespace

struct VideoDecoder::State {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwsContext* scaler = nullptr;
  int stream = -1;
  AVRational timeBase{1, 1};
  std::int64_t startTs = 0;
  Info info;
  int quarterTurns = 0;  // clockwise, to show the picture upright
  bool mirror = false;
  bool codecFailed = false;
  bool protectedChecked = false;
  bool isProtected = false;
  bool readSomething = false;  // packets consumed or decoded: a new pass must seek back
  std::deque<PacketPtr> peeked;
  std::vector<std::int64_t> keyframes;  // index time stamps of keyframes, ascending

  ~State() {
    sws_freeContext(scaler);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }

  StreamClock clock() const { return StreamClock(av_q2d(timeBase), startTs); }
  double seconds(std::int64_t ts) const { return clock().seconds(ts); }

  // Next packet of any stream: the peeked ones first. Nothing at the end or on an error.
  PacketPtr read() {
    if (!peeked.empty()) {
      PacketPtr packet = std::move(peeked.front());
      peeked.pop_front();
      return packet;
    }
    PacketPtr packet(av_packet_alloc());
    if (!packet || av_read_frame(format, packet.get()) < 0) return nullptr;
    return packet;
  }

  void readIndex() {
    AVStream* video = format->streams[stream];
    keyframes.clear();
    const int entries = avformat_index_get_entries_count(video);
    for (int i = 0; i < entries; ++i) {
      const AVIndexEntry* entry = avformat_index_get_entry(video, i);
      if (entry && (entry->flags & AVINDEX_KEYFRAME)) keyframes.push_back(entry->timestamp);
    }
    std::sort(keyframes.begin(), keyframes.end());
  }

  bool openCodec() {
    if (codec) return true;
    if (codecFailed) return false;
    const AVCodecParameters* parameters = format->streams[stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!codec || avcodec_parameters_to_context(codec, parameters) < 0) {
      codecFailed = true;
      return false;
    }
    codec->pkt_timebase = timeBase;
    codec->thread_count = 0;  // as many as the machine has
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    codec->max_pixels = maxDecodedPixels;
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
      avcodec_free_context(&codec);
      codecFailed = true;
      return false;
    }
    return true;
  }

  std::optional<Picture> convert(const AVFrame* frame, int maxPixels) {
    if (frame->width <= 0 || frame->height <= 0 || maxPixels < 1) return std::nullopt;
    // Display size of this frame: pixel aspect ratio, then the quarter turns.
    double w = frame->width, h = frame->height;
    const AVRational sar = frame->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0) w = w * sar.num / sar.den;
    const bool swap = quarterTurns % 2 == 1;
    const double displayW = swap ? h : w, displayH = swap ? w : h;
    const double scale = std::min(1.0, maxPixels / std::max(displayW, displayH));
    const int outW = std::max(1, static_cast<int>(std::lround(displayW * scale)));
    const int outH = std::max(1, static_cast<int>(std::lround(displayH * scale)));
    const int scaledW = swap ? outH : outW, scaledH = swap ? outW : outH;

    scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                  static_cast<AVPixelFormat>(frame->format), scaledW, scaledH,
                                  AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) return std::nullopt;
    const int stride = FFALIGN(scaledW * 3, 64);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * scaledH + 64);
    std::uint8_t* planes[4] = {buffer.data(), nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    if (sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) !=
        scaledH)
      return std::nullopt;
    Picture picture;
    picture.width = scaledW;
    picture.height = scaledH;
    picture.rgb.resize(static_cast<std::size_t>(scaledW) * scaledH * 3);
    for (int y = 0; y < scaledH; ++y) {
      std::copy_n(buffer.data() + static_cast<std::size_t>(y) * stride, scaledW * 3,
                  picture.rgb.data() + static_cast<std::size_t>(y) * scaledW * 3);
    }
    return orient(std::move(picture), quarterTurns, mirror);
  }
};

namespace {

// A candidate frame for a target, or not.
bool fits(double targetTime, double tolerance, double time) {
  if (tolerance <= 0) return time <= targetTime + slack;
  return std::abs(time - targetTime) <= tolerance + slack;
}

// The times of one packet of the video stream.
struct PacketTimes {
  double order = 0;  // decode order: the decoding time stamp, else the presentation one
  double shown = 0;  // presentation time, else the decoding one
  bool key = false;
  double keyTime = 0;  // no earlier than either time stamp, as the index may use either
};

}  // namespace

// One forward pass over the packets for a plan of targets: seeks where the next target's
// keyframe is far ahead or behind, sends the packets each target needs and hands every
// target its best frame once frames have moved past it.
class VideoDecoder::Pass {
 public:
  Pass(State& state, const std::vector<KeyframePlan::Target>& plan, double tolerance, int maxPixels,
       const Handler& handler);
  Reach run();

 private:
  // One requested time on the output side: the best decoded frame seen for it so far.
  struct Target {
    KeyframePlan::Target plan;
    FramePtr best;
    double bestTime = 0;
  };
  static constexpr double never = -std::numeric_limits<double>::infinity();

  void rewind();
  void enter();
  void seek(std::int64_t ts);
  void handle(const AVPacket& packet);
  // Moves past the targets this packet is beyond; false when the packet is of no more use.
  bool passTargets(double order);
  bool wanted(const PacketTimes& times) const;
  void send(const AVPacket& packet, const PacketTimes& times);
  void receive();
  void drain();
  void onFrame(const FramePtr& frame);
  bool nearer(const Target& target, double time) const;
  void deliver(Target& target);
  void finish();

  State& s_;
  const Handler& handler_;
  double tolerance_;
  int maxPixels_;
  std::vector<Target> targets_;
  std::size_t out_ = 0;  // next target to deliver
  std::size_t in_ = 0;   // target the packets are read for
  bool stopped_ = false;
  // The last conversion, with its frame held so the address cannot be reused meanwhile.
  FramePtr convertedFrame_;
  std::optional<Picture> convertedPicture_;
  double lastRead_ = never;  // decode-order time of the last packet read
  double sentMax_ = never;   // latest presentation time sent to the decoder
  bool forwarding_ = false;  // every packet since runStart_ was sent
  double runStart_ = never;  // keyframe that began the current run of sent packets
  double runKey_ = never;    // latest keyframe of that run
  int seeks_ = 0;
  Reach reach_;
};

VideoDecoder::Pass::Pass(State& state, const std::vector<KeyframePlan::Target>& plan,
                         double tolerance, int maxPixels, const Handler& handler)
    : s_(state), handler_(handler), tolerance_(tolerance), maxPixels_(maxPixels) {
  targets_.reserve(plan.size());
  for (const KeyframePlan::Target& target : plan) targets_.push_back(Target{target, {}, 0});
}

VideoDecoder::Reach VideoDecoder::Pass::run() {
  rewind();
  enter();
  while (!stopped_ && in_ < targets_.size()) {
    PacketPtr packet = s_.read();
    if (!packet) {
      reach_.ranOut = true;
      break;
    }
    if (packet->stream_index == s_.stream) handle(*packet);
  }
  if (stopped_) return Reach{false, reach_.end};
  drain();
  finish();
  if (stopped_) reach_.ranOut = false;
  return reach_;
}

// A pass after another starts over: at the first target's keyframe, else at the start.
void VideoDecoder::Pass::rewind() {
  if (s_.readSomething) {
    if (targets_[0].plan.hasStart) {
      seek(targets_[0].plan.start);
    } else {
      drain();
      s_.peeked.clear();
      if (av_seek_frame(s_.format, s_.stream, s_.startTs, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(s_.format, -1, 0, AVSEEK_FLAG_BYTE);
      lastRead_ = never;
      forwarding_ = false;
    }
  }
  s_.readSomething = true;
}

// A new target: seek when its keyframe is far ahead, or behind us and not decoded.
void VideoDecoder::Pass::enter() {
  if (in_ >= targets_.size() || !targets_[in_].plan.hasStart) return;
  const KeyframePlan::Target& target = targets_[in_].plan;
  const double start = s_.seconds(target.start);
  const bool decodedThrough = forwarding_ && runStart_ <= start + slack;
  if (start > lastRead_ + seekAhead) {
    seek(target.start);
  } else if (!target.keyMode && start < lastRead_ - slack && !decodedThrough) {
    seek(target.start);
  }
}

void VideoDecoder::Pass::seek(std::int64_t ts) {
  drain();
  if (stopped_) return;
  s_.peeked.clear();
  if (av_seek_frame(s_.format, s_.stream, ts, AVSEEK_FLAG_BACKWARD) < 0)
    av_seek_frame(s_.format, s_.stream, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
  lastRead_ = s_.seconds(ts) - 2 * slack;
  sentMax_ = never;
  forwarding_ = false;
  ++seeks_;
}

void VideoDecoder::Pass::handle(const AVPacket& packet) {
  const bool hasDts = packet.dts != AV_NOPTS_VALUE;
  const bool hasPts = packet.pts != AV_NOPTS_VALUE;
  if (!hasDts && !hasPts) {
    if (forwarding_) {
      avcodec_send_packet(s_.codec, &packet);
      receive();
    }
    return;
  }
  PacketTimes times;
  times.order = s_.seconds(hasDts ? packet.dts : packet.pts);
  times.shown = s_.seconds(hasPts ? packet.pts : packet.dts);
  times.key = packet.flags & AV_PKT_FLAG_KEY;
  times.keyTime = std::max(times.order, times.shown);
  lastRead_ = std::max(lastRead_, times.order);
  const double frameSeconds = packet.duration > 0 ? packet.duration * av_q2d(s_.timeBase) : 0;
  reach_.end = std::max(reach_.end, times.shown + frameSeconds);
  if (!passTargets(times.order)) return;
  if (wanted(times)) {
    send(packet, times);
  } else {
    forwarding_ = false;
  }
}

bool VideoDecoder::Pass::passTargets(double order) {
  const int seeksBefore = seeks_;
  while (in_ < targets_.size()) {
    const KeyframePlan::Target& target = targets_[in_].plan;
    const bool passed = target.keyMode
                            ? order > target.time + tolerance_ + slack
                            : order > target.time + slack && sentMax_ >= target.time - slack;
    if (!passed) break;
    ++in_;
    enter();
    if (stopped_ || seeks_ != seeksBefore) break;
  }
  // After a seek this packet came before the new position.
  return !stopped_ && in_ < targets_.size() && seeks_ == seeksBefore;
}

bool VideoDecoder::Pass::wanted(const PacketTimes& times) const {
  const KeyframePlan::Target& target = targets_[in_].plan;
  if (target.keyMode) {
    // Reordering can bring a keyframe before the current target is passed in decode
    // order: it may belong to a later target's window.
    for (std::size_t j = in_; times.key && j < targets_.size(); ++j) {
      const KeyframePlan::Target& later = targets_[j].plan;
      if (later.time - tolerance_ - slack > times.shown) break;
      if (later.keyMode && std::abs(times.shown - later.time) <= tolerance_ + slack) return true;
    }
    return false;
  }
  const double start = target.hasStart ? s_.seconds(target.start) : never;
  if (forwarding_ && start <= runKey_ + slack) return true;  // inside the group it needs
  return times.key && times.keyTime >= start - slack;
}

void VideoDecoder::Pass::send(const AVPacket& packet, const PacketTimes& times) {
  if (times.key) {
    // Index times are decode or presentation times, depending on the container: the run
    // starts no later than either, and its latest keyframe is no earlier than either.
    if (!forwarding_) runStart_ = std::min(times.order, times.shown);
    runKey_ = times.keyTime;
  }
  forwarding_ = true;
  sentMax_ = std::max(sentMax_, times.shown);
  avcodec_send_packet(s_.codec, &packet);
  receive();
}

void VideoDecoder::Pass::receive() {
  while (!stopped_) {
    FramePtr frame = makeFrame();
    if (!frame || avcodec_receive_frame(s_.codec, frame.get()) < 0) return;
    onFrame(frame);
  }
}

void VideoDecoder::Pass::drain() {
  avcodec_send_packet(s_.codec, nullptr);
  receive();
  avcodec_flush_buffers(s_.codec);
}

void VideoDecoder::Pass::onFrame(const FramePtr& frame) {
  std::int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = frame->pts;
  if (ts == AV_NOPTS_VALUE) return;
  const double time = s_.seconds(ts);
  for (std::size_t i = out_; i < targets_.size() && !stopped_; ++i) {
    Target& target = targets_[i];
    const double targetTime = target.plan.time;
    if (tolerance_ > 0 && time < targetTime - tolerance_ - slack) break;
    if (fits(targetTime, tolerance_, time) && nearer(target, time)) {
      target.best = frame;
      target.bestTime = time;
    }
    // Frames come in presentation order: once past the time, none comes nearer.
    if (i != out_ || time < targetTime - slack) continue;
    if (tolerance_ > 0) {
      deliver(target);
      ++out_;
    } else if (time > targetTime + slack) {
      if (!target.best) {
        // A time before the first frame: the first frame is on screen.
        target.best = frame;
        target.bestTime = time;
      }
      deliver(target);
      ++out_;
    }
  }
}

bool VideoDecoder::Pass::nearer(const Target& target, double time) const {
  if (!target.best) return true;
  if (tolerance_ <= 0) return time >= target.bestTime;  // the latest frame not after the time
  return std::abs(time - target.plan.time) < std::abs(target.bestTime - target.plan.time);
}

void VideoDecoder::Pass::deliver(Target& target) {
  Result result{target.plan.time, target.plan.time, std::nullopt};
  if (target.best) {
    if (target.best != convertedFrame_) {
      convertedPicture_ = s_.convert(target.best.get(), maxPixels_);
      convertedFrame_ = target.best;
    }
    result.time = target.bestTime;
    result.picture = convertedPicture_;
  }
  target.best.reset();
  if (!handler_(result)) stopped_ = true;
}

// Whatever was not delivered: the best frame seen, or nothing.
void VideoDecoder::Pass::finish() {
  while (!stopped_ && out_ < targets_.size()) {
    Target& target = targets_[out_++];
    if (tolerance_ <= 0 && target.best) {
      // Past the last frame only within one frame's duration.
      const double frameSeconds =
          target.best->pkt_duration > 0 ? target.best->pkt_duration * av_q2d(s_.timeBase) : 0.1;
      if (target.plan.time - target.bestTime > frameSeconds + slack) target.best.reset();
    }
    deliver(target);
  }
}

VideoDecoder::VideoDecoder(const std::filesystem::path& file) : state_(std::make_unique<State>()) {
  State& s = *state_;
  MediaHeader header(file);
  if (const int code = header.error(); code < 0) {
    throw Error(describe(code), !isFileSystemError(code));
  }
  s.stream = header.videoStream();
  s.format = header.release();
  if (s.format->nb_streams == 0) throw Error(describe(AVERROR_INVALIDDATA), true);

  if (s.format->duration != AV_NOPTS_VALUE && s.format->duration > 0) {
    s.info.duration = static_cast<double>(s.format->duration) / AV_TIME_BASE;
  }
  if (s.stream < 0) return;

  AVStream* stream = s.format->streams[s.stream];
  s.info.hasVideo = true;
  s.timeBase = stream->time_base;
  if (s.timeBase.num <= 0 || s.timeBase.den <= 0) s.timeBase = AVRational{1, AV_TIME_BASE};
  s.startTs = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  if (s.info.duration == 0 && stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    s.info.duration = static_cast<double>(stream->duration) * av_q2d(s.timeBase);
  }
  if (!std::isfinite(s.info.duration) || s.info.duration < 0) s.info.duration = 0;

  const auto natural = MediaHeader::naturalSize(stream);
  const double w = natural.width, h = natural.height;
  s.info.naturalWidth = MediaHeader::pixels(w);
  s.info.naturalHeight = MediaHeader::pixels(h);
  s.info.width = s.info.naturalWidth;
  s.info.height = s.info.naturalHeight;

  if (const auto matrix = MediaHeader::displayMatrix(stream)) {
    // The rectangle through the matrix (16.16 fixed point): its sides are the display size.
    const double a = (*matrix)[0] / 65536.0, b = (*matrix)[1] / 65536.0;
    const double c = (*matrix)[3] / 65536.0, d = (*matrix)[4] / 65536.0;
    const double xs[4] = {0, a * w, c * h, a * w + c * h};
    const double ys[4] = {0, b * w, d * h, b * w + d * h};
    s.info.width =
        MediaHeader::pixels(*std::max_element(xs, xs + 4) - *std::min_element(xs, xs + 4));
    s.info.height =
        MediaHeader::pixels(*std::max_element(ys, ys + 4) - *std::min_element(ys, ys + 4));
    s.mirror = a * d - b * c < 0;
    std::array<std::int32_t, 9> upright = *matrix;
    if (s.mirror) av_display_matrix_flip(upright.data(), 1, 0);
    const double rotation = av_display_rotation_get(upright.data());  // counter-clockwise degrees
    if (std::isfinite(rotation)) {
      const long clockwise = std::lround(-rotation / 90.0);
      s.quarterTurns = static_cast<int>(((clockwise % 4) + 4) % 4);
    }
  }

  s.readIndex();
  const bool matroska = std::string_view(s.format->iformat->name).starts_with("matroska");
  if (matroska) {
    // Matroska reads its cues on the first seek only; a seek to the start is exact there.
    if (av_seek_frame(s.format, s.stream, s.startTs, AVSEEK_FLAG_BACKWARD) >= 0) s.readIndex();
  }
}

VideoDecoder::~VideoDecoder() = default;

const VideoDecoder::Info& VideoDecoder::info() const {
  return state_->info;
}

bool VideoDecoder::hasProtectedContent() {
  State& s = *state_;
  if (s.protectedChecked) return s.isProtected;
  s.protectedChecked = true;
  for (unsigned i = 0; i < s.format->nb_streams; ++i) {
    if (av_stream_get_side_data(s.format->streams[i], AV_PKT_DATA_ENCRYPTION_INIT_INFO, nullptr))
      s.isProtected = true;
  }
  if (s.readSomething) return s.isProtected;
  // Common encryption shows on the packets; a look at the first ones is enough.
  for (int n = 0; n < peekPackets && !s.isProtected; ++n) {
    PacketPtr packet(av_packet_alloc());
    if (!packet || av_read_frame(s.format, packet.get()) < 0) break;
    if (av_packet_get_side_data(packet.get(), AV_PKT_DATA_ENCRYPTION_INFO, nullptr))
      s.isProtected = true;
    const bool video = packet->stream_index == s.stream;
    s.peeked.push_back(std::move(packet));
    if (video) break;
  }
  return s.isProtected;
}

VideoDecoder::Reach VideoDecoder::generate(const std::vector<double>& times, double tolerance,
                                           int maxPixels, const Handler& handler) {
  State& s = *state_;
  if (times.empty()) return {};
  if (s.stream < 0 || !s.openCodec()) {
    for (double t : times) {
      if (!handler(Result{t, t, std::nullopt})) break;
    }
    return {};
  }
  return Pass(s, KeyframePlan::make(times, tolerance, s.keyframes, s.clock()), tolerance, maxPixels,
              handler)
      .run();
}

bool VideoDecoder::canPlay(std::string_view extension) {
  static const std::set<std::string, std::less<>> playable = [] {
    std::set<std::string, std::less<>> names;
    for (const Playable& entry : playableTable()) {
      if (!av_find_input_format(entry.demuxer)) continue;
      for (AVCodecID id : entry.codecs) {
        if (avcodec_find_decoder(id)) {
          names.insert(entry.extension);
          break;
        }
      }
    }
    return names;
  }();
  return playable.find(extension) != playable.end();
}

}  // namespace quillmere
