// SPDX-License-Identifier: GPL-3.0-or-later
// The application's words, through tr(), for the reasons of model downloads and imports:
// the same English as the command line's.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <cstdint>

#include "catalogue/ModelCatalogue.h"
#include "catalogue/ModelDownload.h"
#include "catalogue/ModelImport.h"

namespace quillmere {

class ModelWords {
  Q_DECLARE_TR_FUNCTIONS(ModelWords)

 public:
  ModelWords() = delete;

  static QString failure(const ModelDownload::Failure& failure);
  static QString refusal(const ModelImport::Refusal& refusal);
  static QString note(const ModelImport::Note& note);
  static QString busy(const std::string& repository, const std::string& variant);
  static QString catalogue(const ModelCatalogue::Failure& failure);
  // "7.8 KB", "300 KB", "1.2 GB", as the command line gives a file's size.
  static QString fileSize(std::uint64_t bytes);

 private:
  static QString download(const ModelDownload::Failure& failure);
  static QString transfer(const ModelDownload::Failure& failure);
  static QString asked(const ModelDownload::Failure::Data& data);
  static QString import(const ModelImport::Refusal& refusal);
  static QString graph(const ModelImport::Refusal& refusal);
};

}  // namespace quillmere
