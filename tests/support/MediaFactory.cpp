// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MediaFactory.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quillmere::test {

namespace {

std::vector<char> readAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::filesystem::path& file, const std::vector<char>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::uint32_t crc32(const std::vector<unsigned char>& bytes, std::size_t from) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = from; i < bytes.size(); ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void putBig32(std::vector<unsigned char>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
}

void pngChunk(std::vector<unsigned char>& png, const char* type,
              const std::vector<unsigned char>& data) {
  putBig32(png, static_cast<std::uint32_t>(data.size()));
  std::vector<unsigned char> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  putBig32(png, crc32(body, 0));
}

std::string number(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

}  // namespace

void runCommand(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  if (status != 0) throw std::runtime_error("command failed: " + command);
}

void writeHalfTextGraph(const std::filesystem::path& file, const std::string& arguments, int rows) {
  runCommand(std::string(QUILLMERE_PYTHON) + " -c \"import sys; sys.path.insert(0, '" +
             QUILLMERE_SOURCE_DIR + "/tools'); import make_published_models as m; " +
             "m.text_graph(sys.argv[1], " + arguments + ", rows=" + std::to_string(rows) +
             ", float16='all')\" " + shellQuoted(file));
}

std::string shellQuoted(const std::filesystem::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

Picture solidPicture(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const std::uint8_t colour[3] = {r, g, b};
  return splitPicture(width, height, colour, colour);
}

Picture splitPicture(int width, int height, const std::uint8_t left[3],
                     const std::uint8_t right[3]) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* colour = x < width / 2 ? left : right;
      auto* pixel = picture.rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
      pixel[0] = colour[0], pixel[1] = colour[1], pixel[2] = colour[2];
    }
  }
  return picture;
}

std::vector<double> meanColour(const Picture& picture, int x, int y, int width, int height) {
  std::vector<double> sum(3, 0);
  std::size_t count = 0;
  for (int row = y; row < y + height && row < picture.height; ++row) {
    for (int column = x; column < x + width && column < picture.width; ++column) {
      const auto* pixel =
          picture.rgb.data() + (static_cast<std::size_t>(row) * picture.width + column) * 3;
      for (int c = 0; c < 3; ++c) sum[c] += pixel[c];
      ++count;
    }
  }
  for (auto& value : sum) value = count ? value / count : 0;
  return sum;
}

