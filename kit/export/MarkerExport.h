// SPDX-License-Identifier: GPL-3.0-or-later
// Found video moments as files that video editors import: an FCPXML 1.9 document (one
// sequence, one clip per moment, each clip with a one-frame marker at the moment) for Final
// Cut Pro and DaVinci Resolve, or a CSV table for a spreadsheet.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quillmere {

class MarkerExport {
 public:
  // A frame duration as a fraction: one frame lasts num/den seconds.
  struct Rate {
    std::int64_t num = 1;
    std::int64_t den = 30;

    // The closest standard rate when it is within 0.05 fps, else 1/round(fps), at least 1/1.
    static Rate from(double fps);
    double fps() const { return static_cast<double>(den) / static_cast<double>(num); }
    // seconds snapped to whole frames, as an FCPXML time: "0s" or "{frames*num}/{den}s".
    std::string time(double seconds) const;
    // A whole number of frames as an FCPXML time.
    std::string frames(std::int64_t count) const;

    bool operator==(const Rate&) const = default;
  };

  // One moment to export.
  struct Moment {
    std::filesystem::path path;  // the video file
    double time = 0;             // seconds into the video
    double duration = 0;         // seconds; only sizes the moment's clip
    std::string label;           // text of the marker

    bool operator==(const Moment&) const = default;
  };

  // What the probe found out about one file; the defaults are what an unreadable file gets.
  struct Media {
    Rate rate;
    int width = 1920;  // display size, after the track's orientation
    int height = 1080;
    double duration = 0;  // seconds; 0 when unknown
    bool hasAudio = false;

    bool operator==(const Media&) const = default;
  };

  // One line of the CSV table.
  struct Row {
    std::string path;
    double time = 0;  // seconds
    float score = 0;

    bool operator==(const Row&) const = default;
  };

  MarkerExport() = delete;

  // Reads the file's headers (blocking; keep it off the GUI thread). Never fails.
  static Media media(const std::filesystem::path& filePath);
  // The whole document; probes each distinct file once, one after another, in moment order.
  // `title` names the event and the project; `handles` is media kept around each moment.
  static std::string fcpxml(const std::vector<Moment>& moments, const std::string& title,
                            double handles);
  // The same document from files already probed; a file missing from `media` gets Media{}.
  static std::string fcpxml(const std::vector<Moment>& moments, const std::string& title,
                            double handles, const std::map<std::filesystem::path, Media>& media);
  // "File,Timecode,Seconds,Score" and one line per row; numbers always with a full stop. The
  // text stays UTF-8: a path that is not is written as its fileURL, which keeps every byte.
  static std::string csv(const std::vector<Row>& rows);

  // "file://" and the absolute path, every byte but unreserved ones and "/" percent-encoded.
  static std::string fileURL(const std::filesystem::path& path);
  // Text made safe for an XML attribute: & < > " escaped, tab and line breaks as character
  // references, ill-formed UTF-8 and characters XML cannot carry replaced by U+FFFD.
  static std::string escaped(const std::string& text);
};

}  // namespace quillmere
