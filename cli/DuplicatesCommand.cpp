// SPDX-License-Identifier: GPL-3.0-or-later
// duplicates: groups of the same picture, the copy to keep first.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Output.h"
#include "duplicates/DuplicateFinder.h"
#include "index/Library.h"

namespace quillmere {

using Output::printable;
using Output::putPath;

int Commands::duplicates(const DuplicatesOptions& options) {
  const float threshold = options.near ? DuplicateFinder::near : DuplicateFinder::exact;
  const auto groups = DuplicateFinder::find(*library_, threshold);
  if (options.json) {
    auto list = nlohmann::json::array();
    for (const auto& group : groups) {
      auto files = nlohmann::json::array();
      for (std::size_t i = 0; i < group.files.size(); ++i) {
        nlohmann::json entry = {
            {"keep", i == 0}, {"size", group.files[i].size}, {"file_id", group.files[i].id}};
        putPath(entry, "path", location(group.files[i]).string());
        files.push_back(std::move(entry));
      }
      list.push_back(
          {{"similarity", group.similarity}, {"exact", group.isExact()}, {"files", files}});
    }
    const nlohmann::json document = {{"threshold", threshold}, {"groups", list}};
    std::printf("%s\n",
                document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  if (groups.empty()) std::printf("No duplicate photos found.\n");
  int number = 0;
  for (const auto& group : groups) {
    std::printf("Group %d: %zu photos, similarity %.3f (%s)\n", ++number, group.files.size(),
                group.similarity, group.isExact() ? "same picture" : "near-duplicates");
    for (std::size_t i = 0; i < group.files.size(); ++i) {
      std::printf("  %s %s\n", i == 0 ? "keep" : "    ",
                  printable(location(group.files[i]).string()).c_str());
    }
  }
  return 0;
}

}  // namespace quillmere
