// SPDX-License-Identifier: GPL-3.0-or-later
// A one-pixel rule between sections: the text colour, faint, so that it shows on light and
// dark palettes alike (a palette's mid colour can be all but the window's own in a dark one).
import QtQuick

Rectangle {
    implicitHeight: 1
    color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.16)
}
