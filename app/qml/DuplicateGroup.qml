// SPDX-License-Identifier: GPL-3.0-or-later
// One group of the duplicates window: its title, then its photos in a row that scrolls
// sideways, the copy to keep first.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

ColumnLayout {
    id: group

    required property string title
    required property var files
    property AppModel app
    property DuplicatesModel duplicates

    spacing: 6

    Label {
        Layout.leftMargin: 6
        text: group.title
        font.bold: true
    }

    ListView {
        id: row
        Layout.fillWidth: true
        implicitHeight: contentItem.childrenRect.height + 8 + (bar.visible ? bar.height : 0)
        orientation: ListView.Horizontal
        spacing: 12
        clip: true
        topMargin: 4
        leftMargin: 6
        rightMargin: 6
        model: group.files
        ScrollBar.horizontal: ScrollBar {
            id: bar
            policy: row.contentWidth > row.width ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
        }
        delegate: DuplicateTile {
            required property var modelData
            app: group.app
            duplicates: group.duplicates
            file: modelData
        }
    }
}
