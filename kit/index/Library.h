// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's persistent store: one SQLite file holding the user's folders (roots), every
// known media file and every embedded frame with its vector and thumbnail. Roots and files
// are answered from memory; every frame vector lives in the owned VectorIndex. Each write
// goes to the database first, then to the vector index, then to the in-memory maps, and
// memory is left untouched when the database write fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/Records.h"
#include "core/ThreadAnnotations.h"
#include "index/PendingOrder.h"
#include "index/SQLite.h"
#include "vectors/VectorIndex.h"

namespace quillmere {

class Library {
 public:
  // 2: thumbnails in a table of their own, so that a frame's row holds little beside its
  // vector and loading the vectors reads few pages. 3: each file's capture time (taken,
  // taken_offset, taken_source), empty until read. 4: the lines of the text stage in a
  // trigram index. 5: the faces of the face stage, the people they are grouped into and the
  // user's choices about them. Older files are upgraded on opening.
  static constexpr int schemaVersion = 5;

  // The stage whose rows hold the PictureText (encoded) read in each stored picture of a
  // file; their lines are kept searchable in step with the rows.
  static constexpr std::string_view textStage = "text";
  static constexpr std::string_view faceStage = "faces";

  // The file's schema is of a later version than this build knows: it is left as it is.
  class Newer : public std::runtime_error {
   public:
    Newer();
  };

  // Told how far an upgrade of an older file has come, from 0 to 1.
  using UpgradeProgress = std::function<void(double)>;

  // saveFrames found a file of its batch with another size or modification time than its
  // frames were made from: a scan saw it edited meanwhile.
  class Stale : public std::runtime_error {
   public:
    explicit Stale(std::int64_t fileID);
    std::int64_t fileID() const { return fileID_; }

   private:
    std::int64_t fileID_;
  };

  // What applyScan did.
  struct ScanChanges {
    std::int64_t added = 0;    // files inserted as new
    std::int64_t changed = 0;  // size or mtime differed: frames dropped, pending again
    std::int64_t removed = 0;  // gone and not recognised as moved: rows and frames deleted
    std::int64_t moved = 0;    // found under a new relative path: only the path updated
    bool operator==(const ScanChanges&) const = default;
  };

  // Counts over the cached files; frames covers the whole library whatever the filter.
  struct Totals {
    std::int64_t files = 0;
    std::int64_t indexed = 0;
    std::int64_t pending = 0;
    std::int64_t failed = 0;
    std::int64_t photos = 0;
    std::int64_t videos = 0;
    std::int64_t bytes = 0;
    std::int64_t indexedBytes = 0;
    std::int64_t pendingBytes = 0;
    double indexedVideoSeconds = 0;
    std::int64_t frames = 0;  // live rows of the vector index
    bool operator==(const Totals&) const = default;
  };

  // What a folder list shows of one root, and its indexed photos.
  struct RootCounts {
    std::int64_t files = 0;
    std::int64_t indexed = 0;
    std::int64_t indexedPhotos = 0;
    bool operator==(const RootCounts&) const = default;
  };

  // What a stage of the indexer made of one picture of a file (at time of a video, 0 for a
  // photo), and a stage's rows of one file or one chunk of a video.
  struct StageRow {
    double time = 0;
    Bytes data;
    bool operator==(const StageRow&) const = default;
  };
  struct StageRows {
    std::string stage;
    std::vector<StageRow> rows;
    bool operator==(const StageRows&) const = default;
  };

  // One file of a saveFrames batch: its new frames and what the indexer measured.
  struct FrameBatchEntry {
    MediaFile file;
    std::vector<FrameRecord> frames;
    double duration = 0;
    int width = 0;
    int height = 0;
    std::optional<CaptureTime> taken;  // stored with the complete file when given
    // Stored with the frames; the write that completes the file marks each stage done.
    std::vector<StageRows> stages;
    bool operator==(const FrameBatchEntry&) const = default;
  };

