// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelWords.h"

#include <QStringList>
#include <iterator>

namespace quillmere {
namespace {

QString text(const std::string& bytes) {
  return QString::fromStdString(bytes);
}

QString megabytes(std::uint64_t bytes) {
  return ModelWords::tr("%1 MB").arg((bytes + 999'999) / 1'000'000);
}

QString dimensions(const std::vector<std::int64_t>& dims) {
  QStringList parts;
  for (const auto dim : dims) parts << (dim < 0 ? QStringLiteral("any") : QString::number(dim));
  return QChar('[') + parts.join(QStringLiteral(", ")) + QChar(']');
}

// As std::to_string writes a float: six decimals.
QString decimal(float value) {
  return QString::number(static_cast<double>(value), 'f', 6);
}

}  // namespace

QString ModelWords::fileSize(std::uint64_t bytes) {
  if (bytes < 1000) return tr("%1 bytes").arg(bytes);
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  std::size_t unit = 0;
  while (value >= 999.5 && unit + 1 < std::size(units)) {
    value /= 1000;
    ++unit;
  }
  return QString::number(value, 'f', value < 9.95 ? 1 : 0) + QChar(' ') +
         QLatin1String(units[unit]);
}

QString ModelWords::busy(const std::string& repository, const std::string& variant) {
  const QString name =
      variant.empty() ? text(repository) : tr("%1 (%2)").arg(text(repository), text(variant));
  return tr("%1 is being downloaded already, by this or another Quillmere (the application or "
            "quillmere-cli). Wait until that download ends.")
      .arg(name);
}

QString ModelWords::asked(const ModelDownload::Failure::Data& data) {
  return data.file.empty() ? tr("the list of files of %1").arg(text(data.repository))
                           : text(data.file);
}

QString ModelWords::failure(const ModelDownload::Failure& failure) {
  using Reason = ModelDownload::Failure::Reason;
  const auto& d = failure.data();
  switch (failure.reason()) {
    case Reason::notRepository:
      return tr("'%1' is not a model of the hub: give owner/name.").arg(text(d.repository));
    case Reason::notVariant:
      return tr("'%1' is not a variant's name (such as quantized or fp16).").arg(text(d.variant));
    case Reason::endpointRefused:
      return tr("The hub's address %1 is refused: models are downloaded over https:// only, or "
                "over http:// from this computer itself (127.0.0.1, [::1] or localhost). Check "
                "HF_ENDPOINT.")
          .arg(text(d.host));
    case Reason::noSuchModel:
      return tr("The hub at %1 has no public model %2.").arg(text(d.host), text(d.repository));
    case Reason::unreadableList:
      return tr("The hub at %1 sent a file list this program can't read (%2).")
          .arg(text(d.host), text(d.detail));
    case Reason::notAnExport:
      return tr("%1 is not an export this program reads: it has neither visual/model.onnx "
                "(Immich's layout) nor onnx/vision_model.onnx (Optimum / transformers.js).")
          .arg(text(d.repository));
    case Reason::variantOfImmich:
      return tr("%1 is in Immich's layout, which publishes no ONNX variants: download it without "
                "one.")
          .arg(text(d.repository));
    case Reason::lacksFile:
      return tr("%1 lacks %2, which the import needs.").arg(text(d.repository), text(d.file));
    case Reason::impossibleSize:
      return tr("The hub at %1 lists %2 of %3 with a size of %4 bytes, which no file of a model "
                "has. Nothing was downloaded.")
          .arg(text(d.host), text(d.file), text(d.repository), text(d.detail));
    default:
      return download(failure);
  }
}

QString ModelWords::download(const ModelDownload::Failure& failure) {
  using Reason = ModelDownload::Failure::Reason;
  const auto& d = failure.data();
  switch (failure.reason()) {
    case Reason::exists:
      return tr("%1 already exists. Remove it first to download %2 again.")
          .arg(text(d.path), text(d.repository));
    case Reason::busy:
      return busy(d.repository, d.variant);
    case Reason::cannotWrite:
      return tr("Cannot write %1: %2.").arg(text(d.path), text(d.detail));
    case Reason::noRoom:
      return tr("Not enough room in %1: %2 needs %3, %4 are free.")
          .arg(text(d.path), text(d.repository), megabytes(d.bytes), megabytes(d.free));
    case Reason::oversized:
      return tr("%1 sent more than the %2 the hub lists for %3 of %4. What arrived of it was "
                "deleted.")
          .arg(text(d.host), fileSize(d.bytes), text(d.file), text(d.repository));
    case Reason::corrupt:
      return tr("%1 of %2 did not arrive intact: its checksum differs from the hub's. It was "
                "deleted; run the download again.")
          .arg(text(d.file), text(d.repository));
    case Reason::stopped:
      return tr("The download stopped. Run the download again to go on where it stopped.");
    default:
      return transfer(failure);
  }
}

QString ModelWords::transfer(const ModelDownload::Failure& failure) {
  using Reason = ModelDownload::Failure::Reason;
  const auto& d = failure.data();
  switch (failure.reason()) {
    case Reason::unreachable:
      return tr("Can't reach %1: %2").arg(text(d.host), text(d.detail));
    case Reason::notFound:
      return tr("The hub at %1 has no %2 in %3 (404).")
          .arg(text(d.host), asked(d), text(d.repository));
    case Reason::refused:
      return tr("%1 refused %2 (HTTP %3).").arg(text(d.host), asked(d)).arg(d.status);
    case Reason::stalled:
      return tr("%1 stopped sending %2 (%3). Run the download again to go on where it stopped.")
          .arg(text(d.host), asked(d), text(d.detail));
    case Reason::cannotStore:
      if (!d.path.empty()) {
        return tr("Cannot store %1: Cannot write %2: %3. What was downloaded of the model was "
                  "removed.")
            .arg(asked(d), text(d.path), text(d.detail));
      }
      return tr("Cannot store %1: %2. What was downloaded of the model was removed.")
          .arg(asked(d), text(d.detail));
    default:
      return tr("The transfer of %1 from %2 broke off (%3). Run the download again to go on "
                "where it stopped.")
          .arg(asked(d), text(d.host), text(d.detail));
  }
}

QString ModelWords::refusal(const ModelImport::Refusal& refusal) {
  using Reason = ModelImport::Refusal::Reason;
  const auto& d = refusal.data();
  switch (refusal.reason()) {
    case Reason::cannotRead:
      return tr("Cannot read %1.").arg(text(d.path));
    case Reason::notJSON:
      return tr("%1 is not valid JSON (%2).").arg(text(d.path), text(d.detail));
    case Reason::notThreeNumbers:
      return tr("\"%1\" is not three numbers.").arg(text(d.name));
    case Reason::cannotWrite:
      return tr("Cannot write %1.").arg(text(d.path));
    case Reason::notAFolder:
      return tr("%1 is not a folder. Give the folder of a downloaded export.").arg(text(d.path));
    case Reason::notVariant:
      return tr("'%1' is not a variant's name (such as quantized or fp16).").arg(text(d.name));
    case Reason::malformed:
      return tr("The export's configuration files are not in the form its exporter writes (%1). "
                "Download the folder of the export again.")
          .arg(text(d.detail));
    case Reason::unreadableEncoders:
      return tr("Cannot read %1 or %2.").arg(text(d.path), text(d.other));
    case Reason::unknownLayout:
      return tr("%1 is not an export this program knows. It reads Immich's model folders "
                "(visual/ and textual/ beside config.json) and Optimum / transformers.js folders "
                "(onnx/vision_model.onnx, onnx/text_model.onnx, config.json, "
                "preprocessor_config.json, tokenizer.json).")
          .arg(text(d.path));
    case Reason::incomplete:
      return tr("The export is incomplete: %1 is missing in %2. Download the whole folder of the "
                "export again.")
          .arg(text(d.name), text(d.path));
    default:
      return import(refusal);
  }
}

QString ModelWords::import(const ModelImport::Refusal& refusal) {
  using Reason = ModelImport::Refusal::Reason;
  const auto& d = refusal.data();
  switch (refusal.reason()) {
    case Reason::variantOfImmich:
      return tr("Immich's exports publish no ONNX variants beside their encoders; import %1 "
                "without a variant.")
          .arg(text(d.path));
    case Reason::pooledWidthsDiffer:
      return tr("The encoders' output widths differ (image %1, text %2): their pooled outputs "
                "are not in one space. Use an export of the whole image-text model whose two "
                "towers end in vectors of the same width.")
          .arg(d.first)
          .arg(d.second);
    case Reason::severalVariants: {
      QStringList names;
      for (const auto& name : d.names) names << text(name);
      return tr("The export has no float32 encoders but several variants (%1): import one with "
                "'quillmere-cli model import %2 --variant NAME'.")
          .arg(names.join(QStringLiteral(", ")), text(d.path));
    }
    case Reason::tokenizer:
      return tr("%1: %2").arg(text(d.path), text(d.detail));
    case Reason::noSizeOrWidth:
      return tr("The export's configuration gives no image size or no embedding width.");
    case Reason::exists:
      return tr("%1 already exists. Remove it, or give another destination.").arg(text(d.path));
    case Reason::failed:
      return tr("The import failed: %1").arg(text(d.detail));
    default:
      return graph(refusal);
  }
}

QString ModelWords::graph(const ModelImport::Refusal& refusal) {
  using Reason = ModelImport::Refusal::Reason;
  const auto& d = refusal.data();
  switch (refusal.reason()) {
    case Reason::imageGraph:
      return tr("The image encoder has no float input \"%1\" of four dimensions and output "
                "\"%2\".")
          .arg(text(d.name), text(d.other));
    case Reason::textGraph:
      return tr("The text encoder has no input \"%1\" of two dimensions and output \"%2\".")
          .arg(text(d.name), text(d.other));
    case Reason::imageSizeDiffers:
      return tr("The image encoder takes pictures of %1, but the export's configuration says %2 "
                "pixels a side. The configuration files belong to another export: download the "
                "folder again.")
          .arg(dimensions(d.dimensions))
          .arg(d.first);
    case Reason::outputWidthsDiffer:
      return tr("The encoders' output widths differ (image %1, text %2): they are not one "
                "image-text model. Import both encoders of one export.")
          .arg(d.first)
          .arg(d.second);
    default:
      return tr("The encoders give vectors of %1 components, but the export's configuration "
                "says %2.")
          .arg(d.first)
          .arg(d.second);
  }
}

QString ModelWords::note(const ModelImport::Note& note) {
  using Kind = ModelImport::Note::Kind;
  switch (note.kind) {
    case Kind::soleVariant:
      return tr("the export has only its %1 encoders: those were taken").arg(text(note.name));
    case Kind::resampling:
      return tr("the export resamples pictures with \"%1\" filtering, which this program does "
                "not have: it resamples bilinearly instead, so its vectors differ slightly from "
                "the exporter's")
          .arg(text(note.name));
    case Kind::tokenizer:
      return tr("tokenizer: %1").arg(text(note.detail));
    case Kind::defaultLogits:
      return tr("the export carries no logit scale and bias: the probability uses %1 and %2")
          .arg(decimal(note.scale), decimal(note.bias));
    case Kind::widened:
      return tr("%1 is in float16, which runs slower here than float32: it was widened to "
                "float32, twice its size on disk, with the same weights")
          .arg(text(note.name));
    case Kind::keptFloat16:
      break;
  }
  using Kept = Float16Upcast::Failure::Reason;
  const QString why =
      note.kept == Kept::externalWeight
          ? tr("its float16 weight \"%1\" is kept in a file of its own").arg(text(note.detail))
      : note.kept == Kept::tooLarge ? tr("in float32 it would pass the 2 GB an ONNX file holds")
                                    : tr("cannot write %1").arg(text(note.detail));
  return tr("%1 stays in float16, which runs slower: %2").arg(text(note.name), why);
}

QString ModelWords::catalogue(const ModelCatalogue::Failure& failure) {
  using Reason = ModelCatalogue::Failure::Reason;
  switch (failure.reason()) {
    case Reason::unreadable:
      return tr("Cannot read the list of models %1.").arg(text(failure.path()));
    case Reason::notRepository:
      return tr("The list of models %1 names '%2', which is not owner/name.")
          .arg(text(failure.path()), text(failure.name()));
    case Reason::damaged:
      break;
  }
  return tr("The list of models %1 is damaged (%2).")
      .arg(text(failure.path()), QString::fromUtf8(failure.what()));
}

}  // namespace quillmere
