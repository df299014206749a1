// SPDX-License-Identifier: GPL-3.0-or-later
// One folder of the sidebar: its icon, name and state, with the folder's menu.
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Quillmere

ItemDelegate {
    id: row
    objectName: "folderRow"
    required property AppModel app
    required property var rootId
    required property string path
    required property string name
    required property bool online
    required property bool external
    required property var files
    required property var indexed
    required property string volumeName

    // The second line, by the first condition that holds.
    readonly property string subtitle: {
        const grouped = n => Number(n).toLocaleString(Qt.locale(), "f", 0)
        if (!online)
            return qsTr("Not connected · ") + (volumeName !== "" ? volumeName : qsTr("drive"))
        if (files > 0 && indexed < files)
            return grouped(indexed) + qsTr(" of ") + grouped(files) + qsTr(" ready")
        if (files === 1)
            return qsTr("1 item")
        if (files > 1)
            return grouped(files) + qsTr(" items")
        if (external)
            return volumeName !== "" ? volumeName : qsTr("Drive")
        // Once the scan is over, an empty folder is not being looked through any more.
        if (app.indexing.phase === "idle")
            return qsTr("No photos or videos")
        return qsTr("Looking for photos and videos…")
    }

    highlighted: app.search.folderFilter === rootId
    onClicked: app.search.folderFilter = rootId
    // Only the selected or pressed row is filled, so the rows sit on the sidebar's colour.
    background: Rectangle {
        color: row.highlighted ? row.palette.highlight
                            : row.down ? row.palette.midlight : "transparent"
    }
    readonly property color textColor: highlighted ? palette.highlightedText : palette.windowText
    PlainToolTip {
        visible: row.hovered
        delay: 600
        text: row.path
    }

    contentItem: RowLayout {
        spacing: 8
        IconImage {
            Layout.preferredWidth: 18
            Layout.preferredHeight: 18
            sourceSize: Qt.size(18, 18)
            source: !row.online ? "icons/sidebar-drive-offline.svg"
                                : row.external ? "icons/sidebar-drive.svg" : "icons/sidebar-folder.svg"
            color: row.highlighted ? row.textColor : row.online ? row.palette.highlight : row.palette.placeholderText
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 0
            Label {
                objectName: "folderName"
                Layout.fillWidth: true
                text: row.name
                color: row.textColor
                textFormat: Text.PlainText
                elide: Text.ElideMiddle
            }
            Label {
                objectName: "folderSubtitle"
                Layout.fillWidth: true
                text: row.subtitle
                color: row.textColor
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font.pointSize: Qt.application.font.pointSize * 0.85
                opacity: 0.7
            }
        }
    }

    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: menu.popup()
    }

    Menu {
        id: menu
        Action {
            objectName: "showFolder"
            text: qsTr("Show in Folder")
            enabled: row.online
            onTriggered: row.app.actions.showFolder(row.rootId)
        }
        Action {
            objectName: "indexAgain"
            text: qsTr("Index Again")
            enabled: row.online
            onTriggered: row.app.indexing.indexAgain(row.rootId)
        }
        MenuSeparator {}
        Action {
            text: qsTr("Remove from Quillmere…")
            onTriggered: removeDialog.open()
        }
    }

    Dialog {
        id: removeDialog
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        title: qsTr("Remove “%1” from Quillmere?").arg(row.name)
        Label {
            width: 380
            wrapMode: Text.Wrap
            text: qsTr("Its files stay where they are. Quillmere forgets what it learned about them; adding the folder again indexes it again.")
        }
        footer: DialogButtonBox {
            Button {
                text: qsTr("Remove")
                highlighted: true
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: {
                    removeDialog.close()
                    row.app.folders.removeFolder(row.rootId)
                }
            }
            Button {
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
    }
}
