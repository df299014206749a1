// SPDX-License-Identifier: GPL-3.0-or-later
// Test media made at test time with the ffmpeg, vips and exiftool commands, and small
// helpers to write and read raw pictures. Nothing here is committed as binary media.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Picture.h"

namespace quillmere::test {

// Runs a shell command; throws std::runtime_error naming it when it fails.
void runCommand(const std::string& command);
// The path quoted for the shell.
std::string shellQuoted(const std::filesystem::path& path);
// tools/make_published_models.py's text_graph(arguments..., rows=rows) in float16.
void writeHalfTextGraph(const std::filesystem::path& file, const std::string& arguments, int rows);

// A picture of one colour, or of two halves (left and right).
Picture solidPicture(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b);
Picture splitPicture(int width, int height, const std::uint8_t left[3],
                     const std::uint8_t right[3]);
// Mean of the picture's pixels in a rectangle, per channel.
std::vector<double> meanColour(const Picture& picture, int x, int y, int width, int height);

// Binary PPM (P6): an exact, independent way into and out of the vips command.
void writePpm(const std::filesystem::path& file, const Picture& picture);
Picture readPpm(const std::filesystem::path& file);

// Saves a picture through the vips command in the format the extension names
// ("x.jpg[Q=90]" style options may follow the name).
void savePicture(const Picture& picture, const std::filesystem::path& file,
                 const std::string& options = "");
// A JPEG of a Debian photo with dark words drawn on it by the vips command in DejaVu Sans
// Bold, near its top left.
void writeWordsPhoto(const std::filesystem::path& file, const std::string& words, int points = 64);
// Decodes any image file with the vips command at full size.
Picture loadPicture(const std::filesystem::path& file);

// A file of exactly this many bytes: the start of source, padded with zeros.
void writeSized(const std::filesystem::path& file, const std::filesystem::path& source,
                std::uintmax_t size);
// The first bytes of source.
void writeTruncated(const std::filesystem::path& file, const std::filesystem::path& source,
                    std::uintmax_t size);
// Reproducible noise.
void writeRandom(const std::filesystem::path& file, std::size_t size, std::uint32_t seed);
// A PNG whose header declares width x height but which holds almost no data.
void writeDeclaredPng(const std::filesystem::path& file, std::uint32_t width, std::uint32_t height);

// One scene of a generated clip: a flat colour ("0x646464") for some seconds.
struct Scene {
  double seconds = 0;
  std::string colour;
};

struct ClipOptions {
  int width = 160;
  int height = 90;
  int fps = 10;
  double keyframeSeconds = 2;     // regular keyframes; 0 for only the first
  std::string forceKeyframes;     // ffmpeg -force_key_frames expression, if any
  std::string extraOutputArgs;    // e.g. "-metadata:s:v:0 rotate=90"
  std::string format;             // muxer, when not the extension's
  std::string codec = "libx264";  // any ffmpeg video encoder
};

// A clip (H.264 unless told) of flat colour scenes with scene-cut keyframes switched off, so
// keyframes fall only where the options put them.
void makeSceneClip(const std::filesystem::path& file, const std::vector<Scene>& scenes,
                   const ClipOptions& options = {});
// A moving test pattern (testsrc2) clip of the given length.
void makePatternClip(const std::filesystem::path& file, double seconds,
                     const ClipOptions& options = {});
// An AAC tone in an MP4 container: no video track.
void makeAudioOnly(const std::filesystem::path& file, double seconds);

}  // namespace quillmere::test
