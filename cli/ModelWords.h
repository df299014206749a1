// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's English for the reasons of model downloads and imports.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/DownloadStaging.h"
#include "catalogue/ModelCatalogue.h"
#include "catalogue/ModelDownload.h"
#include "catalogue/ModelImport.h"

namespace quillmere::ModelWords {

std::string failure(const ModelDownload::Failure& failure);
// Without the "Cannot import SOURCE: " the command puts before it.
std::string refusal(const ModelImport::Refusal& refusal);
std::string note(const ModelImport::Note& note);
// "immich-app/X (fp16) is being downloaded already, …"
std::string busy(const std::string& repository, const std::string& variant);
std::string catalogue(const ModelCatalogue::Failure& failure);
// "7.8 KB", "300 KB", "1.2 GB": a file's size as the user reads it.
std::string fileSize(std::uint64_t bytes);

}  // namespace quillmere::ModelWords