void writePpm(const std::filesystem::path& file, const Picture& picture) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "P6\n" << picture.width << " " << picture.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(picture.rgb.data()),
            static_cast<std::streamsize>(picture.rgb.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

Picture readPpm(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  Picture picture;
  // Header fields, each possibly preceded by "#" comment lines.
  auto field = [&in](auto& value) {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
    in >> value;
  };
  field(magic);
  field(picture.width);
  field(picture.height);
  field(maxValue);
  in.get();
  if (!in || magic != "P6" || maxValue != 255)
    throw std::runtime_error("not an 8-bit PPM: " + file.string());
  picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
  in.read(reinterpret_cast<char*>(picture.rgb.data()),
          static_cast<std::streamsize>(picture.rgb.size()));
  if (!in) throw std::runtime_error("short PPM: " + file.string());
  return picture;
}

void savePicture(const Picture& picture, const std::filesystem::path& file,
                 const std::string& options) {
  const auto raw = file.parent_path() / (file.filename().string() + ".source.ppm");
  writePpm(raw, picture);
  runCommand("vips copy " + shellQuoted(raw) + " " + shellQuoted(file.string() + options));
  std::filesystem::remove(raw);
}

void writeWordsPhoto(const std::filesystem::path& file, const std::string& words, int points) {
  const std::string stem = file.string() + ".part";
  const auto part = [&](const char* name) { return shellQuoted(stem + name); };
  // The words' coverage darkens a Debian photo: out = photo * (1 - coverage / 255).
  runCommand("vips thumbnail /usr/share/backgrounds/mate/nature/Dune.jpg " + part("bg.v") +
             " 1000 && vips text " + part("mask.v") + " " + shellQuoted(words) +
             " --font 'DejaVu Sans Bold " + std::to_string(points) + "' --dpi 72 && vips embed " +
             part("mask.v") + " " + part("big.v") + " 40 60 $(vipsheader -f width " + part("bg.v") +
             ") $(vipsheader -f height " + part("bg.v") + ") && vips invert " + part("big.v") +
             " " + part("inv.v") + " && vips linear " + part("inv.v") + " " + part("f.v") +
             " 0.00392157 0 && vips multiply " + part("bg.v") + " " + part("f.v") + " " +
             part("p.v") + " && vips cast " + part("p.v") + " " +
             shellQuoted(file.string() + "[Q=92]") + " uchar");
  for (const char* name : {"bg.v", "mask.v", "big.v", "inv.v", "f.v", "p.v"}) {
    std::filesystem::remove(stem + name);
  }
}

Picture loadPicture(const std::filesystem::path& file) {
  const auto raw = file.parent_path() / (file.filename().string() + ".decoded.ppm");
  // 8-bit sRGB, alpha dropped, so the PPM reader always applies.
  runCommand("vips colourspace " + shellQuoted(file) + " " + shellQuoted(raw.string() + ".v") +
             " srgb");
  runCommand("vips extract_band " + shellQuoted(raw.string() + ".v") + " " + shellQuoted(raw) +
             " 0 --n 3");
  Picture picture = readPpm(raw);
  std::filesystem::remove(raw);
  std::filesystem::remove(raw.string() + ".v");
  return picture;
}

void writeSized(const std::filesystem::path& file, const std::filesystem::path& source,
                std::uintmax_t size) {
  std::vector<char> bytes = readAll(source);
  bytes.resize(size, 0);
  writeAll(file, bytes);
}

void writeTruncated(const std::filesystem::path& file, const std::filesystem::path& source,
                    std::uintmax_t size) {
  std::vector<char> bytes = readAll(source);
  if (bytes.size() > size) bytes.resize(size);
  writeAll(file, bytes);
}

void writeRandom(const std::filesystem::path& file, std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<char> bytes(size);
  for (auto& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  writeAll(file, bytes);
}

void writeDeclaredPng(const std::filesystem::path& file, std::uint32_t width,
                      std::uint32_t height) {
  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  putBig32(header, width);
  putBig32(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  pngChunk(png, "IHDR", header);
  // A zlib stream holding one stored block of 1000 zero bytes: the first rows at most.
  std::vector<unsigned char> data = {0x78, 0x01, 0x01, 0xE8, 0x03, 0x17, 0xFC};
  data.insert(data.end(), 1000, 0);
  putBig32(data, (1000u << 16) | 1u);  // Adler-32 of 1000 zeros
  pngChunk(png, "IDAT", data);
  pngChunk(png, "IEND", {});
  writeAll(file, std::vector<char>(png.begin(), png.end()));
}

void makeSceneClip(const std::filesystem::path& file, const std::vector<Scene>& scenes,
                   const ClipOptions& options) {
  std::string graph;
  std::string inputs;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    graph += "color=c=" + scenes[i].colour + ":s=" + std::to_string(options.width) + "x" +
             std::to_string(options.height) + ":r=" + std::to_string(options.fps) +
             ":d=" + number(scenes[i].seconds) + "[s" + std::to_string(i) + "];";
    inputs += "[s" + std::to_string(i) + "]";
  }
  graph += inputs + "concat=n=" + std::to_string(scenes.size()) + ":v=1:a=0,format=yuv420p[v]";
  std::string command = "ffmpeg -nostdin -y -v error -filter_complex \"" + graph +
                        "\" -map \"[v]\" -c:v " + options.codec + " ";
  // x264 reads 0 as "no scene cuts"; FFmpeg's own encoders need a threshold never reached.
  if (options.codec == "libx264") command += "-preset veryfast -sc_threshold 0 ";
  if (options.codec == "mpeg4" || options.codec == "flv") command += "-sc_threshold 1000000000 ";
  if (options.codec == "libx265")
    command += "-preset veryfast -x265-params log-level=error:scenecut=0 ";
  if (options.codec.starts_with("libvpx")) command += "-deadline realtime -cpu-used 8 ";
  if (options.keyframeSeconds > 0) {
    const int gop = std::max(1, static_cast<int>(options.keyframeSeconds * options.fps + 0.5));
    command += "-g " + std::to_string(gop) + " -keyint_min " + std::to_string(gop) + " ";
  } else {
    command += "-g 100000 -keyint_min 100000 ";
  }
  if (!options.forceKeyframes.empty())
    command += "-force_key_frames \"" + options.forceKeyframes + "\" ";
  command += options.extraOutputArgs + " ";
  if (!options.format.empty()) command += "-f " + options.format + " ";
  command += shellQuoted(file);
  runCommand(command);
}

void makePatternClip(const std::filesystem::path& file, double seconds,
                     const ClipOptions& options) {
  std::string command =
      "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=s=" + std::to_string(options.width) + "x" +
      std::to_string(options.height) + ":r=" + std::to_string(options.fps) +
      ":d=" + number(seconds) + " -pix_fmt yuv420p -c:v libx264 -preset veryfast -sc_threshold 0 ";
  const int gop = std::max(1, static_cast<int>(options.keyframeSeconds * options.fps + 0.5));
  command += "-g " + std::to_string(gop) + " " + options.extraOutputArgs + " ";
  if (!options.format.empty()) command += "-f " + options.format + " ";
  command += shellQuoted(file);
  runCommand(command);
}

void makeAudioOnly(const std::filesystem::path& file, double seconds) {
  runCommand("ffmpeg -nostdin -y -v error -f lavfi -i sine=frequency=440:duration=" +
             number(seconds) + " -c:a aac " + shellQuoted(file));
}

}  // namespace quillmere::test
