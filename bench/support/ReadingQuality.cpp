// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ReadingQuality.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include "core/PictureText.h"
#include "index/Library.h"
#include "indexer/Indexer.h"
#include "indexer/TextStage.h"
#include "model/Embedder.h"
#include "platform/ImageCodec.h"
#include "platform/PowerMonitor.h"
#include "search/SearchEngine.h"
#include "support/DrawnWords.h"

namespace quillmere::bench {
namespace {

namespace fs = std::filesystem;

// A Debian package's own PDF (exiftool's, which setup installs), its first pages at 150 dpi.
const fs::path pdf = "/usr/share/doc/libimage-exiftool-perl/html/MIE1.1-20070121.pdf";
constexpr int pdfPages = 4;
constexpr double slideSeconds = 8;
const char* const slides[] = {"Quarterly Budget Review", "Hiring Plan for Spring",
                              "Office Move Timeline", "Customer Survey Results",
                              "Questions and Answers"};

void shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string quoted(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void writeJpeg(const Picture& picture, const fs::path& file) {
  const auto jpeg = ImageCodec::encodeJpeg(picture, 92);
  if (!jpeg) throw std::runtime_error("cannot encode " + file.string());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg->data()),
             static_cast<std::streamsize>(jpeg->size()));
}

std::string folded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) out += static_cast<char>(std::toupper(c));
  }
  return out;
}

// A slide a second of the video's 8: the words on a darkened Debian photo, 1280 × 720.
void writeSlideshow(const fs::path& work, const fs::path& video) {
  auto background = ImageCodec::thumbnail("/usr/share/backgrounds/mate/nature/Storm.jpg", 1280);
  if (!background) throw std::runtime_error("no slide background");
  auto slide = ImageCodec::resize(*background, 1280, 720);
  if (!slide) throw std::runtime_error("cannot size the slide background");
  for (std::size_t k = 0; k < std::size(slides); ++k) {
    Picture page = *slide;
    if (!draw(page, {.text = slides[k],
                     .font = "DejaVu Sans Bold 64",
                     .x = 120,
                     .y = 300,
                     .ink = {250, 250, 250}}))
      throw std::runtime_error("libvips could not draw a slide");
    writeJpeg(page, work / ("slide-" + std::to_string(k + 1) + ".jpg"));
  }
  shell("ffmpeg -loglevel error -y -framerate 1/" + std::to_string(int(slideSeconds)) + " -i " +
        quoted(work / "slide-%d.jpg") + " -c:v libx264 -r 25 -pix_fmt yuv420p " + quoted(video));
}

// Words of four letters or more that poppler reads on the page: what a reader should find.
std::vector<std::string> pageWords(int page, const fs::path& work) {
  const fs::path text = work / ("page-" + std::to_string(page) + ".txt");
  shell("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + quoted(pdf) +
        " " + quoted(text));
  std::ifstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    const std::string letters = folded(word);
    if (letters.size() >= 4) words.push_back(letters);
  }
  return words;
}

std::string readIn(Library& library, const MediaFile& file) {
  std::string all;
  for (const auto& row : library.stageRows(file.id, Library::textStage)) {
    for (const auto& line : PictureText::decoded(row.data).lines) all += folded(line.text);
  }
  return all;
}

}  // namespace

void printReadingQuality(const std::vector<WordedPicture>& pictures, const fs::path& textModel) {
  const fs::path work = fs::temp_directory_path() / "quillmere-bench-reading-quality";
  fs::remove_all(work);
  fs::create_directories(work / "media");
  for (std::size_t i = 0; i < pictures.size(); ++i)
    writeJpeg(pictures[i].picture, work / "media" / ("photo-" + std::to_string(i) + ".jpg"));
  const bool withPdf = fs::exists(pdf);
  if (withPdf) {
    shell("pdftoppm -r 150 -f 1 -l " + std::to_string(pdfPages) + " -jpeg " + quoted(pdf) + " " +
          quoted(work / "media" / "page"));
  }
  writeSlideshow(work, work / "media" / "talk.mp4");

  const auto modelDirectory = Embedder::defaultDirectory();
  if (!modelDirectory) throw std::runtime_error("no image-text model directory");
  Embedder embedder(*modelDirectory);
  Library library(work / "Library.sqlite", static_cast<std::size_t>(embedder.info().dim),
                  embedder.info().signature());
  library.addRoot((work / "media").string(), std::nullopt, std::nullopt, std::nullopt, false);
  {
    Indexer indexer(library, embedder, Indexer::Policy{},
                    std::make_shared<PowerMonitor>("/nonexistent"));
    indexer.addStage(std::make_shared<TextStage>(textModel));
    indexer.run();
    indexer.waitUntilIdle();
  }

  SearchEngine engine(library, embedder);
  const auto top = [&](const std::string& words) {
    const auto vector = engine.queryVector(words);
    auto results = engine.search(vector, words, SearchFilter{}, 5).results;
    return results.empty() ? std::optional<SearchResult>() : std::optional(results.front());
  };
  // A line written on several pictures finds one of them first.
  std::map<std::string, std::set<std::string>> holders;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    for (const auto& line : pictures[i].lines)
      holders[line].insert("photo-" + std::to_string(i) + ".jpg");
  }
  int first = 0, asked = 0;
  for (const auto& [line, names] : holders) {
    ++asked;
    const auto found = top(line);
    first += found && names.contains(found->file.relPath);
  }
  int inSlide = 0;
  for (std::size_t k = 0; k < std::size(slides); ++k) {
    const auto found = top(slides[k]);
    const bool inside = found && found->file.relPath == "talk.mp4" &&
                        found->time >= k * slideSeconds && found->time < (k + 1) * slideSeconds;
    std::printf("slide %zu (%g–%g s) \"%s\": %s at %.2f s\n", k + 1, k * slideSeconds,
                (k + 1) * slideSeconds, slides[k], found ? found->file.relPath.c_str() : "nothing",
                found ? found->time : 0.0);
    inSlide += inside;
  }
  int pageFound = 0, pageTotal = 0;
  if (withPdf) {
    for (const MediaFile& file : library.allFiles()) {
      if (file.relPath.rfind("page-", 0) != 0) continue;
      const int page = std::atoi(file.relPath.substr(5).c_str());
      const std::string read = readIn(library, file);
      for (const auto& word : pageWords(page, work)) {
        ++pageTotal;
        pageFound += read.find(word) != std::string::npos;
      }
    }
    std::printf("PDF pages at 150 dpi: %d of %d words of four letters or more read (%.1f %%)\n",
                pageFound, pageTotal, pageTotal ? 100.0 * pageFound / pageTotal : 0.0);
  }
  std::printf("search for a line's words: a picture holding it first for %d of %d lines\n", first,
              asked);
  std::printf("ratio search_finds_the_picture_first %.3f target >= 0.95\n",
              asked ? double(first) / asked : 0.0);
  std::printf("ratio slide_moments_inside_their_slide %.3f target >= 1.0\n",
              double(inSlide) / std::size(slides));
  std::printf("the library stays for a look: %s\n", (work / "Library.sqlite").c_str());
}

}  // namespace quillmere::bench
