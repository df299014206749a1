// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the folders on the left, the search and its results in the middle, the
// preview of the selected result on the right.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

ApplicationWindow {
    id: window
    required property AppModel app
    property bool showInspector: true
    // The quick look over the window (a Popup with open() and close()), when it loaded.
    property var peek: null
    readonly property bool peeking: peek !== null && peek.opened
    readonly property bool dropTargeted: drop.containsDrag
    readonly property bool firstRun: app.folders.list.count === 0 && app.startupError === ""
                                     && !app.upgrading
    readonly property bool hasSelection: app.search.selection !== null && app.search.selection !== undefined
    readonly property alias searchHeader: header
    readonly property alias resultsGrid: grid
    readonly property alias noticeBar: notice

    width: 1280
    height: 800
    minimumWidth: 860
    minimumHeight: 540
    visible: true
    title: qsTr("Quillmere")

    function openResult(frameId) {
        if (frameId !== null && frameId !== undefined && app.actions)
            app.actions.open(frameId)
    }
    // The result selected and shown in the preview, where a region of it is drawn.
    function chooseRegion(frameId) {
        app.search.selection = frameId
        showInspector = true
        if (preview.item)
            preview.item.chooseRegion(frameId)
    }
    function togglePeek() {
        if (!peek)
            return
        if (peek.opened)
            peek.close()
        else if (hasSelection)
            peek.open()
    }
    function focusResults() {
        if (app.search.content === SearchModel.Results)
            grid.forceActiveFocus()
    }
    function dropped(urls) { app.drop(urls) }

    // Full screen and back to the way the window was before.
    property int windowedVisibility: Window.Windowed
    function toggleFullScreen() {
        if (visibility === Window.FullScreen) {
            visibility = windowedVisibility
        } else {
            windowedVisibility = visibility
            visibility = Window.FullScreen
        }
    }
    // F11 everywhere, and the desktop's own key; where they are the same key the shortcut is
    // found twice and reports it as ambiguous, which toggles just the same.
    Shortcut {
        sequences: [StandardKey.FullScreen, "F11"]
        onActivated: window.toggleFullScreen()
        onActivatedAmbiguously: window.toggleFullScreen()
    }

    // The duplicates and settings windows: made when first asked for, then raised.
    property var duplicatesWindow: null
    property var settingsWindow: null
    function showWindow(current, file) {
        let shown = current
        if (!shown) {
            const made = Qt.createComponent(file)
            if (made.status !== Component.Ready) {
                console.warn(made.errorString())
                return null
            }
            shown = made.createObject(window, { app: window.app })
        }
        shown.show()
        shown.raise()
        shown.requestActivate()
        return shown
    }
    function showDuplicates() { duplicatesWindow = showWindow(duplicatesWindow, "DuplicatesWindow.qml") }
    function showSettings() { settingsWindow = showWindow(settingsWindow, "SettingsWindow.qml") }

    // The parts other views provide are loaded by name, each with the model.
    function load(loader, file) { loader.setSource(file, { app: window.app }) }

    menuBar: Loader {
        Component.onCompleted: window.load(this, "AppMenuBar.qml")
    }

    header: ToolBar {
        // Its tools act on results, and none can be shown while the library is updated.
        visible: !window.app.upgrading
        RowLayout {
            anchors.fill: parent
            spacing: 4
            Item { Layout.fillWidth: true }
            ToolButton {
                objectName: "exportMarkers"
                text: qsTr("Export Markers")
                contentItem: Symbol { name: "export"; color: palette.buttonText; opacity: parent.enabled ? 1 : 0.4 }
                enabled: window.app.search.results.count > 0 && !window.app.actions.exporting
                ToolTip.text: qsTr("Export the video results as Final Cut Pro / DaVinci Resolve markers")
                ToolTip.visible: hovered
                ToolTip.delay: 600
                onClicked: window.app.actions.exportMarkers()
            }
            ToolButton {
                objectName: "togglePreview"
                text: qsTr("Preview")
                contentItem: Symbol { name: "preview"; color: palette.buttonText }
                checkable: true
                checked: window.showInspector
                ToolTip.text: window.showInspector ? qsTr("Hide the preview") : qsTr("Show the preview")
                ToolTip.visible: hovered
                ToolTip.delay: 600
                onClicked: window.showInspector = !window.showInspector
            }
        }
    }

    SplitView {
        anchors.fill: parent

        Loader {
            Component.onCompleted: window.load(this, "Sidebar.qml")
            SplitView.minimumWidth: 210
            SplitView.preferredWidth: 240
            SplitView.maximumWidth: 320
        }

        Item {
            id: detail
            SplitView.fillWidth: true
            SplitView.minimumWidth: 300

            Loader {
                anchors.fill: parent
                visible: window.firstRun
                active: window.firstRun
                onActiveChanged: if (active) window.load(this, "FirstRunView.qml")
                Component.onCompleted: if (active) window.load(this, "FirstRunView.qml")
            }

            ColumnLayout {
                anchors.fill: parent
                spacing: 0
                visible: !window.firstRun

                SearchHeader {
                    id: header
                    Layout.fillWidth: true
                    app: window.app
                    onOpenSelected: window.app.search.openSelectedWhenSearched()
                    onFocusResults: window.focusResults()
                }
                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: 1
                    color: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                   palette.windowText.b, 0.12)
                }
                Item {
                    Layout.fillWidth: true
                    Layout.fillHeight: true

                    MessageView {
                        objectName: "cantStart"
                        anchors.fill: parent
                        visible: window.app.search.content === SearchModel.CantStart
                        icon: "warning"
                        title: qsTr("Quillmere can't start")
                        description: window.app.startupError
                    }
                    ReadyView {
                        objectName: "readyView"
                        anchors.fill: parent
                        visible: window.app.search.content === SearchModel.Ready
                        app: window.app
                    }
                    ResultsGrid {
                        id: grid
                        objectName: "resultsGrid"
                        anchors.fill: parent
                        visible: window.app.search.content === SearchModel.Results
                        app: window.app
                        onPeekToggled: window.togglePeek()
                        onOpenRequested: frameId => window.openResult(frameId)
                        onMenuRequested: (frameId, tile, x, y) => {
                            resultMenu.frameId = frameId
                            resultMenu.isVideo = tile.isVideo
                            resultMenu.openTime = window.app.search.openTimecode(frameId, true)
                            resultMenu.online = tile.offlineNote === ""
                            resultMenu.popup(tile, x, y)
                        }
                    }
                    MessageView {
                        objectName: "gettingReady"
                        anchors.fill: parent
                        visible: window.app.search.content === SearchModel.GettingReady
                        icon: "hourglass"
                        title: qsTr("Getting your library ready")
                        description: qsTr("Results appear here as soon as the first files are indexed.")
                    }
                    MessageView {
                        objectName: "nothingMatches"
                        anchors.fill: parent
                        visible: window.app.search.content === SearchModel.NothingMatches
                        icon: "magnifier"
                        title: qsTr("Nothing matches “%1”").arg(window.app.search.searchedQuery)
                        description: qsTr("Try other words, or describe what is in the picture rather than its name.")
                    }
                }
            }

            NoticeBar {
                id: notice
                app: window.app
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 16
            }
        }

        Loader {
            id: preview
            visible: window.showInspector
            Component.onCompleted: window.load(this, "PreviewPane.qml")
            onLoaded: item.covered = Qt.binding(() => window.peeking)
            SplitView.minimumWidth: 260
            SplitView.preferredWidth: 320
            SplitView.maximumWidth: 460
        }
    }

    // An older library is brought up to date before the folders and the search can show.
    Rectangle {
        objectName: "updatingLibrary"
        anchors.fill: parent
        visible: window.app.upgrading
        color: palette.window

        // Nothing beneath takes a click or a wheel meanwhile.
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.AllButtons
            hoverEnabled: true
            onWheel: wheel => wheel.accepted = true
        }
        ColumnLayout {
            anchors.centerIn: parent
            width: Math.min(parent.width - 60, 440)
            spacing: 10
            Symbol {
                Layout.alignment: Qt.AlignHCenter
                name: "hourglass"
                size: 40
                color: palette.placeholderText
            }
            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: qsTr("Updating the library…")
                textFormat: Text.PlainText
                font.pixelSize: 20
                font.weight: Font.DemiBold
            }
            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: qsTr("This version of Quillmere stores the library in a new way. It is updated once; a large library can take a few minutes.")
                textFormat: Text.PlainText
                color: palette.placeholderText
                font.pixelSize: 14
            }
            ProgressBar {
                Layout.fillWidth: true
                Layout.topMargin: 8
                from: 0
                to: 1
                indeterminate: window.app.upgradeProgress < 0
                value: Math.max(0, window.app.upgradeProgress)
            }
            Label {
                Layout.alignment: Qt.AlignHCenter
                visible: window.app.upgradeProgress >= 0
                text: qsTr("%1% done").arg(Math.floor(window.app.upgradeProgress * 100))
                color: palette.placeholderText
            }
        }
    }

    ResultMenu {
        id: resultMenu
        app: window.app
        onOpenRequested: frameId => window.openResult(frameId)
        onRegionRequested: frameId => window.chooseRegion(frameId)
    }

    // The keyboard starts in the search field, and goes there once the first folder is added.
    onFirstRunChanged: if (!firstRun) header.focusSearch()
    Component.onCompleted: {
        if (!firstRun)
            header.focusSearch()
        const made = Qt.createComponent("Peek.qml")
        if (made.status === Component.Ready) {
            peek = made.createObject(window, { app: window.app })
            peek.columns = Qt.binding(() => grid.columns)
        } else {
            console.warn(made.errorString())
        }
    }

    // Folders and photos dropped anywhere on the window, as a copy or a link, never a move.
    // Beneath the views, so that a drop zone of theirs (the first run's) takes its drags.
    DropArea {
        id: drop
        z: -1
        anchors.fill: parent
        keys: ["text/uri-list"]
        onEntered: drag => {
            drag.accepted = drag.hasUrls
            if (drag.hasUrls)
                drag.action = (drag.supportedActions & Qt.CopyAction) ? Qt.CopyAction : Qt.LinkAction
        }
        onDropped: drop => {
            drop.action = (drop.supportedActions & Qt.CopyAction) ? Qt.CopyAction : Qt.LinkAction
            drop.accept()
            window.dropped(drop.urls)
        }
    }
    Rectangle {
        anchors.fill: parent
        anchors.margins: 4
        visible: window.dropTargeted
        radius: 12
        color: "transparent"
        border.width: 3
        border.color: palette.highlight
    }

    Connections {
        target: AppCommands
        function onOpenSelected() {
            if (window.hasSelection)
                window.openResult(window.app.search.selection)
        }
        function onTogglePeek() { window.togglePeek() }
        function onSearchRegion() {
            if (window.hasSelection)
                window.chooseRegion(window.app.search.selection)
        }
        function onFocusSearch() { header.focusSearch() }
        function onFocusResults() { window.focusResults() }
        function onShowDuplicates() { window.showDuplicates() }
        function onShowSettings() { window.showSettings() }
        function onShowModelSettings() {
            window.showSettings()
            window.settingsWindow.currentTab = 2
        }
    }
    Connections {
        target: window.app.search
        function onOpenRequested(frameId) { window.openResult(frameId) }
    }

    // The library holds another model's frames: nothing is dropped until the user agrees.
    Dialog {
        anchors.centerIn: parent
        modal: true
        closePolicy: Popup.NoAutoClose
        visible: window.app.modelChange !== ""
        title: qsTr("Index every file again?")
        Label {
            width: 420
            text: window.app.modelChange
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
        }
        footer: DialogButtonBox {
            Button {
                text: qsTr("Index Again")
                DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            }
            Button {
                text: qsTr("Quit")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
        onAccepted: window.app.indexAgain()
        onRejected: Qt.quit()
    }
}
