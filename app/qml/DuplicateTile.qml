// SPDX-License-Identifier: GPL-3.0-or-later
// One photo of a duplicates group: its picture with a badge (a red cross when marked for the
// Trash, a star on the copy to keep, an empty ring otherwise), its name, size and pixels.
// A click marks or unmarks it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

ColumnLayout {
    id: tile

    property AppModel app
    property DuplicatesModel duplicates
    // {fileId, frameId, name, width, height, size, isBest}
    property var file: ({})
    readonly property bool marked: duplicates !== null && duplicates.marksRevision >= 0
                                   && duplicates.isMarked(file.fileId)
    readonly property string tip: file.isBest ? qsTr("The copy to keep: the largest")
                                : marked ? qsTr("Goes to the Trash — click to keep")
                                : qsTr("Click to move to the Trash")

    width: 180
    spacing: 4
    // Tab reaches each photo; Space marks or unmarks it, as a click does.
    activeFocusOnTab: true
    Keys.onSpacePressed: duplicates.toggle(file.fileId)
    Accessible.role: Accessible.CheckBox
    Accessible.checkable: true
    Accessible.checked: marked
    Accessible.focusable: true
    Accessible.focused: activeFocus
    // The name goes in last, so that a "%1" in it stays as written.
    Accessible.name: {
        //: %2 is the file's name, %1 its size
        const said = file.isBest ? (marked ? qsTr("%2, %1, the copy to keep, goes to the Trash")
                                           : qsTr("%2, %1, the copy to keep, kept"))
                                 : (marked ? qsTr("%2, %1, goes to the Trash") : qsTr("%2, %1, kept"))
        return said.arg(Qt.locale().formattedDataSize(file.size, 1, Locale.DataSizeSIFormat)).arg(file.name)
    }
    Accessible.onToggleAction: duplicates.toggle(file.fileId)
    Accessible.onPressAction: duplicates.toggle(file.fileId)

    SystemPalette {
        id: palette
    }

    Item {
        Layout.preferredWidth: 180
        Layout.preferredHeight: 120

        Rectangle {
            id: frame
            anchors.fill: parent
            radius: 6
            clip: true
            color: "transparent"
            opacity: tile.marked ? 0.55 : 1

            ResultImage {
                anchors.fill: parent
                app: tile.app
                frameId: tile.file.frameId
                fileId: tile.file.fileId
                sharp: true
            }
        }

        Rectangle {
            id: badge
            z: 2
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.margins: 6
            width: 24
            height: 24
            radius: 12
            color: tile.marked ? "#d93025" : tile.file.isBest ? "#f4b400" : "transparent"
            border.width: tile.marked || tile.file.isBest ? 0 : 2
            border.color: "white"

            Text {
                anchors.centerIn: parent
                text: tile.marked ? "✕" : tile.file.isBest ? "★" : ""
                color: "white"
                font.pixelSize: 14
                font.bold: true
            }
        }

        // The keyboard's place, around the picture.
        Rectangle {
            anchors.fill: parent
            anchors.margins: -3
            radius: 8
            color: "transparent"
            border.width: 2
            border.color: palette.highlight
            visible: tile.activeFocus
        }

        // A soft shadow under the badge, so that it reads on light pictures.
        Rectangle {
            z: 1
            x: badge.x + 1
            y: badge.y + 2
            width: badge.width
            height: badge.height
            radius: badge.radius
            color: Qt.rgba(0, 0, 0, 0.33)
        }

        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: tile.duplicates.toggle(tile.file.fileId)
        }

        PlainToolTip {
            visible: area.containsMouse
            text: tile.tip
            delay: 600
        }
    }

    Label {
        Layout.preferredWidth: 180
        text: tile.file.name
        textFormat: Text.PlainText
        elide: Text.ElideMiddle
        font.pointSize: Qt.application.font.pointSize * 0.9
    }

    Label {
        Layout.preferredWidth: 180
        text: tile.file.width + "×" + tile.file.height + " · "
              + Qt.locale().formattedDataSize(tile.file.size, 1, Locale.DataSizeSIFormat)
        color: palette.placeholderText
        font.pointSize: Qt.application.font.pointSize * 0.8
    }
}
