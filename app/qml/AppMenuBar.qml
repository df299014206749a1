// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menu bar: every command with its shortcut, enabled only when it can act.
// Commands that a window carries out go out through AppCommands; file operations through
// app.actions; indexing through app.indexing.
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import Quillmere

MenuBar {
    id: bar
    required property AppModel app

    readonly property bool hasSelection: app.search.selection !== null && app.search.selection !== undefined
    readonly property bool hasResults: app.search.results.count > 0

    // Text commands act on the focused text field, when there is one.
    function editing(command) {
        const item = bar.Window.activeFocusItem
        if (item && typeof item[command] === "function")
            item[command]()
    }

    Menu {
        objectName: "fileMenu"
        title: qsTr("&File")
        Action {
            objectName: "addFolder"
            text: qsTr("Add Folder…")
            shortcut: "Ctrl+O"
            onTriggered: folderDialog.open()
        }
        MenuSeparator {}
        Action {
            objectName: "quit"
            text: qsTr("Quit")
            shortcut: StandardKey.Quit
            onTriggered: Qt.quit()
        }
    }

    Menu {
        objectName: "editMenu"
        title: qsTr("&Edit")
        Action {
            text: qsTr("Cut")
            shortcut: StandardKey.Cut
            onTriggered: bar.editing("cut")
        }
        Action {
            text: qsTr("Copy")
            shortcut: StandardKey.Copy
            onTriggered: bar.editing("copy")
        }
        Action {
            text: qsTr("Paste")
            shortcut: StandardKey.Paste
            onTriggered: bar.editing("paste")
        }
        Action {
            text: qsTr("Select All")
            shortcut: StandardKey.SelectAll
            onTriggered: bar.editing("selectAll")
        }
        MenuSeparator {}
        Action {
            objectName: "findMoment"
            text: qsTr("Find a Moment")
            shortcut: StandardKey.Find
            onTriggered: AppCommands.focusSearch()
        }
        MenuSeparator {}
        Action {
            objectName: "settings"
            text: qsTr("Settings…")
            shortcut: "Ctrl+,"
            onTriggered: AppCommands.showSettings()
        }
    }

    Menu {
        objectName: "resultMenu"
        title: qsTr("&Result")
        Action {
            objectName: "open"
            text: qsTr("Open")
            shortcut: "Ctrl+Down"
            enabled: bar.hasSelection
            onTriggered: AppCommands.openSelected()
        }
        Action {
            objectName: "quickLook"
            text: qsTr("Quick Look")
            shortcut: "Ctrl+Y"
            enabled: bar.hasSelection
            onTriggered: AppCommands.togglePeek()
        }
        Action {
            objectName: "showInFolder"
            text: qsTr("Show in Folder")
            shortcut: "Ctrl+R"
            enabled: bar.hasSelection
            onTriggered: bar.app.actions.showInFolder(bar.app.search.selection)
        }
        Action {
            objectName: "moreLikeThis"
            text: qsTr("More Like This")
            shortcut: "Ctrl+L"
            enabled: bar.hasSelection
            onTriggered: bar.app.search.moreLikeThis(bar.app.search.selection)
        }
        Action {
            objectName: "searchRegion"
            text: qsTr("Search This Region")
            shortcut: "Ctrl+Shift+L"
            enabled: bar.hasSelection
            onTriggered: AppCommands.searchRegion()
        }
        Action {
            objectName: "copyPath"
            text: qsTr("Copy Path")
            shortcut: "Ctrl+Alt+C"
            enabled: bar.hasSelection
            onTriggered: bar.app.actions.copyPath(bar.app.search.selection, false)
        }
        Action {
            objectName: "copyPathAndTime"
            text: qsTr("Copy Path and Time")
            shortcut: "Ctrl+Alt+Shift+C"
            // A video's time: the timecode is empty for a photo.
            enabled: bar.hasSelection && bar.app.search.openTimecode(bar.app.search.selection, true) !== ""
            onTriggered: bar.app.actions.copyPath(bar.app.search.selection, true)
        }
        MenuSeparator {}
        Action {
            objectName: "exportMarkers"
            text: qsTr("Export Markers…")
            shortcut: "Ctrl+E"
            enabled: bar.hasResults && !bar.app.actions.exporting
            onTriggered: bar.app.actions.exportMarkers()
        }
    }

    Menu {
        objectName: "viewMenu"
        title: qsTr("&View")
        MenuItem {
            text: qsTr("Show")
            enabled: false
        }
        ActionGroup {
            id: kinds
            exclusive: true
        }
        Action {
            objectName: "showAll"
            text: qsTr("All")
            shortcut: "Ctrl+1"
            checkable: true
            checked: bar.app.search.kindFilter === 0
            ActionGroup.group: kinds
            onTriggered: bar.app.search.kindFilter = 0
        }
        Action {
            objectName: "showPhotos"
            text: qsTr("Photos")
            shortcut: "Ctrl+2"
            checkable: true
            checked: bar.app.search.kindFilter === 1
            ActionGroup.group: kinds
            onTriggered: bar.app.search.kindFilter = 1
        }
        Action {
            objectName: "showVideos"
            text: qsTr("Videos")
            shortcut: "Ctrl+3"
            checkable: true
            checked: bar.app.search.kindFilter === 2
            ActionGroup.group: kinds
            onTriggered: bar.app.search.kindFilter = 2
        }
        MenuSeparator {}
        Action {
            objectName: "biggerThumbnails"
            text: qsTr("Bigger Thumbnails")
            shortcut: StandardKey.ZoomIn
            onTriggered: Tiles.zoom(1.15)
        }
        Action {
            objectName: "smallerThumbnails"
            text: qsTr("Smaller Thumbnails")
            shortcut: StandardKey.ZoomOut
            onTriggered: Tiles.zoom(1 / 1.15)
        }
        MenuSeparator {}
        // F11 and the desktop's full-screen key are the main window's shortcuts.
        Action {
            objectName: "fullScreen"
            text: bar.Window.window && bar.Window.window.visibility === Window.FullScreen
                  ? qsTr("Exit Full Screen") : qsTr("Full Screen")
            onTriggered: bar.Window.window.toggleFullScreen()
        }
    }

    Menu {
        objectName: "libraryMenu"
        title: qsTr("&Library")
        Action {
            objectName: "pauseIndexing"
            text: bar.app.indexing.pausedByUser ? qsTr("Resume Indexing") : qsTr("Pause Indexing")
            shortcut: "Ctrl+Shift+P"
            onTriggered: bar.app.indexing.togglePause()
        }
        Action {
            objectName: "findDuplicates"
            text: qsTr("Find Duplicates…")
            onTriggered: AppCommands.showDuplicates()
        }
    }

    Menu {
        objectName: "helpMenu"
        title: qsTr("&Help")
        Action {
            objectName: "help"
            text: qsTr("Quillmere Help")
            onTriggered: bar.app.actions.openHelp()
        }
        Action {
            objectName: "privacy"
            text: qsTr("Privacy")
            onTriggered: bar.app.actions.openPrivacy()
        }
        MenuSeparator {}
        Action {
            objectName: "checkForUpdates"
            text: qsTr("Check for Updates…")
            onTriggered: updateAlert.open()
        }
        Action {
            objectName: "about"
            text: qsTr("About Quillmere")
            onTriggered: aboutAlert.open()
        }
    }

    AddFolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        app: bar.app
    }

    // Asked for by app.actions once it knows there is something to export.
    FileDialog {
        id: exportDialog
        objectName: "exportDialog"
        fileMode: FileDialog.SaveFile
        title: bar.app.actions.exportMessage
        acceptLabel: qsTr("Export")
        nameFilters: bar.app.actions.exportNameFilters
        onAccepted: bar.app.actions.saveExport(selectedFile, selectedNameFilter.index)
    }

    Connections {
        target: bar.app.actions
        function onExportAsked() {
            exportDialog.selectedFile = exportDialog.currentFolder + "/"
                    + encodeURIComponent(bar.app.actions.exportFileName)
            exportDialog.open()
        }
    }

    MessageDialog {
        id: updateAlert
        objectName: "updateAlert"
        title: qsTr("Check for Updates")
        text: bar.app.actions.updateMessage
        informativeText: bar.app.actions.updateDetail
        buttons: MessageDialog.Ok
    }

    MessageDialog {
        id: aboutAlert
        objectName: "aboutAlert"
        title: qsTr("About Quillmere")
        text: qsTr("Quillmere")
        informativeText: qsTr("Finds moments in your own photos and videos, on this computer.")
        buttons: MessageDialog.Ok
    }
}
