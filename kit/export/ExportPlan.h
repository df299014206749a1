// SPDX-License-Identifier: GPL-3.0-or-later
// What exporting search results as markers writes, shared by every front end: the video
// results whose folder is reachable, in result order; the first 100 as FCPXML moments of
// 5 s with 2.5 s handles under the title "Quillmere – " and the query; every one of them as
// a CSV row. Times are the opening times (the exact time where there is one).
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Records.h"
#include "export/MarkerExport.h"

namespace quillmere {

class ExportPlan {
 public:
  // One search result as the exporter sees it.
  struct Item {
    MediaKind kind = MediaKind::photo;
    std::optional<std::filesystem::path> path;  // absent while its folder is not reachable
    double time = 0;                                // the opening time
    float score = 0;
    bool operator==(const Item&) const = default;
  };

  enum class Format { fcpxml, csv };

  // What was made for a chosen file: its text and how many moments it holds.
  struct Document {
    std::string text;
    std::size_t count = 0;
  };

  static constexpr std::size_t momentLimit = 100;
  static constexpr double momentDuration = 5.0;
  static constexpr double handles = 2.5;

  ExportPlan(std::string query, const std::vector<Item>& results);

  // No reachable video result: the front end says so instead of asking for a file.
  bool empty() const { return rows_.empty(); }
  const std::string& title() const { return title_; }
  // The title with every "/" replaced by "-", then ".fcpxml".
  std::string suggestedFileName() const;
  const std::vector<MarkerExport::Moment>& moments() const { return moments_; }
  const std::vector<MarkerExport::Row>& rows() const { return rows_; }

  // CSV when the file's extension is "csv" in any case, else FCPXML.
  static Format format(const std::filesystem::path& file);
  // Probes the videos for FCPXML (blocking; keep it off the interface thread).
  Document document(Format format) const;

 private:
  std::string query_;
  std::string title_;
  std::vector<MarkerExport::Moment> moments_;
  std::vector<MarkerExport::Row> rows_;
};

}  // namespace quillmere
