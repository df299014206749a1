// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/ModelCatalogue.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "catalogue/ModelDownload.h"
#include "platform/ResourceLocator.h"

namespace quillmere {

ModelCatalogue::ModelCatalogue(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw Failure(Failure::Reason::unreadable, file.string());
  try {
    const auto json = nlohmann::json::parse(in);
    for (const auto& model : json.at("models")) {
      Entry entry{model.at("id").get<std::string>(),
                  model.at("name").get<std::string>(),
                  model.at("repository").get<std::string>(),
                  model.value("megabytes", std::uint64_t{0}),
                  model.value("languages", ""),
                  model.value("quality", 0.0),
                  model.value("qualitySource", ""),
                  model.value("imageGflops", 0.0),
                  model.value("confirmed", false),
                  model.value("recommended", false)};
      if (!ModelDownload::isRepository(entry.repository)) {
        throw Failure(Failure::Reason::notRepository, file.string(), entry.repository);
      }
      entries_.push_back(entry);
      for (const auto& variant : model.value("variants", nlohmann::json::array())) {
        Entry smaller = entry;
        smaller.variant = variant.at("name").get<std::string>();
        smaller.id = entry.id + "-" + smaller.variant;
        smaller.name = entry.name + ", " + variant.value("label", smaller.variant);
        smaller.megabytes = variant.value("megabytes", std::uint64_t{0});
        smaller.speedup = variant.value("speedup", 0.0);
        smaller.recommended = false;
        entries_.push_back(std::move(smaller));
      }
    }
  } catch (const nlohmann::json::exception& error) {
    throw Failure(Failure::Reason::damaged, file.string(), {}, error.what());
  }
}

ModelCatalogue ModelCatalogue::installed() {
  const auto resources = ResourceLocator::resourcesDirectory();
  std::error_code error;
  if (!resources || !std::filesystem::exists(*resources / "models.json", error)) {
    return ModelCatalogue();
  }
  return ModelCatalogue(*resources / "models.json");
}

const ModelCatalogue::Entry* ModelCatalogue::find(const std::string& idOrRepository) const {
  for (const auto& entry : entries_) {
    if (entry.id == idOrRepository || entry.repository == idOrRepository) return &entry;
  }
  return nullptr;
}

std::string ModelCatalogue::ids() const {
  std::string text;
  for (const auto& entry : entries_) text += (text.empty() ? "" : ", ") + entry.id;
  return text;
}

}  // namespace quillmere