  // How an opening treats the file, and a library whose frames another model made.
  enum class Opening {
    adopt,       // read-write, creating the file; another model's frames are dropped
    keepFrames,  // read-write, creating the file; another model's frames stay, not loaded
    readOnly,    // writes nothing, creates nothing; another model's frames stay, not loaded
  };

  // Opens the library file at path for vectors of dim components made by the model with
  // modelSignature. Adopting (as the app and the indexer do), a library made by another model
  // keeps its roots and files but loses every frame, and every file becomes pending. A file of
  // an older schema is upgraded in one transaction (not when read-only), telling
  // onUpgrade how far it is. Throws Newer, SQLite::Failure, or the file system's error when
  // the directory cannot be created.
  Library(const std::filesystem::path& filePath, std::size_t dim, std::string modelSignature,
          Opening opening = Opening::adopt, const UpgradeProgress& onUpgrade = {});
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Whether the file at path holds an older schema, which an opening that writes upgrades
  // first: a front end opens such a file where a long upgrade blocks no window. False for a
  // missing file. Throws SQLite::Failure.
  static bool isOlder(const std::filesystem::path& filePath);

  // $QUILLMERE_LIBRARY when set (and not empty); else the per-user data directory
  // ($XDG_DATA_HOME, or ~/.local/share) / "Quillmere" / "Library.sqlite", with
  // "Quillmere Dev" instead for a build whose application id ends in ".dev".
  static std::filesystem::path defaultPath();
  // The same for a build with the given application id (defaultPath uses the compiled one).
  static std::filesystem::path defaultPath(std::string_view applicationID);

  // The library's file, as opened: where its refused writes went.
  const std::filesystem::path& location() const { return location_; }
  VectorIndex& vectors() { return vectors_; }
  const VectorIndex& vectors() const { return vectors_; }
  const std::string& modelSignature() const { return modelSignature_; }
  // The signature the file held when opened (before any adoption); absent for a new file.
  const std::optional<std::string>& storedModelSignature() const { return storedSignature_; }
  // False when the opening kept another model's frames: vectors() is then empty, and nothing
  // may be indexed into the library.
  bool modelMatches() const { return modelMatches_; }
  std::size_t dim() const { return vectors_.dim(); }

  // Cached lookups; each returns copies taken under the map lock.
  std::vector<Root> roots() const;  // oldest added first
  std::optional<Root> root(std::int64_t id) const;
  std::vector<MediaFile> allFiles() const;                  // in id order
  std::vector<MediaFile> files(std::int64_t rootID) const;  // in id order
  std::optional<MediaFile> file(std::int64_t id) const;
  // The files of the ids, in their order, absent where unknown: a search's thousand hits
  // are looked up under one hold of the lock.
  std::vector<std::optional<MediaFile>> filesByID(std::span<const std::int64_t> ids) const;
  // For each id, whether the file is known and passes test, which sees the record under the
  // map lock instead of a copy. Searches ask this of thousands of files: one hold of the
  // lock for them all lets the lookups overlap.
  std::vector<bool> filesMatch(std::span<const std::int64_t> ids,
                               const std::function<bool(const MediaFile&)>& test) const;
  // The file's location: its root's directory with relPath appended; absent when the root
  // is unknown.
  std::optional<std::filesystem::path> filePath(const MediaFile& file) const;

  // Adds a folder; a path already present returns the existing root unchanged.
  Root addRoot(const std::string& path, const std::optional<Bytes>& bookmark,
               const std::optional<std::string>& volumeUUID,
               const std::optional<std::string>& volumeName, bool removable);
  // Stores path, bookmark and volumeName; the cache takes the whole record (until reopening).
  void updateRoot(const Root& root);
  // Forgets a folder with its files and frames (the media themselves are never touched).
  void removeRoot(std::int64_t id);
  // Rewrites the file without its free pages and empties the write-ahead log, so that
  // nothing deleted (thumbnails included) stays in either file. Throws SQLite::Failure.
  void compact();

