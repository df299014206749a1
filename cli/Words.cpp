// SPDX-License-Identifier: GPL-3.0-or-later
#include "Words.h"

#include <cstdio>

namespace quillmere {

std::string Words::nothingToExport() {
  return "There are no video results to export. Search for a moment in your videos first.";
}

std::string Words::exported(std::size_t count, const std::string& fileName) {
  return "Exported " + std::to_string(count) + (count == 1 ? " moment to " : " moments to ") +
         fileName + ".";
}

std::string Words::couldNotSave(const std::string& error) {
  return "Couldn't save the export: " + error;
}

std::string Words::query(const QueryTerms::Failure& failure) {
  using Reason = QueryTerms::Failure::Reason;
  switch (failure.reason()) {
    case Reason::onlyNegative:
      return "A query needs something to look for: add a term without a minus.";
    case Reason::cancelled:
      return "The query's terms cancel each other out.";
    case Reason::weightOutOfRange:
      break;
  }
  char limits[64];
  std::snprintf(limits, sizeof limits, "between %.2g and %.2g",
                static_cast<double>(QueryTerms::Failure::lowestWeight),
                static_cast<double>(QueryTerms::Failure::highestWeight));
  return "The weight " + std::string(failure.what()) + " cannot be used: a term's weight lies " +
         limits + ".";
}

std::string Words::regionFault(PictureRegion::Fault fault) {
  using Fault = PictureRegion::Fault;
  switch (fault) {
    case Fault::notNumbers:
      return "the region's values must be numbers";
    case Fault::startsOutside:
      return "the region must start inside the picture (X and Y from 0)";
    case Fault::empty:
      return "the region must have a width and a height above 0";
    case Fault::endsOutside:
      return "the region must end inside the picture (X+W and Y+H at most 1)";
    case Fault::none:
      break;
  }
  return {};
}

std::string Words::pictureQuery(const MoreLikeThis::Unreadable& failure) {
  if (dynamic_cast<const MoreLikeThis::TooSmall*>(&failure))
    return "the region covers less than a pixel of the picture";
  if (failure.fault() != PictureRegion::Fault::none) return regionFault(failure.fault());
  return std::string(failure.what()) + " could not be read as a photo or a video.";
}

std::string Words::folderProblem(const FolderRules::AddResult& result) {
  switch (result.problem) {
    case FolderRules::Problem::notFound:
      return "Folder not found: " + result.path;
    case FolderRules::Problem::notAFolder:
      return "Not a folder: " + result.path;
    case FolderRules::Problem::notWritten:
      return result.detail;  // the library's own error
    case FolderRules::Problem::none:
      break;
  }
  return {};
}

}  // namespace quillmere
