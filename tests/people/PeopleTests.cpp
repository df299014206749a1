// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/PictureFaces.h"
#include "people/People.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

constexpr std::size_t dim = 40;

// A library of photos whose faces lie around a few random directions, one face a photo
// unless told otherwise.
class PeopleTest : public ::testing::Test {
 protected:
  PeopleTest() {
    for (auto& centre : centres) centre = unit(std::vector<float>(dim, 0), 1);
    root = library.addRoot("/m", std::nullopt, std::nullopt, std::nullopt, false).id;
  }

  std::vector<float> unit(std::vector<float> around, float spread) {
    std::normal_distribution<float> noise(0, spread / std::sqrt(float{dim}));
    float norm = 0;
    for (float& v : around) {
      v += noise(random);
      norm += v * v;
    }
    for (float& v : around) v /= std::sqrt(norm);
    return around;
  }
  // A file holding one face of each person given (-1: a face of nobody), at time t.
  MediaFile addPicture(const std::vector<int>& persons, MediaKind kind = MediaKind::photo,
                       std::vector<double> times = {0}) {
    const std::string name = "f" + std::to_string(++files);
    scanned.push_back({.relPath = name, .kind = kind, .size = 1, .mtime = 1});
    library.applyScan(root, scanned);
    MediaFile file;
    for (const auto& f : library.files(root)) file = f.relPath == name ? f : file;
    std::vector<FrameRecord> frames;
    Library::StageRows rows{.stage = "faces"};
    for (const double t : times) {
      frames.push_back({.time = t, .vector = std::vector<Half>(8, 0)});
      PictureFaces faces;
      for (const int p : persons) {
        const auto v = p < 0 ? unit(std::vector<float>(dim, 0), 1) : unit(centres[p], 0.6f);
        faces.faces.push_back({.quality = quality, .vector = halvesFromFloats(v)});
      }
      rows.rows.push_back({.time = t, .data = faces.encoded()});
    }
    library.saveFrames(file, frames, times.back(), 1, 1);
    EXPECT_TRUE(library.saveStage(*library.file(file.id), rows));
    return *library.file(file.id);
  }
  void addPictures(int person, int count) {
    for (int i = 0; i < count; ++i) addPicture({person});
  }
  // person id -> the number of its faces
  std::map<std::int64_t, std::int64_t> sizes() {
    std::map<std::int64_t, std::int64_t> out;
    for (const auto& person : people.list()) out[person.id] = person.faces;
    return out;
  }
  std::int64_t personOf(std::int64_t face) { return library.face(face)->personID.value_or(0); }

  std::mt19937 random{7};
  std::array<std::vector<float>, 4> centres;
  float quality = 0.9f;
  test::TempDirectory dir;
  Library library{dir / "Library.sqlite", 8, "test"};
  People people{library};
  std::int64_t root = 0;
  int files = 0;
  std::vector<ScannedFile> scanned;
};

TEST_F(PeopleTest, FacesFormPeopleAsTheyArriveAndLowOnesOrLoneOnesWait) {
  addPictures(0, 6);
  addPicture({0, 0});  // one of a picture's faces is the person, the other waits
  quality = 0.1f;
  addPictures(1, 6);  // poor faces form no one
  quality = 0.9f;
  EXPECT_EQ(people.group().people, 1u);
  const auto first = people.list().at(0);
  EXPECT_EQ(first.faces, 7);
  addPictures(0, 2);
  addPicture({-1});
  const auto grown = people.group();
  EXPECT_EQ(grown.people, 1u);
  EXPECT_EQ(grown.placed, 9u);
  EXPECT_EQ(people.list().at(0).id, first.id);
  EXPECT_EQ(people.regroup(), grown);
  EXPECT_EQ(people.list().at(0).id, first.id);  // a regrouping keeps the ids
}

TEST_F(PeopleTest, EveryChoiceOfTheUserSurvivesRegrouping) {
  for (int p = 0; p < 3; ++p) addPictures(p, 6);
  people.regroup();
  ASSERT_EQ(sizes().size(), 3u);
  const auto faces = library.faces(false);
  const std::int64_t anna = personOf(faces[0].id), leo = personOf(faces[6].id),
                     mia = personOf(faces[12].id);
  ASSERT_TRUE(people.name(anna, "Anna"));
  ASSERT_TRUE(people.merge(anna, leo));
  ASSERT_TRUE(people.move(faces[13].id, anna));
  ASSERT_TRUE(people.notThisPerson(faces[14].id));
  ASSERT_TRUE(people.hide(mia, true));
  EXPECT_FALSE(people.merge(anna, 9999));
  EXPECT_FALSE(people.move(99999, anna));
  for (int round = 0; round < 2; ++round) {
    people.regroup();
    people.group();
    EXPECT_EQ(sizes(), (std::map<std::int64_t, std::int64_t>{{anna, 13}, {mia, 4}}));
    EXPECT_EQ(personOf(faces[13].id), anna);
    EXPECT_EQ(personOf(faces[14].id), 0);
    EXPECT_EQ(people.find("anna")->name, "Anna");
    EXPECT_TRUE(people.find(std::to_string(mia))->hidden);
  }
  EXPECT_EQ(people.list().front().id, anna);  // named first
}

TEST_F(PeopleTest, MomentsOfTwoPeopleAndAPersonInAVideoAtItsSecond) {
  addPictures(0, 4);
  addPictures(1, 4);
  const MediaFile both = addPicture({0, 1});
  const MediaFile video = addPicture({1}, MediaKind::video, {0, 2, 4});
  addPicture({0}, MediaKind::video, {0, 6});
  people.regroup();
  const auto faces = library.faces(false);
  const std::int64_t anna = personOf(faces[0].id), leo = personOf(faces[4].id);
  const std::int64_t two[] = {anna, leo};
  const auto shared = people.momentsWith(two);
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_EQ(shared[0].file.id, both.id);
  std::vector<double> seconds;
  for (const auto& moment : people.momentsWith(std::span(two).last(1))) {
    if (moment.file.id == video.id) seconds.push_back(moment.time);
  }
  EXPECT_EQ(seconds, (std::vector<double>{0, 2, 4}));
  const auto like = people.similarTo(faces[0].id, 100);
  EXPECT_EQ(like.size(), 6u);  // three photos, the shared one and two video seconds
  for (const auto& moment : like) EXPECT_EQ(personOf(moment.faceID), anna);
}

TEST_F(PeopleTest, ForgettingAllFacesRemovesThemAndTheirPeopleAtOnce) {
  addPictures(0, 5);
  people.regroup();
  people.name(people.list().at(0).id, "Anna");
  people.forget();
  EXPECT_TRUE(library.faces().empty());
  EXPECT_TRUE(people.list().empty());
  EXPECT_TRUE(library.faceChoices().placed.empty());
  EXPECT_TRUE(library.stageRows(library.files(root)[0].id, "faces").empty());
  EXPECT_EQ(library.lacking("faces", {root}).size(), 5u);  // found again at the next index
}

}  // namespace
}  // namespace quillmere