  // Brings the files of one root in line with the complete listing of one scan of it:
  // new files are added pending, changed ones (size differs, or mtime by more than 0.5 s)
  // lose their frames and become pending, vanished ones are removed unless a newcomer with
  // the same name, size and whole-second mtime shows them moved (then only the path
  // changes; id, frames and state stay). Files at or under the unreadable relative paths
  // the scan names ("" for the whole folder) are kept as they are. One transaction.
  ScanChanges applyScan(std::int64_t rootID, const std::vector<ScannedFile>& entries,
                        const std::vector<std::string>& unreadable = {});
  // Records a file's state and error (absent clears it) and, when given, its duration.
  void setState(std::int64_t fileID, FileState state,
                const std::optional<std::string>& error = std::nullopt,
                const std::optional<double>& duration = std::nullopt);
  // Replaces the frames of every file of the batch and marks them indexed, in one
  // transaction; a file's old frames leave search when its new ones arrive. Every vector
  // must have dim components (std::invalid_argument before anything is written otherwise).
  // Each file must still have the size and mtime of the record the frames were made from:
  // otherwise nothing is written and Stale is thrown (SQLite::Failure for a removed file).
  void saveFrames(const std::vector<FrameBatchEntry>& batch);
  void saveFrames(const MediaFile& file, const std::vector<FrameRecord>& frames, double duration,
                  int width, int height);
  // Where a chunk goes among the frames the library holds for its file.
  struct ChunkPlace {
    bool restart = false;   // the file's stored frames are dropped first
    bool complete = false;  // the last chunk: the file is marked indexed, as saveFrames does
  };
  // Stores one chunk of a video's frames in one transaction, after the frames already stored
  // for it, so that a long video is written as it is sampled and an interrupted one keeps
  // what was stored. Until the complete chunk the file stays pending and its stored frames
  // are searchable. The file must be pending with the size and mtime of entry.file:
  // otherwise (removed, edited, or indexed meanwhile) nothing is written and Stale is thrown.
  void saveChunk(const FrameBatchEntry& entry, ChunkPlace place);
  // The time of the file's latest stored frame; absent when it has none. Throws
  // SQLite::Failure.
  std::optional<double> lastFrameTime(std::int64_t fileID);
  // A file and the capture time read from it.
  struct TakenEntry {
    MediaFile file;
    CaptureTime taken;
    bool operator==(const TakenEntry&) const = default;
  };
  // Stores the capture times in one transaction, each only while its file still has the size
  // and mtime it was read with (a file edited meanwhile is read again).
  void setTaken(const std::vector<TakenEntry>& entries);
  // Files of the given roots whose capture time was never read, pending ones left out
  // (indexing reads it), in id order.
  std::vector<MediaFile> untimed(const std::set<std::int64_t>& roots) const;
  // Every failed file becomes pending again, with no error.
  void retryFailed();
  // Indexed files of the given roots the stage has not done (indexed before it existed),
  // in id order.
  std::vector<MediaFile> lacking(std::string_view stage, const std::set<std::int64_t>& roots);
  // Stores the stage's rows of an indexed file and marks it done, only while the file is
  // still indexed with the size and mtime it was read with; false otherwise.
  bool saveStage(const MediaFile& file, const StageRows& rows);
  // The stage's rows of a file, in time order; empty when the read fails.
  std::vector<StageRow> stageRows(std::int64_t fileID, std::string_view stage);
  // Whether the stage has done the file (its rows, if any, are stored). False when the read
  // fails.
  bool stageDone(std::int64_t fileID, std::string_view stage);

