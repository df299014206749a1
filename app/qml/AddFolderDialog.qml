// SPDX-License-Identifier: GPL-3.0-or-later
// The folder chooser of every "Add Folder…" command: the chosen folder is added to the
// library as a dropped one is.
import QtQuick
import QtQuick.Dialogs
import Quillmere

FolderDialog {
    id: dialog
    required property AppModel app

    title: qsTr("Choose a folder with photos and videos. Quillmere looks at them on this computer; nothing is uploaded.")
    acceptLabel: qsTr("Add")
    onAccepted: dialog.app.folders.handleAddUrl(selectedFolder)
}
