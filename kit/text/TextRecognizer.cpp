// SPDX-License-Identifier: GPL-3.0-or-later
// Batches by width, the recogniser's runs and the greedy decoding.
#include "text/TextRecognizer.h"

#include <algorithm>
#include <numeric>

namespace quillmere {

TextRecognizer::TextRecognizer(const TextModel& model)
    : settings_(model.recognizer()),
      characters_(model.characters()),
      normalisation_{{0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, model.bgr()},
      session_(settings_.file) {
  const auto& shape = session_.outputShape();
  if (shape.size() != 3 || shape[2] != static_cast<std::int64_t>(characters_.size())) {
    throw TextModel::Failure(settings_.file.string() + " reads " +
                             (shape.size() == 3 ? std::to_string(shape[2]) : std::string("no")) +
                             " classes, its dictionary " + std::to_string(characters_.size()));
  }
}

std::vector<TextRecognizer::Reading> TextRecognizer::recognize(std::span<const Picture> strips) {
  // Strips of like proportions share a batch, so little of each batch is padding.
  std::vector<std::size_t> order(strips.size());
  std::iota(order.begin(), order.end(), 0);
  const auto ratio = [&](std::size_t i) {
    return static_cast<double>(strips[i].width) / std::max(1, strips[i].height);
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return ratio(a) < ratio(b); });
  std::vector<Reading> readings(strips.size());
  std::vector<const Picture*> batch;
  for (std::size_t start = 0; start < order.size(); start += settings_.batch) {
    const std::size_t count = std::min<std::size_t>(settings_.batch, order.size() - start);
    batch.clear();
    for (std::size_t i = 0; i < count; ++i) batch.push_back(&strips[order[start + i]]);
    std::vector<Reading> read = recognizeBatch(batch);
    for (std::size_t i = 0; i < count; ++i) readings[order[start + i]] = std::move(read[i]);
  }
  return readings;
}

std::vector<TextRecognizer::Reading> TextRecognizer::recognizeBatch(
    std::span<const Picture* const> strips) {
  const int height = settings_.height;
  int width = settings_.minWidth;
  for (const Picture* strip : strips) width = std::max(width, strip->width);
  width = std::min(width, settings_.maxWidth);
  const std::size_t count = strips.size();
  std::vector<float> input(count * 3 * height * width, 0.0f);
  for (std::size_t i = 0; i < count; ++i)
    TextSession::write(*strips[i], normalisation_, input, static_cast<int>(i), height, width);
  Ort::Value output = session_.run(input, {static_cast<std::int64_t>(count), 3, height, width});
  const auto shape = output.GetTensorTypeAndShapeInfo().GetShape();
  if (shape.size() != 3 || shape[0] != static_cast<std::int64_t>(count) ||
      shape[2] != static_cast<std::int64_t>(characters_.size()))
    throw TextModel::Failure("the recogniser's output does not match its dictionary");
  const float* data = output.GetTensorData<float>();
  std::vector<Reading> readings;
  for (std::size_t i = 0; i < count; ++i)
    readings.push_back(decode(data + i * shape[1] * shape[2], shape[1], shape[2]));
  return readings;
}

TextRecognizer::Reading TextRecognizer::decode(const float* steps, std::int64_t count,
                                               std::int64_t classes) const {
  Reading reading;
  double sum = 0;
  int kept = 0;
  std::int64_t previous = -1;
  for (std::int64_t t = 0; t < count; ++t) {
    const float* row = steps + t * classes;
    const std::int64_t best = std::max_element(row, row + classes) - row;
    if (best != 0 && best != previous) {
      reading.text += characters_[best];
      sum += row[best];
      ++kept;
    }
    previous = best;
  }
  reading.confidence = kept == 0 ? 0.0f : static_cast<float>(sum / kept);
  return reading;
}

}  // namespace quillmere