  // A line read in a stored picture, as the text index holds it.
  struct TextLineRef {
    std::int64_t fileID = 0;
    double time = 0;     // the picture's: 0 for a photo, the frame's for a video
    int line = 0;        // its place among the picture's lines
    std::string folded;  // TextFolding::folded of its text
    bool operator==(const TextLineRef&) const = default;
  };
  // Lines whose folded text holds at least one of the pieces (each folded, at least three
  // characters), those holding more of them first, at most limit. Empty when the file has no
  // text index (an older one opened read-only) or the read fails.
  std::vector<TextLineRef> linesHolding(std::span<const std::string> pieces, std::size_t limit);
  // Whether the file holds the text index (an older one opened read-only does not).
  bool hasTextIndex() const { return hasTextIndex_; }

  // A face the face index holds: one face of a stored picture (PictureFaces).
  struct StoredFace {
    std::int64_t id = 0;
    std::int64_t fileID = 0;
    double time = 0;  // the picture's: 0 for a photo, the frame's for a video
    float quality = 0;
    std::array<float, 4> box{};  // left, top, right, bottom in 0..1 of the upright picture
    std::optional<std::int64_t> personID;
    std::vector<Half> vector;  // empty when not asked for
    bool operator==(const StoredFace&) const = default;
  };
  // A person: a group of faces, with the name the user gave it.
  struct Person {
    std::int64_t id = 0;
    std::optional<std::string> name;
    bool hidden = false;
    std::int64_t faces = 0;
    std::int64_t moments = 0;  // pictures holding at least one of its faces
    bool operator==(const Person&) const = default;
  };
  // What the user said about faces, which every grouping keeps.
  struct FaceChoices {
    std::unordered_map<std::int64_t, std::int64_t> placed;    // face id -> the person it is
    std::set<std::pair<std::int64_t, std::int64_t>> refused;  // (face id, a person it is not)
    bool operator==(const FaceChoices&) const = default;
  };
  // Where a grouping puts a face: a person's id, 0 for none, or a negative key naming a new
  // person (every face with the same key goes to the same new person).
  using FacePlacement = std::pair<std::int64_t, std::int64_t>;  // face id, person
  // Every face in id order, with its vector when asked; empty when the file has no face
  // index (an older one opened read-only). Throws SQLite::Failure.
  std::vector<StoredFace> faces(bool withVectors = true);
  std::optional<StoredFace> face(std::int64_t faceID);
  // The person's faces, in file and time order.
  std::vector<StoredFace> facesOf(std::int64_t personID);
  // Named people first (by name), then the rest by most faces.
  std::vector<Person> people();
  std::optional<Person> person(std::int64_t personID);
  FaceChoices faceChoices();
  // Stores a grouping in one transaction, making the new people it names. A full one first
  // takes every face from its person; either way, people left without a face and without a
  // name are removed. Faces gone meanwhile are passed over. Returns the ids given to the new
  // people's keys.
  std::map<std::int64_t, std::int64_t> placeFaces(const std::vector<FacePlacement>& placements,
                                                  bool full);
  // The user's choices, each in one transaction. False when the person (or face) is unknown.
  // Naming keeps the person's faces with it through every regrouping.
  bool namePerson(std::int64_t personID, const std::string& name);
  bool hidePerson(std::int64_t personID, bool hidden);
  // other's faces go to keep, and stay together; keep takes other's name when it has none.
  bool mergePeople(std::int64_t keep, std::int64_t other);
  bool moveFace(std::int64_t faceID, std::int64_t personID);
  // The face leaves its person and never joins that person again.
  bool refuseFace(std::int64_t faceID);
  // Removes every face, person, name and choice, and the face stage's rows and done marks
  // (a later index finds the faces again), in one transaction. Throws SQLite::Failure.
  void forgetFaces();
  bool hasFaceIndex() const { return hasFaceIndex_; }

