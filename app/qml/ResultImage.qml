// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import Quillmere

// A result's picture filling the item, cropped to fill (or whole, with `fit`): the
// background at once, the stored thumbnail as soon as it is decoded, then, with `sharp`, a
// picture from the file itself at the item's pixel size.
Item {
    id: root

    property AppModel app
    // A result's frame id, or null.
    property var frameId: null
    // The frame's file, or null: needed for a frame that is not among the results.
    property var fileId: null
    property bool sharp: true
    // Seconds into a video overriding the result's own time, or null.
    property var time: null
    property bool fit: false
    readonly property bool hasPicture: picture.hasPicture
    readonly property bool showsSharp: picture.showsSharp
    readonly property rect paintedRect: picture.paintedRect

    SystemPalette {
        id: colours
    }

    Rectangle {
        anchors.fill: parent
        // Hidden behind a picture that fills the item.
        visible: root.fit || !picture.hasPicture
        color: Qt.rgba(colours.text.r, colours.text.g, colours.text.b, 0.12)
    }

    ResultPicture {
        id: picture
        anchors.fill: parent
        app: root.app
        frameId: root.frameId
        fileId: root.fileId
        sharp: root.sharp
        time: root.time
        fit: root.fit
    }
}
