// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a frame at a second (null: the frame's own), whole inside the item.
import QtQuick
import Quillmere

ResultImage {
    fit: true
}