  // Up to count of the pending files of the given roots in indexing order (see pending), after the
  // file at `after` in that order (from the first when absent): what a run takes next, without a
  // copy of the rest.
  std::vector<MediaFile> pendingAfter(const std::set<std::int64_t>& roots,
                                      const std::optional<PendingOrder::Key>& after,
                                      std::size_t count) const;
  // Counts and bytes of the pending files of the given roots.
  PendingOrder::Sums pendingSums(const std::set<std::int64_t>& roots) const;
  // Counts over the files of the given roots (all roots when absent).
  Totals totals(const std::optional<std::set<std::int64_t>>& roots = std::nullopt) const;
  // The counts of every root that has files, in one pass over the cached files: what a
  // front end refreshes while indexing runs, without copying a record.
  std::map<std::int64_t, RootCounts> rootCounts() const;
  // The stored thumbnail of a frame; absent when there is none or the read fails.
  std::optional<Bytes> thumbnail(std::int64_t frameID);
  // The times of a file's frames, ascending; what could be read when the read fails.
  std::vector<double> frameTimes(std::int64_t fileID);

 private:
  friend class LibraryTestAccess;  // tests and benchmarks
  SQLite& db() { return *db_; }
  // Pending files of the given roots in indexing order: photos newest first, then videos
  // smallest first.
  std::vector<MediaFile> pending(const std::set<std::int64_t>& roots) const;

  void migrate(Opening opening, const UpgradeProgress& onUpgrade);
  // Throws Newer when the file says it has a later schema.
  void refuseNewer();
  // Version 1 kept each thumbnail in its frame's row.
  bool framesHoldThumbnails();
  // Moves them to the thumbs table, keeping every frame id and the id sequence.
  void upgradeThumbnails(const UpgradeProgress& onUpgrade);
  // Version 2 and older had no capture times.
  bool filesLackCaptureTimes();
  void addCaptureTimes();
  // Version 3 and older had no text index; text read before it is indexed as it is added.
  bool lacksTextIndex();
  void addTextIndex(const UpgradeProgress& onUpgrade);
  // Indexes the lines of the stage's rows when it is the text stage; in the caller's
  // transaction.
  void indexText(std::int64_t fileID, const StageRows& rows);
  // Version 4 and older had no face index; faces found before it are indexed as it is added.
  bool lacksFaceIndex();
  void addFaceIndex(const UpgradeProgress& onUpgrade);
  // The same for the face stage's rows.
  void indexFaces(std::int64_t fileID, const StageRows& rows);
  // Pins every face of the person to it; in the caller's transaction.
  void keepFacesWith(std::int64_t personID);
  // saveFrames and saveChunk: replace drops the stored frames first; complete marks indexed;
  // chunk asks for the file to be pending.
  struct FrameWrite {
    bool replace = true;
    bool complete = true;
    bool chunk = false;
  };
  void writeFrames(const std::vector<FrameBatchEntry>& batch, FrameWrite how);
  std::vector<std::int64_t> insertFrames(const std::vector<FrameBatchEntry>& batch, FrameWrite how);
  void checkVectors(const std::vector<FrameBatchEntry>& batch) const;
  // Whether the stored vectors have this model's width: a model of another width that took
  // the same signature must not be searched against them.
  bool framesFitWidth() const;
  void loadCaches();
  void loadVectors();

  const std::filesystem::path location_;
  std::unique_ptr<SQLite> db_;
  VectorIndex vectors_;
  const std::string modelSignature_;
  std::optional<std::string> storedSignature_;
  bool modelMatches_ = true;
  bool hasTextIndex_ = false;
  bool hasFaceIndex_ = false;

  // Serialises the writes, each from its database step to its last memory step, so that
  // the vector index and the maps take the writes in commit order. Only writes take it;
  // nothing called under it ever takes it. Guards no member: the order of the writes.
  Mutex writeLock_;
  // Guards the two maps below; held only for reading or changing them, never across a
  // database step.
  mutable Mutex lock_;
  // Hashed: searches look up thousands.
  std::unordered_map<std::int64_t, MediaFile> filesByID_ GUARDED_BY(lock_);
  std::map<std::int64_t, Root> rootsByID_ GUARDED_BY(lock_);
  // The pending files of filesByID_, changed with it.
  PendingOrder pendingOrder_ GUARDED_BY(lock_);
};

}  // namespace quillmere
