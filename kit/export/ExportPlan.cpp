// SPDX-License-Identifier: GPL-3.0-or-later
// The export plan: which found moments become markers, and the document written.
#include "export/ExportPlan.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace quillmere {

ExportPlan::ExportPlan(std::string query, const std::vector<Item>& results)
    : query_(std::move(query)), title_("Quillmere \u2013 " + query_) {
  for (const auto& item : results) {
    if (item.kind != MediaKind::video || !item.path) continue;
    if (moments_.size() < momentLimit) {
      moments_.push_back({*item.path, item.time, momentDuration, query_});
    }
    rows_.push_back({item.path->string(), item.time, item.score});
  }
}

std::string ExportPlan::suggestedFileName() const {
  auto name = title_;
  std::replace(name.begin(), name.end(), '/', '-');
  return name + ".fcpxml";
}

ExportPlan::Format ExportPlan::format(const std::filesystem::path& file) {
  auto extension = file.extension().string();
  for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".csv" ? Format::csv : Format::fcpxml;
}

ExportPlan::Document ExportPlan::document(Format format) const {
  if (format == Format::csv) return {MarkerExport::csv(rows_), rows_.size()};
  return {MarkerExport::fcpxml(moments_, title_, handles), moments_.size()};
}

}  // namespace quillmere
