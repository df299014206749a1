// SPDX-License-Identifier: GPL-3.0-or-later
// The settings window: the folders Quillmere indexes, what it keeps about them (and erasing
// it), the search model in use, and reading the text in pictures.
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Quillmere

ApplicationWindow {
    id: window

    property AppModel app
    // The tab shown: 0 Folders, 1 Privacy, 2 Model, 3 Text.
    property alias currentTab: tabs.currentIndex
    // The erase confirmation, for the snapshots.
    readonly property Dialog confirmation: confirm
    // The folder chosen in the Folders tab, by its root id: rows move as folders come and go.
    property var selectedRoot: null

    width: 540
    height: 420
    minimumWidth: 540
    minimumHeight: 420
    maximumWidth: 540
    maximumHeight: 420
    title: qsTr("Settings")

    onVisibleChanged: {
        if (!visible)
            return
        settings.refresh()
        if (app)
            app.downloads.measureSpeed()
    }

    LibrarySettings {
        id: settings
        search: window.app.search
        folders: window.app.folders
        indexing: window.app.indexing
        actions: window.app.actions
        libraryPath: window.app.libraryPath
        onNoticed: text => window.app.notice = text
    }

    SystemPalette {
        id: palette
    }

    header: TabBar {
        id: tabs
        TabButton {
            text: qsTr("Folders")
        }
        TabButton {
            text: qsTr("Privacy")
            onClicked: settings.refresh()
        }
        TabButton {
            text: qsTr("Model")
        }
        TabButton {
            //: The settings tab about reading the text in pictures
            text: qsTr("Text")
        }
    }

    StackLayout {
        anchors.fill: parent
        anchors.margins: 16
        currentIndex: tabs.currentIndex

        // Folders
        ColumnLayout {
            spacing: 8

            Frame {
                Layout.fillWidth: true
                Layout.fillHeight: true
                padding: 1

                ListView {
                    id: folders
                    objectName: "settingsFolders"
                    anchors.fill: parent
                    clip: true
                    currentIndex: -1
                    activeFocusOnTab: true
                    keyNavigationEnabled: false
                    model: window.app ? window.app.folders.list : null
                    ScrollBar.vertical: ScrollBar {}
                    Accessible.role: Accessible.List
                    Accessible.name: qsTr("Folders")

                    function select(rowIndex) {
                        if (rowIndex < 0 || rowIndex >= count)
                            return
                        currentIndex = rowIndex
                        window.selectedRoot = currentItem.rootId
                    }
                    // The list gets the keys from Tab with its first folder chosen.
                    onActiveFocusChanged: if (activeFocus && window.selectedRoot === null) select(0)
                    Keys.onUpPressed: select(Math.max(0, currentIndex - 1))
                    Keys.onDownPressed: select(currentIndex + 1)
                    Keys.onDeletePressed: remove.clicked()

                    // The rows come anew after a folder is added or removed; the choice stays
                    // on its folder, or goes with it.
                    Connections {
                        target: folders.model
                        function onModelReset() {
                            const at = window.selectedRoot === null ? -1
                                                                    : folders.model.rowOf(window.selectedRoot)
                            if (at < 0)
                                window.selectedRoot = null
                            folders.currentIndex = at
                        }
                    }

                    delegate: ItemDelegate {
                        id: row
                        required property int index
                        required property var rootId
                        required property string name
                        required property string path
                        required property bool online
                        required property bool external
                        required property var files
                        required property var indexed
                        required property string volumeName

                        width: folders.width
                        highlighted: rootId === window.selectedRoot
                        focusPolicy: Qt.NoFocus
                        Accessible.role: Accessible.ListItem
                        // The name goes in last, so that a "%1" in it stays as written.
                        //: %2 is the folder's name, %1 its count or state
                        Accessible.name: qsTr("%2, %1").arg(label.subtitle).arg(name)
                        Accessible.description: path
                        Accessible.selected: highlighted
                        background: Rectangle {
                            color: row.highlighted ? row.palette.highlight
                                                   : row.index % 2 ? row.palette.alternateBase : row.palette.base
                            border.width: row.highlighted && folders.activeFocus ? 1 : 0
                            border.color: row.palette.highlightedText
                        }
                        contentItem: FolderLabel {
                            id: label
                            app: window.app
                            name: row.name
                            online: row.online
                            external: row.external
                            files: row.files
                            indexed: row.indexed
                            volumeName: row.volumeName
                            detail: row.path
                            accent: row.palette.highlight
                            muted: row.palette.placeholderText
                            highlighted: row.highlighted
                            textColor: row.highlighted ? row.palette.highlightedText : row.palette.text
                        }
                        onClicked: {
                            folders.forceActiveFocus()
                            folders.select(row.index)
                        }
                    }
                }
            }

            RowLayout {
                spacing: 6

                Button {
                    text: "+"
                    implicitWidth: 32
                    Accessible.name: qsTr("Add Folder")
                    ToolTip.visible: hovered
                    ToolTip.text: qsTr("Add a folder")
                    onClicked: chooser.open()
                }
                Button {
                    id: remove
                    objectName: "removeFolder"
                    text: "−"
                    implicitWidth: 32
                    enabled: window.selectedRoot !== null
                    Accessible.name: qsTr("Remove Folder")
                    ToolTip.visible: hovered
                    ToolTip.text: qsTr("Remove the folder from Quillmere (its files stay where they are)")
                    onClicked: {
                        if (window.selectedRoot !== null)
                            window.app.folders.removeFolder(window.selectedRoot)
                    }
                }
                Label {
                    Layout.fillWidth: true
                    Layout.leftMargin: 6
                    text: qsTr("New and changed files are indexed by themselves.")
                    color: palette.placeholderText
                    elide: Text.ElideRight
                }
            }
        }

        // Privacy
        ColumnLayout {
            spacing: 12

            Label {
                Layout.fillWidth: true
                text: qsTr("Everything is analysed on this computer. Nothing is uploaded.")
                font.bold: true
                wrapMode: Text.Wrap
            }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Quillmere looks at your photos and videos with a model that runs on this computer. It keeps what it learned — and a small picture of each moment — in its own library on this computer. It sends nothing anywhere: no account, no analytics, no crash reports.")
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 10

                Label {
                    objectName: "libraryLine"
                    text: qsTr("Library: %1").arg(Qt.locale().formattedDataSize(settings.libraryBytes, 1,
                                                                             Locale.DataSizeSIFormat))
                    font.family: "monospace"
                }
                Button {
                    text: qsTr("Show in Folder")
                    onClicked: settings.showLibrary()
                }
            }
            Button {
                text: qsTr("Erase Library…")
                enabled: window.app !== null && window.app.folders.list.count > 0
                onClicked: confirm.open()
            }
            Item {
                Layout.fillHeight: true
            }
        }

        // Model
        ColumnLayout {
            spacing: 10

            Label {
                Layout.fillWidth: true
                text: settings.modelName
                font.bold: true
                font.pointSize: Qt.application.font.pointSize * 1.2
                elide: Text.ElideRight
            }
            Label {
                Layout.fillWidth: true
                text: settings.modelUnderstands
                wrapMode: Text.Wrap
            }
            // What "Show only likely matches" keeps; the demo model's probabilities mean little.
            RowLayout {
                visible: window.app !== null && window.app.search.likelyAvailable
                spacing: 6
                Label { text: qsTr("Likely matches are at least") }
                SpinBox {
                    objectName: "likelyThreshold"
                    from: 1
                    to: 99
                    editable: true
                    value: window.app ? Math.round(window.app.search.likelyThreshold * 100) : 10
                    onValueModified: window.app.search.likelyThreshold = value / 100
                    Accessible.name: qsTr("Least likelihood of a likely match, in percent")
                }
                Label { text: qsTr("% likely to match.") }
            }
            Frame {
                Layout.fillWidth: true
                visible: importedList.count > 0
                padding: 4

                ListView {
                    id: importedList
                    anchors.fill: parent
                    implicitHeight: Math.min(count, 3) * 34
                    clip: true
                    model: settings.importedModels
                    delegate: RowLayout {
                        width: ListView.view.width
                        height: 34
                        Label {
                            Layout.fillWidth: true
                            leftPadding: 6
                            text: modelData
                            elide: Text.ElideMiddle
                        }
                        Label {
                            visible: modelData === settings.chosenModel
                            rightPadding: 6
                            text: qsTr("Chosen")
                            color: palette.placeholderText
                        }
                        Button {
                            visible: modelData !== settings.chosenModel
                            text: qsTr("Use")
                            onClicked: useConfirm.ask(modelData)
                        }
                    }
                }
            }
            RowLayout {
                spacing: 8
                Button {
                    text: qsTr("Use a Model Folder…")
                    enabled: !settings.importing
                    onClicked: modelFolder.open()
                }
                BusyIndicator {
                    visible: settings.importing
                    running: settings.importing
                    Layout.preferredHeight: 24
                    Layout.preferredWidth: 24
                }
                Label {
                    visible: settings.importing
                    text: qsTr("Importing and checking the model…")
                }
            }
            Label {
                Layout.fillWidth: true
                visible: settings.importError !== ""
                text: settings.importError
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                color: "#c5221f"
            }
            Label {
                Layout.fillWidth: true
                visible: settings.importNotes !== ""
                text: qsTr("Imported with these differences from the export:\n%1").arg(settings.importNotes)
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
            }
            Label {
                Layout.fillWidth: true
                text: settings.modelHelp
                wrapMode: Text.Wrap
                color: palette.placeholderText
            }
            Label {
                text: qsTr("Download a Model")
                font.bold: true
            }
            Frame {
                Layout.fillWidth: true
                Layout.fillHeight: true
                padding: 4

                ListView {
                    id: downloadList
                    objectName: "downloadList"
                    anchors.fill: parent
                    clip: true
                    model: window.app ? window.app.downloads : null
                    // Always drawn: the list is taller than its frame.
                    ScrollBar.vertical: ScrollBar {
                        policy: ScrollBar.AlwaysOn
                    }
                    delegate: RowLayout {
                        id: row
                        required property string modelId
                        required property string name
                        required property string folder
                        required property string details
                        required property int state
                        required property real progress
                        required property string error
                        required property string estimate
                        required property string partial
                        readonly property bool chosen: state === ModelDownloads.Downloaded
                                                       && folder === settings.chosenModel

                        width: ListView.view.width - 12
                        height: row.partial !== "" ? 96 : 66
                        spacing: 8
                        ColumnLayout {
                            Layout.fillWidth: true
                            Layout.leftMargin: 6
                            spacing: 2
                            Label {
                                Layout.fillWidth: true
                                text: row.name
                                font.bold: true
                                elide: Text.ElideRight
                            }
                            Label {
                                Layout.fillWidth: true
                                visible: row.state !== ModelDownloads.Downloading
                                text: row.error !== "" ? row.error : row.details
                                textFormat: Text.PlainText
                                elide: Text.ElideRight
                                color: row.error !== "" ? "#c5221f" : palette.placeholderText
                            }
                            ProgressBar {
                                Layout.fillWidth: true
                                visible: row.state === ModelDownloads.Downloading
                                value: row.progress
                            }
                            Label {
                                Layout.fillWidth: true
                                text: row.estimate
                                elide: Text.ElideRight
                                color: palette.placeholderText
                            }
                            RowLayout {
                                visible: row.partial !== ""
                                spacing: 8
                                Label {
                                    text: row.partial
                                    color: palette.placeholderText
                                }
                                Button {
                                    text: qsTr("Remove Partial Download")
                                    flat: true
                                    onClicked: window.app.downloads.discard(row.modelId)
                                }
                            }
                        }
                        Label {
                            visible: row.chosen
                            rightPadding: 6
                            text: qsTr("Chosen")
                            color: palette.placeholderText
                        }
                        Button {
                            visible: !row.chosen
                            Layout.rightMargin: 4
                            text: row.state === ModelDownloads.Downloading ? qsTr("Cancel")
                                  : row.state === ModelDownloads.Downloaded ? qsTr("Use")
                                  : qsTr("Download")
                            onClicked: {
                                if (row.state === ModelDownloads.Downloading)
                                    window.app.downloads.cancel()
                                else if (row.state === ModelDownloads.Downloaded)
                                    useConfirm.ask(row.folder)
                                else
                                    window.app.downloads.download(row.modelId)
                            }
                        }
                    }
                }
            }
        }
        // Text
        ColumnLayout {
            spacing: 10

            Switch {
                id: readsText
                objectName: "readsText"
                Layout.fillWidth: true
                text: qsTr("Read text in pictures")
                checked: window.app !== null && window.app.indexing.readsText
                onToggled: window.app.indexing.readsText = checked
                Accessible.name: text
                Accessible.description: explanation.text
            }
            Label {
                id: explanation
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: qsTr("Quillmere reads the words in photos and video moments, so that typing them finds the picture. Switched off, it reads no more, and keeps what it has read.")
            }
            Label {
                objectName: "textLanguages"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                color: palette.placeholderText
                text: qsTr("Reads English and Chinese, and a few accented letters (é, è, ä, ü); not ö, ñ, ç, ß, ø, å, € or £.")
            }
            Label {
                objectName: "textNote"
                Layout.fillWidth: true
                visible: text !== ""
                text: window.app ? window.app.indexing.textNote : ""
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                // A lighter red on a dark window, to stay readable.
                color: palette.window.hslLightness < 0.5 ? "#ff8a80" : "#c5221f"
            }
            Item {
                Layout.fillHeight: true
            }
        }
    }

    FolderDialog {
        id: modelFolder
        title: qsTr("Choose a Model Folder")
        onAccepted: settings.importModel(selectedFolder)
    }

    Connections {
        target: settings
        function onImported(name) {
            useConfirm.ask(name)
        }
    }
    // A download that ends while the window is open asks at once, as an import does.
    Connections {
        target: window.app ? window.app.downloads : null
        function onDownloaded(folder) {
            settings.importedModelsChanged()
            if (window.visible)
                useConfirm.ask(folder)
        }
    }

    // Switching models drops every stored vector, so it is asked for.
    PlainDialog {
        id: useConfirm

        property string name

        function ask(model) {
            name = model
            open()
        }

        anchors.centerIn: parent
        width: 420
        modal: true
        title: qsTr("Use “%1”?").arg(name)

        Label {
            width: parent.width
            wrapMode: Text.Wrap
            text: qsTr("Quillmere uses it from the next time you open it, and then indexes every photo and video again, which takes a while. Your photos and videos are not touched.")
        }

        footer: DialogButtonBox {
            Button {
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
            Button {
                text: qsTr("Use Model")
                DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
                onClicked: {
                    settings.useModel(useConfirm.name)
                    if (window.app)
                        window.app.downloads.refresh()
                    useConfirm.close()
                }
            }
        }
    }

    Dialog {
        id: confirm
        anchors.centerIn: parent
        width: 420
        modal: true
        title: qsTr("Erase what Quillmere learned?")

        Label {
            width: parent.width
            wrapMode: Text.Wrap
            text: qsTr("Your photos and videos are not touched. Quillmere forgets its folders; add them again to index them again.")
        }

        footer: DialogButtonBox {
            Button {
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
            Button {
                text: qsTr("Erase and Index Again")
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                palette.buttonText: "#c5221f"
                onClicked: {
                    settings.erase()
                    confirm.close()
                }
            }
        }
    }

    AddFolderDialog {
        id: chooser
        app: window.app
    }
}
