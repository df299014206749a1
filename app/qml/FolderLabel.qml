// SPDX-License-Identifier: GPL-3.0-or-later
// A folder as its rows show it, in the sidebar and in the settings: the folder's or drive's
// icon, its name, and a second line with its count or why it has none.
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Quillmere

RowLayout {
    id: label
    required property AppModel app
    required property string name
    required property bool online
    required property bool external
    required property var files
    required property var indexed
    required property string volumeName
    // On a selected row: the icon takes the text's colour.
    property bool highlighted: false
    // The row's colours: its text, and the icon's when the row is not selected.
    required property color textColor
    required property color accent
    required property color muted
    // A third line, such as the folder's path; none when empty.
    property string detail: ""

    // The second line, by the first condition that holds.
    readonly property string subtitle: {
        const grouped = n => Number(n).toLocaleString(Qt.locale(), "f", 0)
        if (!online)
            return app.folders.offlineNote(online, volumeName)
        if (files > 0 && indexed < files)
            return qsTr("%1 of %2 ready").arg(grouped(indexed)).arg(grouped(files))
        if (files >= 1)
            return qsTr("%Ln item(s)", "", files)
        if (external)
            return volumeName !== "" ? volumeName : qsTr("Drive")
        // Once the scan is over, an empty folder is not being looked through any more.
        if (app.indexing.phase === IndexingStatus.Idle)
            return qsTr("No photos or videos")
        return qsTr("Looking for photos and videos…")
    }

    spacing: 8

    IconImage {
        Layout.preferredWidth: 18
        Layout.preferredHeight: 18
        sourceSize: Qt.size(18, 18)
        source: !label.online ? "icons/sidebar-drive-offline.svg"
                              : label.external ? "icons/sidebar-drive.svg" : "icons/sidebar-folder.svg"
        color: label.highlighted ? label.textColor : label.online ? label.accent : label.muted
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 0
        Label {
            objectName: "folderName"
            Layout.fillWidth: true
            text: label.name
            color: label.textColor
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
        }
        Label {
            objectName: "folderSubtitle"
            Layout.fillWidth: true
            text: label.subtitle
            color: label.textColor
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pointSize: Qt.application.font.pointSize * 0.85
            opacity: 0.7
        }
        Label {
            objectName: "folderDetail"
            Layout.fillWidth: true
            visible: label.detail !== ""
            text: label.detail
            color: label.textColor
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
            font.pointSize: Qt.application.font.pointSize * 0.85
            opacity: 0.7
        }
    }
}
