// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's English for what the engine reports as a reason with its data.
#pragma once

#include <cstddef>
#include <string>

#include "index/FolderRules.h"
#include "search/MoreLikeThis.h"
#include "search/QueryTerms.h"

namespace quillmere {

class Words {
 public:
  Words() = delete;

  static std::string nothingToExport();
  // "Exported 1 moment to name." / "Exported N moments to name."
  static std::string exported(std::size_t count, const std::string& fileName);
  static std::string couldNotSave(const std::string& error);
  static std::string query(const QueryTerms::Failure& failure);
  // Why a folder was not added; empty when it was.
  static std::string folderProblem(const FolderRules::AddResult& result);
  static std::string regionFault(PictureRegion::Fault fault);
  // A picture that can't stand for a query: its file, its region.
  static std::string pictureQuery(const MoreLikeThis::Unreadable& failure);
};

}  // namespace quillmere
