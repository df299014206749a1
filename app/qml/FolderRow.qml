// SPDX-License-Identifier: GPL-3.0-or-later
// One folder of the sidebar: its icon, name and state, with the folder's menu.
import QtQuick
import QtQuick.Controls
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

    highlighted: app.search.folderFilter === rootId
    onClicked: app.search.folderFilter = rootId
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.ListItem
    // The name goes in last, so that a "%1" in it stays as written.
    //: %2 is the folder's name, %1 its count or state
    Accessible.name: qsTr("%2, %1").arg(label.subtitle).arg(name)
    Accessible.selected: highlighted
    // The Menu key and Shift+F10 open the folder's menu under the row, as a right click does.
    Keys.onPressed: event => {
        if (event.key === Qt.Key_Menu
                || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
            menu.popup(row, 12, row.height)
            event.accepted = true
        }
    }
    // Only the selected or pressed row is filled, so the rows sit on the sidebar's colour.
    background: Rectangle {
        color: row.highlighted ? row.palette.highlight
                            : row.down ? row.palette.midlight : "transparent"
        border.width: row.visualFocus ? 2 : 0
        border.color: row.highlighted ? row.palette.highlightedText : row.palette.highlight
    }
    readonly property color textColor: highlighted ? palette.highlightedText : palette.windowText
    PlainToolTip {
        visible: row.hovered
        delay: 600
        text: row.path
    }

    contentItem: FolderLabel {
        id: label
        app: row.app
        name: row.name
        online: row.online
        external: row.external
        files: row.files
        indexed: row.indexed
        volumeName: row.volumeName
        highlighted: row.highlighted
        textColor: row.textColor
        accent: row.palette.highlight
        muted: row.palette.placeholderText
    }

    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: menu.popup()
    }

    Menu {
        id: menu
        objectName: "folderMenu"
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
            objectName: "removeFolder"
            text: qsTr("Remove from Quillmere…")
            onTriggered: removeDialog.open()
        }
    }

    PlainDialog {
        id: removeDialog
        objectName: "removeDialog"
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        // The dialog takes the keys: Return removes (the default button), Escape cancels.
        focus: true
        title: qsTr("Remove “%1” from Quillmere?").arg(row.name)
        onAccepted: row.app.folders.removeFolder(row.rootId)
        Label {
            width: 380
            wrapMode: Text.Wrap
            focus: true
            text: qsTr("Its files stay where they are. Quillmere forgets what it learned about them; adding the folder again indexes it again.")
            Keys.onReturnPressed: removeDialog.accept()
            Keys.onEnterPressed: removeDialog.accept()
        }
        footer: DialogButtonBox {
            Button {
                text: qsTr("Remove")
                highlighted: true
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: removeDialog.accept()
            }
            Button {
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
    }
}
