// SPDX-License-Identifier: GPL-3.0-or-later
// people: the people found in the faces of pictures, and the user's choices about them.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Output.h"
#include "engine/FaceFinding.h"
#include "index/Library.h"
#include "people/People.h"
#include "scan/Timecode.h"

namespace quillmere {
namespace {

using Output::counted;
using Output::printable;

std::string peopleCount(std::size_t count) {
  return count == 1 ? "1 person" : std::to_string(count) + " people";
}

std::string nameOf(const Library::Person& person) {
  return person.name ? printable(*person.name) : "(no name)";
}

std::int64_t faceNumber(const std::string& text) {
  std::int64_t id = 0;
  const char* end = text.data() + text.size();
  const auto read = std::from_chars(text.data(), end, id);
  if (read.ec != std::errc() || read.ptr != end || id <= 0) {
    throw Commands::Error("'" + text + "' is not a face number (see 'quillmere-cli people show')",
                          2);
  }
  return id;
}

bool asked(const std::string& question) {
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

void PeopleOptions::take(const std::string& arg, const CommandLine::Value&) {
  if (arg == "--yes") yes = true;
  if (arg == "--json") json = true;
}

Library::Person Commands::person(People& people, const std::string& idOrName) {
  if (auto found = people.find(idOrName)) return *found;
  throw Error("No person " + idOrName + " in the library (see 'quillmere-cli people')");
}

People Commands::libraryPeople() {
  return People(*library_, FaceFinding::open(true).grouping());
}

int Commands::people(const PeopleOptions& options) {
  // Read as operands (the command opens the library itself), its options are picked out here.
  std::vector<std::string> words;
  bool yes = options.yes, json = options.json;
  for (const auto& word : options.operands) {
    if (word == "--yes")
      yes = true;
    else if (word == "--json")
      json = true;
    else
      words.push_back(word);
  }
  const std::string action = words.empty() ? "" : words[0];
  const auto wants = [&](std::size_t count, const char* what) {
    if (words.size() != count + 1) throw Error("people " + action + " needs " + what, 2);
  };
  const bool reads = action.empty() || action == "show";
  openEngine({.name = "people", .access = reads ? Access::reads : Access::writes});
  People people = libraryPeople();
  if (action.empty()) return listPeople(people, json);
  if (action == "show") {
    wants(1, "a person's ID or NAME");
    return showPerson(people, person(people, words[1]));
  }
  if (action == "name") {
    wants(2, "an ID and a NAME");
    people.name(person(people, words[1]).id, words[2]);
  } else if (action == "merge") {
    wants(2, "two people's IDs");
    const auto keep = person(people, words[1]), other = person(people, words[2]);
    if (!people.merge(keep.id, other.id)) throw Error("A person cannot be merged with itself", 2);
  } else if (action == "move") {
    wants(2, "a FACE and a person's ID");
    const auto to = person(people, words[2]);
    if (!people.move(faceNumber(words[1]), to.id)) throw Error("No face " + words[1]);
  } else if (action == "not") {
    wants(1, "a FACE");
    if (!people.notThisPerson(faceNumber(words[1])))
      throw Error("Face " + words[1] + " is with nobody");
  } else if (action == "hide" || action == "unhide") {
    wants(1, "a person's ID or NAME");
    people.hide(person(people, words[1]).id, action == "hide");
  } else if (action == "regroup") {
    wants(0, "nothing more");
    const auto done = people.regroup();
    std::printf("Grouped %s into %s.\n",
                counted(static_cast<std::int64_t>(done.placed), "face").c_str(),
                peopleCount(done.people).c_str());
    return 0;
  } else if (action == "forget") {
    wants(0, "nothing more");
    return forgetFaces(people, yes);
  } else {
    throw Error("people has no action '" + action + "'\n" + usage(), 2);
  }
  std::printf("Done.\n");
  return 0;
}

int Commands::listPeople(People& people, bool json) {
  const auto list = people.list();
  if (json) {
    auto all = nlohmann::json::array();
    for (const auto& person : list) {
      all.push_back({{"id", person.id},
                     {"name", person.name ? nlohmann::json(*person.name) : nlohmann::json()},
                     {"hidden", person.hidden},
                     {"faces", person.faces},
                     {"moments", person.moments}});
    }
    std::printf("%s\n", all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  if (list.empty()) {
    std::printf("No people yet: faces are grouped at the end of 'quillmere-cli index'.\n");
    return 0;
  }
  std::printf("%6s  %6s  %7s  %s\n", "ID", "FACES", "MOMENTS", "NAME");
  for (const auto& person : list) {
    std::printf("%6lld  %6lld  %7lld  %s%s\n", static_cast<long long>(person.id),
                static_cast<long long>(person.faces), static_cast<long long>(person.moments),
                nameOf(person).c_str(), person.hidden ? "  (hidden)" : "");
  }
  return 0;
}

int Commands::showPerson(People& people, const Library::Person& person) {
  const std::int64_t id[] = {person.id};
  const auto moments = people.momentsWith(id);
  std::printf("%s: %s\n", nameOf(person).c_str(),
              counted(static_cast<std::int64_t>(moments.size()), "moment").c_str());
  for (const auto& moment : moments) printMoment(moment, false);
  return 0;
}

void Commands::printMoment(const People::Moment& moment, bool scored) const {
  std::string where = printable(location(moment.file).string());
  if (moment.file.kind == MediaKind::video) where += " " + timecode(moment.time);
  const std::string day = moment.file.captureTime().iso().substr(0, 10);
  if (scored) std::printf("%.4f  ", moment.score);
  std::printf("face %-6lld  %s  %s\n", static_cast<long long>(moment.faceID), day.c_str(),
              where.c_str());
}

int Commands::forgetFaces(People& people, bool yes) {
  const auto faces = library_->faces(false).size();
  const auto count = people.list().size();
  const std::string what =
      counted(static_cast<std::int64_t>(faces), "face") + " and " + peopleCount(count);
  if (!yes && !asked("Forget all " + what + " (names included)?")) {
    std::printf("Nothing forgotten. ('people forget --yes' forgets without asking.)\n");
    return 1;
  }
  people.forget();
  library_->compact();  // nothing of them stays in the file's free pages
  std::printf("Forgot %s. The next 'quillmere-cli index' finds the faces again.\n", what.c_str());
  return 0;
}

void Commands::groupFaces() {
  if (library_->faces(false).empty()) return;
  const auto done = libraryPeople().group();
  std::printf("Faces: %s with %s.\n",
              counted(static_cast<std::int64_t>(done.placed), "face").c_str(),
              peopleCount(done.people).c_str());
}

}  // namespace quillmere
