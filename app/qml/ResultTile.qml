// SPDX-License-Identifier: GPL-3.0-or-later
// One result in the grid: its picture, the video badge with the opening time, the badge of
// an offline drive, the badge of a result found by the text in it, and the file name.
import QtQuick
import QtQuick.Controls
import Quillmere

Item {
    id: root
    required property AppModel app
    required property var frameId
    required property string name
    required property bool isVideo
    required property string timecode
    property bool selected: false
    // What the video badge shows: the opening time, refined once known.
    property string badgeTime: timecode
    // "On <drive> — not connected" while the file's folder is offline.
    property string offlineNote: ""
    // The query's words are written in the picture.
    property bool foundByText: false
    property real imageWidth: width
    // The colour behind the tile, painted over the picture's corners to round them.
    property color cornerColor: palette.window

    signal clicked()
    signal doubleClicked()
    signal menuRequested(real x, real y)

    implicitHeight: picture.height + 6 + caption.implicitHeight

    Accessible.role: Accessible.ListItem
    // The grid gives its current tile the focus, so that a screen reader reads each selection.
    Accessible.focusable: true
    Accessible.selected: selected
    // The result's own time, which names the moment whatever time it opens at.
    // The name goes in last, so that a "%1" in it stays as written.
    //: %2 is the file's name, %1 the time of the moment in it
    Accessible.name: isVideo ? qsTr("%2, at %1").arg(timecode).arg(name) : name
    Accessible.description: foundByText ? textBadgeTip : ""
    readonly property string textBadgeTip: qsTr("Found by the text in it")

    Item {
        id: picture
        // Whole points, so that a layer's pixels meet the screen's.
        width: Math.round(root.imageWidth)
        height: Math.round(root.imageWidth / 1.6)
        anchors.horizontalCenter: parent.horizontalCenter
        // The software renderer draws every part anew in each frame, and hands each translucent
        // fill of more than a few rows to other threads; as a layer the picture is drawn once
        // per change and copied while the grid scrolls.
        layer.enabled: GraphicsInfo.api === GraphicsInfo.Software

        // The rounded picture: the image inside a clipping mask drawn by a rectangle.
        Rectangle {
            id: frame
            anchors.fill: parent
            radius: 8
            color: Qt.rgba(root.palette.windowText.r, root.palette.windowText.g,
                           root.palette.windowText.b, 0.06)
            clip: true
            ResultImage {
                anchors.fill: parent
                app: root.app
                frameId: root.frameId
            }
        }
        // Corners cut off outside the radius (the image itself is square-cornered).
        Rectangle {
            anchors.fill: parent
            anchors.margins: -4
            radius: 12
            color: "transparent"
            border.width: 4
            border.color: root.cornerColor
        }
        Rectangle {
            anchors.fill: parent
            radius: 8
            color: "transparent"
            border.width: root.selected ? 3 : 1
            border.color: root.selected
                          ? root.palette.highlight
                          : Qt.rgba(root.palette.windowText.r, root.palette.windowText.g,
                                    root.palette.windowText.b, 0.08)
        }

        // The opening time of a video.
        Rectangle {
            objectName: "videoBadge"
            visible: root.isVideo
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 6
            width: badgeRow.implicitWidth + 12
            height: badgeRow.implicitHeight + 6
            radius: 4
            color: Qt.rgba(0, 0, 0, 0.62)
            Row {
                id: badgeRow
                anchors.centerIn: parent
                spacing: 4
                Symbol {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "play"
                    size: 9
                    color: "white"
                }
                Text {
                    text: root.badgeTime
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                }
            }
        }

        // Found by its text: made only then, like the offline badge.
        Loader {
            anchors.left: parent.left
            anchors.bottom: parent.bottom
            anchors.margins: 6
            active: root.foundByText
            sourceComponent: Rectangle {
                objectName: "textBadge"
                width: textLabel.implicitWidth + 12
                height: textLabel.implicitHeight + 6
                radius: 4
                color: Qt.rgba(0, 0, 0, 0.62)
                Accessible.role: Accessible.StaticText
                Accessible.name: root.textBadgeTip
                Text {
                    id: textLabel
                    anchors.centerIn: parent
                    //: The badge of a result whose picture holds the words searched for
                    text: qsTr("Text")
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                }
                HoverHandler { id: textHover }
                PlainToolTip {
                    objectName: "textTip"
                    visible: textHover.hovered
                    text: root.textBadgeTip
                }
            }
        }

        // The file's drive is not connected: made only then, as its tooltip is a popup, too
        // heavy to make for every tile that scrolls into view.
        Loader {
            anchors.left: parent.left
            anchors.top: parent.top
            anchors.margins: 6
            active: root.offlineNote !== ""
            sourceComponent: Rectangle {
                objectName: "offlineBadge"
                width: 22
                height: 22
                radius: 4
                color: Qt.rgba(0, 0, 0, 0.62)
                Symbol {
                    anchors.centerIn: parent
                    name: "driveOffline"
                    size: 12
                    color: "white"
                }
                HoverHandler { id: offlineHover }
                PlainToolTip {
                    objectName: "offlineTip"
                    visible: offlineHover.hovered
                    text: root.offlineNote
                }
            }
        }
    }

    Label {
        id: caption
        anchors.top: picture.bottom
        anchors.topMargin: 6
        anchors.left: picture.left
        anchors.right: picture.right
        horizontalAlignment: Text.AlignHCenter
        text: root.name
        textFormat: Text.PlainText
        elide: Text.ElideMiddle
        maximumLineCount: 1
        font.pixelSize: 12
        font.weight: root.selected ? Font.DemiBold : Font.Normal
        color: root.selected ? root.palette.windowText : root.palette.placeholderText
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onClicked: mouse => {
            if (mouse.button === Qt.RightButton)
                root.menuRequested(mouse.x, mouse.y)
            else
                root.clicked()
        }
        onDoubleClicked: mouse => {
            if (mouse.button === Qt.LeftButton)
                root.doubleClicked()
        }
        // Dragged out as a file: offered as a copy only, so nothing moves the original.
        drag.target: dragItem
        drag.threshold: 8
    }
    Item {
        id: dragItem
        readonly property url file: mouse.drag.active ? root.app.search.fileUrl(root.frameId) : ""
        Drag.active: mouse.drag.active && file.toString() !== ""
        Drag.dragType: Drag.Automatic
        Drag.supportedActions: Qt.CopyAction
        Drag.proposedAction: Qt.CopyAction
        Drag.mimeData: ({ "text/uri-list": file.toString() })
        Drag.onDragFinished: {
            dragItem.x = 0
            dragItem.y = 0
        }
    }
}
