// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelWords.h"

#include <cstdio>
#include <iterator>

namespace quillmere::ModelWords {
namespace {

std::string megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + 999'999) / 1'000'000) + " MB";
}

const std::string again = " Run the download again to go on where it stopped.";

// What a transfer was for: a file of the export, or its list of files.
std::string asked(const ModelDownload::Failure::Data& data) {
  return data.file.empty() ? "the list of files of " + data.repository : data.file;
}

std::string dimensions(const std::vector<std::int64_t>& dims) {
  std::string text = "[";
  for (std::size_t i = 0; i < dims.size(); ++i) {
    text += (i ? ", " : "") + (dims[i] < 0 ? std::string("any") : std::to_string(dims[i]));
  }
  return text + "]";
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::string fileSize(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  std::size_t unit = 0;
  while (value >= 999.5 && unit + 1 < std::size(units)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return text;
}

std::string busy(const std::string& repository, const std::string& variant) {
  return repository + (variant.empty() ? "" : " (" + variant + ")") +
         " is being downloaded already, by this or another Quillmere (the application or "
         "quillmere-cli). Wait until that download ends.";
}

std::string failure(const ModelDownload::Failure& failure) {
  using Reason = ModelDownload::Failure::Reason;
  const auto& d = failure.data();
  switch (failure.reason()) {
    case Reason::notRepository:
      return "'" + d.repository + "' is not a model of the hub: give owner/name.";
    case Reason::notVariant:
      return "'" + d.variant + "' is not a variant's name (such as quantized or fp16).";
    case Reason::endpointRefused:
      return "The hub's address " + d.host +
             " is refused: models are downloaded over https:// only, or over http:// from this "
             "computer itself (127.0.0.1, [::1] or localhost). Check HF_ENDPOINT.";
    case Reason::noSuchModel:
      return "The hub at " + d.host + " has no public model " + d.repository + ".";
    case Reason::unreadableList:
      return "The hub at " + d.host + " sent a file list this program can't read (" + d.detail +
             ").";
    case Reason::notAnExport:
      return d.repository +
             " is not an export this program reads: it has neither visual/model.onnx (Immich's "
             "layout) nor onnx/vision_model.onnx (Optimum / transformers.js).";
    case Reason::variantOfImmich:
      return d.repository +
             " is in Immich's layout, which publishes no ONNX variants: download it without one.";
    case Reason::lacksFile:
      return d.repository + " lacks " + d.file + ", which the import needs.";
    case Reason::impossibleSize:
      return "The hub at " + d.host + " lists " + d.file + " of " + d.repository +
             " with a size of " + d.detail +
             " bytes, which no file of a model has. Nothing was downloaded.";
    case Reason::exists:
      return d.path + " already exists. Remove it first to download " + d.repository + " again.";
    case Reason::busy:
      return busy(d.repository, d.variant);
    case Reason::cannotWrite:
      return "Cannot write " + d.path + ": " + d.detail + ".";
    case Reason::noRoom:
      return "Not enough room in " + d.path + ": " + d.repository + " needs " + megabytes(d.bytes) +
             ", " + megabytes(d.free) + " are free.";
    case Reason::oversized:
      return d.host + " sent more than the " + fileSize(d.bytes) + " the hub lists for " + d.file +
             " of " + d.repository + ". What arrived of it was deleted.";
    case Reason::corrupt:
      return d.file + " of " + d.repository +
             " did not arrive intact: its checksum differs from the hub's. It was deleted; run "
             "the download again.";
    case Reason::stopped:
      return "The download stopped." + again;
    case Reason::unreachable:
      return "Can't reach " + d.host + ": " + d.detail;
    case Reason::notFound:
      return "The hub at " + d.host + " has no " + asked(d) + " in " + d.repository + " (404).";
    case Reason::refused:
      return d.host + " refused " + asked(d) + " (HTTP " + std::to_string(d.status) + ").";
    case Reason::stalled:
      return d.host + " stopped sending " + asked(d) + " (" + d.detail + ")." + again;
    case Reason::cannotStore:
      return "Cannot store " + asked(d) + ": " +
             (d.path.empty() ? "" : "Cannot write " + d.path + ": ") + d.detail +
             ". What was downloaded of the model was removed.";
    case Reason::brokeOff:
      break;
  }
  return "The transfer of " + asked(d) + " from " + d.host + " broke off (" + d.detail + ")." +
         again;
}

std::string refusal(const ModelImport::Refusal& refusal) {
  using Reason = ModelImport::Refusal::Reason;
  const auto& d = refusal.data();
  switch (refusal.reason()) {
    case Reason::cannotRead:
      return "Cannot read " + d.path + ".";
    case Reason::notJSON:
      return d.path + " is not valid JSON (" + d.detail + ").";
    case Reason::notThreeNumbers:
      return "\"" + d.name + "\" is not three numbers.";
    case Reason::cannotWrite:
      return "Cannot write " + d.path + ".";
    case Reason::notAFolder:
      return d.path + " is not a folder. Give the folder of a downloaded export.";
    case Reason::notVariant:
      return "'" + d.name + "' is not a variant's name (such as quantized or fp16).";
    case Reason::malformed:
      return "The export's configuration files are not in the form its exporter writes (" +
             d.detail + "). Download the folder of the export again.";
    case Reason::unreadableEncoders:
      return "Cannot read " + d.path + " or " + d.other + ".";
    case Reason::unknownLayout:
      return d.path +
             " is not an export this program knows. It reads Immich's model folders (visual/ and "
             "textual/ beside config.json) and Optimum / transformers.js folders "
             "(onnx/vision_model.onnx, onnx/text_model.onnx, config.json, "
             "preprocessor_config.json, tokenizer.json).";
    case Reason::incomplete:
      return "The export is incomplete: " + d.name + " is missing in " + d.path +
             ". Download the whole folder of the export again.";
    case Reason::variantOfImmich:
      return "Immich's exports publish no ONNX variants beside their encoders; import " + d.path +
             " without a variant.";
    case Reason::pooledWidthsDiffer:
      return "The encoders' output widths differ (image " + std::to_string(d.first) + ", text " +
             std::to_string(d.second) +
             "): their pooled outputs are not in one space. Use an export of the whole "
             "image-text model whose two towers end in vectors of the same width.";
    case Reason::severalVariants:
      return "The export has no float32 encoders but several variants (" + joined(d.names) +
             "): import one with 'quillmere-cli model import " + d.path + " --variant NAME'.";
    case Reason::tokenizer:
      return d.path + ": " + d.detail;
    case Reason::noSizeOrWidth:
      return "The export's configuration gives no image size or no embedding width.";
    case Reason::exists:
      return d.path + " already exists. Remove it, or give another destination.";
    case Reason::failed:
      return "The import failed: " + d.detail;
    case Reason::imageGraph:
      return "The image encoder has no float input \"" + d.name +
             "\" of four dimensions and output \"" + d.other + "\".";
    case Reason::textGraph:
      return "The text encoder has no input \"" + d.name + "\" of two dimensions and output \"" +
             d.other + "\".";
    case Reason::imageSizeDiffers:
      return "The image encoder takes pictures of " + dimensions(d.dimensions) +
             ", but the export's configuration says " + std::to_string(d.first) +
             " pixels a side. The configuration files belong to another export: download the "
             "folder again.";
    case Reason::outputWidthsDiffer:
      return "The encoders' output widths differ (image " + std::to_string(d.first) + ", text " +
             std::to_string(d.second) +
             "): they are not one image-text model. Import both encoders of one export.";
    case Reason::widthDiffers:
      break;
  }
  return "The encoders give vectors of " + std::to_string(d.first) +
         " components, but the export's configuration says " + std::to_string(d.second) + ".";
}

std::string note(const ModelImport::Note& note) {
  using Kind = ModelImport::Note::Kind;
  switch (note.kind) {
    case Kind::soleVariant:
      return "the export has only its " + note.name + " encoders: those were taken";
    case Kind::resampling:
      return "the export resamples pictures with \"" + note.name +
             "\" filtering, which this program does not have: it resamples bilinearly instead, "
             "so its vectors differ slightly from the exporter's";
    case Kind::tokenizer:
      return "tokenizer: " + note.detail;
    case Kind::defaultLogits:
      return "the export carries no logit scale and bias: the probability uses " +
             std::to_string(note.scale) + " and " + std::to_string(note.bias);
    case Kind::widened:
      return note.name +
             " is in float16, which runs slower here than float32: it was widened to float32, "
             "twice its size on disk, with the same weights";
    case Kind::keptFloat16:
      break;
  }
  using Kept = Float16Upcast::Failure::Reason;
  const std::string why =
      note.kept == Kept::externalWeight
          ? "its float16 weight \"" + note.detail + "\" is kept in a file of its own"
      : note.kept == Kept::tooLarge ? "in float32 it would pass the 2 GB an ONNX file holds"
                                    : "cannot write " + note.detail;
  return note.name + " stays in float16, which runs slower: " + why;
}

std::string catalogue(const ModelCatalogue::Failure& failure) {
  using Reason = ModelCatalogue::Failure::Reason;
  switch (failure.reason()) {
    case Reason::unreadable:
      return "Cannot read the list of models " + failure.path() + ".";
    case Reason::notRepository:
      return "The list of models " + failure.path() + " names '" + failure.name() +
             "', which is not owner/name.";
    case Reason::damaged:
      break;
  }
  return "The list of models " + failure.path() + " is damaged (" + failure.what() + ").";
}

}  // namespace quillmere::ModelWords
