// SPDX-License-Identifier: GPL-3.0-or-later
#include "indexer/StageSet.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>

#include "model/Embedder.h"
#include "platform/ImageCodec.h"
#include "scan/FrameSampler.h"

namespace quillmere {
namespace {

// The picture no larger than the stage asks for: the same one when it fits.
const Picture& fitted(const Picture& image, std::int64_t pixels, std::optional<Picture>& smaller) {
  const int side = std::max(image.width, image.height);
  if (side <= pixels || side < 1) return image;
  const double scale = static_cast<double>(pixels) / side;
  smaller = ImageCodec::resize(image, std::max(1, static_cast<int>(image.width * scale)),
                               std::max(1, static_cast<int>(image.height * scale)));
  return smaller ? *smaller : image;
}

}  // namespace

StageSet::StageSet(Embedder& embedder) : embed_(embedder) {
  // Owned by the set itself: the pointer keeps it, never deletes it.
  stages_.emplace_back(std::shared_ptr<Stage>(&embed_, [](Stage*) {}), true);
}

void StageSet::add(std::shared_ptr<Stage> stage) {
  MutexLock guard(lock_);
  stages_.emplace_back(std::move(stage), true);
}

void StageSet::turn(std::string_view name, bool on) {
  MutexLock guard(lock_);
  for (auto& [stage, enabled] : stages_) {
    if (stage.get() != &embed_ && stage->name() == name) enabled = on;
  }
}

std::vector<std::shared_ptr<Stage>> StageSet::on() const {
  MutexLock guard(lock_);
  std::vector<std::shared_ptr<Stage>> on;
  for (const auto& [stage, enabled] : stages_) {
    if (enabled) on.push_back(stage);
  }
  return on;
}

std::int64_t StageSet::pixels() const {
  std::int64_t pixels = 0;
  for (const auto& stage : on()) pixels = std::max(pixels, stage->pixels());
  return pixels;
}

double StageSet::share() const {
  double share = 0;
  for (const auto& stage : on()) share += stage->share();
  return share;
}

StageSet::Output StageSet::run(std::span<const StagePicture> pictures) const {
  Output output;
  output.others.resize(pictures.size());
  for (const auto& stage : on()) {
    std::vector<std::optional<Picture>> smaller(pictures.size());
    std::vector<StagePicture> sized;
    for (std::size_t k = 0; k < pictures.size(); ++k) {
      sized.push_back({.file = pictures[k].file,
                       .time = pictures[k].time,
                       .image = fitted(pictures[k].image, stage->pixels(), smaller[k])});
    }
    std::vector<std::vector<Library::StageRow>> rows = stage->process(sized);
    if (rows.size() != pictures.size()) throw Embedder::Failure::output();
    if (stage.get() == &embed_) {
      for (const auto& row : rows) {
        output.vectors.push_back(row.empty() ? std::vector<Half>{} : EmbedStage::vectorOf(row[0]));
      }
      continue;
    }
    output.names.push_back(stage->name());
    for (std::size_t k = 0; k < pictures.size(); ++k) {
      output.others[k].push_back({.stage = stage->name(), .rows = std::move(rows[k])});
    }
  }
  return output;
}

void StageSet::fill(Library& library, const std::map<std::int64_t, std::filesystem::path>& roots,
                    std::stop_token stop, const BeforeFile& beforeFile) const {
  std::set<std::int64_t> ids;
  for (const auto& [id, filePath] : roots) ids.insert(id);
  for (const auto& stage : on()) {
    if (stage.get() == &embed_) continue;
    const std::vector<MediaFile> lacking = library.lacking(stage->name(), ids);
    const int total = static_cast<int>(lacking.size());
    for (int done = 0; done < total; ++done) {
      beforeFile(stage->name(), done, total);
      if (stop.stop_requested()) return;
      const MediaFile& file = lacking[static_cast<std::size_t>(done)];
      fillOne(library, *stage, file, roots.at(file.rootID) / file.relPath);
    }
  }
}

void StageSet::fillOne(Library& library, Stage& stage, const MediaFile& file,
                       const std::filesystem::path& filePath) {
  try {
    std::vector<FrameSampler::Frame> frames;
    if (file.kind == MediaKind::photo) {
      frames = std::move(FrameSampler::photo(filePath, stage.pixels()).frames);
    } else {
      frames = FrameSampler::frames(filePath, library.frameTimes(file.id), stage.pixels());
    }
    std::vector<StagePicture> pictures;
    for (const auto& frame : frames) {
      pictures.push_back({.file = file, .time = frame.time, .image = frame.image});
    }
    std::vector<std::vector<Library::StageRow>> rows = stage.process(pictures);
    Library::StageRows all{.stage = stage.name()};
    for (auto& list : rows) std::move(list.begin(), list.end(), std::back_inserter(all.rows));
    library.saveStage(file, all);
  } catch (const std::exception&) {
    // The file keeps what it has; the next run tries it again.
  }
}

}  // namespace quillmere
