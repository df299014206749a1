// SPDX-License-Identifier: GPL-3.0-or-later
// The folder chooser of every "Add Folder…" command: the desktop's own chooser, which takes
// several folders at once, else Qt's, which takes one. What is chosen is added to the library
// as a dropped folder is. Not an item, so that it can sit in a menu bar.
import QtQuick
import QtQuick.Dialogs
import Quillmere

QtObject {
    id: chooser
    required property AppModel app
    readonly property string title: qsTr("Choose a folder with photos and videos. Quillmere looks at them on this computer; nothing is uploaded.")
    // Whether this chooser asked the open pick (several choosers share one picker).
    property bool asking: false

    function open() {
        chooser.asking = chooser.app.folders.picker.choose(single.parentWindow, chooser.title, qsTr("Add"))
    }

    readonly property Connections answers: Connections {
        target: chooser.app.folders.picker
        enabled: chooser.asking
        function onUnavailable() {
            chooser.asking = false
            single.open()
        }
        function onChosen() {
            chooser.asking = false
        }
        function onCancelled() {
            chooser.asking = false
        }
    }

    readonly property FolderDialog single: FolderDialog {
        id: single
        objectName: "singleFolderDialog"
        title: chooser.title
        acceptLabel: qsTr("Add")
        onAccepted: chooser.app.folders.handleAddUrl(selectedFolder)
    }
}
