// SPDX-License-Identifier: GPL-3.0-or-later
// The preview column: the selected result's picture or inline player, its name and time,
// the actions on it, the text read in it, and a few facts about the file.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

Item {
    id: root
    required property AppModel app
    // The peek shows over the window: the inline player pauses.
    property bool covered: false
    readonly property PreviewFacts facts: PreviewFacts {
        search: root.app.search
        folders: root.app.folders
        frameId: root.app.search.selection
    }

    // Asked of the window when the model gives no action service of its own.
    signal openRequested(var frameId)
    signal showInFolderRequested(var frameId)

    function open() {
        if (root.app.actions)
            root.app.actions.open(facts.shownFrameId)
        else
            openRequested(facts.shownFrameId)
    }
    function showInFolder() {
        if (root.app.actions)
            root.app.actions.showInFolder(facts.shownFrameId)
        else
            showInFolderRequested(facts.shownFrameId)
    }

    // A frame to choose a region of as soon as the preview shows it (the result menu asks).
    property var regionFrameId: null
    function chooseRegion(frameId) {
        regionFrameId = frameId
        startWantedRegion()
    }
    function startWantedRegion() {
        if (media.item && regionFrameId !== null
                && root.facts.shownFrameId === Number(regionFrameId)) {
            regionFrameId = null
            media.item.startRegion()
        }
    }

    implicitWidth: 300

    Column {
        objectName: "noSelection"
        anchors.centerIn: parent
        width: parent.width - 32
        spacing: 8
        visible: !root.facts.valid
        Symbol {
            anchors.horizontalCenter: parent.horizontalCenter
            name: "photo"
            size: 40
            color: palette.placeholderText
        }
        Label {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: qsTr("No Selection")
            font.pixelSize: 17
            font.bold: true
        }
        Label {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: qsTr("Select a result to see it here.")
            color: palette.placeholderText
        }
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        visible: root.facts.valid
        contentWidth: availableWidth

        ColumnLayout {
            width: scroll.availableWidth - 32
            x: 16
            y: 16
            spacing: 14

            Loader {
                id: media
                objectName: "previewMedia"
                Layout.fillWidth: true
                Layout.preferredHeight: item ? item.implicitHeight : 0
                // A new frame gets a new view, so no player or picture carries over.
                property var shown: root.facts.shownFrameId
                onShownChanged: { active = false; active = root.facts.valid }
                active: root.facts.valid
                onLoaded: root.startWantedRegion()
                sourceComponent: PreviewMedia {
                    app: root.app
                    facts: root.facts
                    covered: root.covered
                }
            }

            TextEdit {
                objectName: "previewName"
                Layout.fillWidth: true
                Layout.maximumHeight: 2 * font.pixelSize * 1.4
                clip: true
                text: root.facts.name
                textFormat: TextEdit.PlainText
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.Wrap
                font.pixelSize: 15
                font.bold: true
                color: palette.text
                selectionColor: palette.highlight
                selectedTextColor: palette.highlightedText
            }

            RowLayout {
                visible: root.facts.isVideo
                spacing: 6
                Label {
                    objectName: "previewTime"
                    text: root.facts.openTimecode
                    font.pixelSize: 20
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                }
                Label {
                    objectName: "exactFrame"
                    visible: root.facts.exact
                    text: qsTr("exact frame")
                    color: palette.placeholderText
                    font.pixelSize: 11
                }
                Label {
                    text: qsTr("of %1").arg(root.facts.durationTimecode)
                    color: palette.placeholderText
                    font.family: "monospace"
                }
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 8
                Button {
                    objectName: "openButton"
                    Layout.fillWidth: true
                    highlighted: true
                    icon.name: "document-open"
                    text: root.facts.isVideo ? qsTr("Open at %1").arg(root.facts.openTimecode) : qsTr("Open")
                    ToolTip.visible: hovered
                    ToolTip.text: qsTr("Return")
                    onClicked: root.open()
                }
                Flow {
                    id: secondary
                    Layout.fillWidth: true
                    spacing: 8
                    // Side by side when both fit, else one per row at full width.
                    readonly property bool stacked:
                        showButton.implicitWidth + moreButton.implicitWidth + spacing > width
                    Button {
                        id: showButton
                        objectName: "showButton"
                        width: secondary.stacked ? secondary.width : implicitWidth
                        icon.name: "folder"
                        text: qsTr("Show in Folder")
                        enabled: root.facts.online
                        onClicked: root.showInFolder()
                    }
                    Button {
                        id: moreButton
                        objectName: "moreButton"
                        width: secondary.stacked ? secondary.width : implicitWidth
                        icon.name: "edit-find"
                        text: qsTr("More Like This")
                        onClicked: root.app.search.moreLikeThis(root.facts.shownFrameId)
                    }
                    Button {
                        objectName: "regionButton"
                        width: secondary.stacked ? secondary.width : implicitWidth
                        icon.name: "zoom-select"
                        text: qsTr("Search a Region")
                        enabled: root.facts.online && media.item !== null
                                 && !media.item.drawingRegion
                        Accessible.description: qsTr("Choose a part of the picture to search by")
                        onClicked: media.item.startRegion()
                    }
                }
            }

            RowLayout {
                objectName: "offlineNote"
                Layout.fillWidth: true
                visible: root.facts.offlineNote !== ""
                spacing: 6
                Symbol {
                    Layout.alignment: Qt.AlignTop
                    name: "driveOffline"
                    size: 14
                    color: palette.placeholderText
                }
                Label {
                    Layout.fillWidth: true
                    text: root.facts.offlineNote
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    color: palette.placeholderText
                    font.pixelSize: 12
                }
            }

            // What was read in the picture, to select and copy.
            ColumnLayout {
                objectName: "readText"
                Layout.fillWidth: true
                // Read again with each answer: the text may have been read since.
                readonly property string text: {
                    void root.app.search.answerCount
                    return root.app.search.readText(root.facts.shownFrameId)
                }
                visible: text !== ""
                spacing: 4
                Label {
                    text: qsTr("Text in the Picture")
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    color: palette.placeholderText
                }
                TextEdit {
                    objectName: "readTextLines"
                    Layout.fillWidth: true
                    text: parent.text
                    textFormat: TextEdit.PlainText
                    readOnly: true
                    selectByMouse: true
                    selectByKeyboard: true
                    activeFocusOnPress: true
                    wrapMode: TextEdit.Wrap
                    font.pixelSize: 13
                    color: palette.text
                    selectionColor: palette.highlight
                    selectedTextColor: palette.highlightedText
                    Accessible.role: Accessible.EditableText
                    Accessible.name: qsTr("Text read in the picture")
                    Accessible.readOnly: true
                }
            }

            Rule {
                Layout.fillWidth: true
            }

            FactsGrid {
                Layout.fillWidth: true
                facts: root.facts
            }

            Item { implicitHeight: 16 }
        }
    }
}
