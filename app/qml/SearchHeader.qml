// SPDX-License-Identifier: GPL-3.0-or-later
// The search header: the search field (or the chip of the picture searched by), the kind
// filter and the moments line.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

Pane {
    id: root
    required property AppModel app
    readonly property bool focused: field.activeFocus
    readonly property alias field: field

    // Return in the field: opens the selected result (once a search still running lands).
    signal openSelected()
    // The keyboard moves on to the results.
    signal focusResults()

    function focusSearch() { field.forceActiveFocus() }
    function momentsLine(count, milliseconds) { return Format.moments(count, milliseconds) }

    leftPadding: 18
    rightPadding: 18
    topPadding: 12
    bottomPadding: 10
    background: Item {}

    ColumnLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 10

            Symbol {
                name: "search"
                size: 18
                color: root.palette.placeholderText
            }

            // The picture searched by.
            Rectangle {
                objectName: "imageQueryChip"
                visible: root.app.search.imageQueryName !== ""
                Layout.maximumWidth: root.availableWidth - 40
                implicitWidth: chipRow.implicitWidth + 20
                implicitHeight: chipRow.implicitHeight + 10
                radius: height / 2
                color: Qt.rgba(root.palette.highlight.r, root.palette.highlight.g,
                               root.palette.highlight.b, 0.15)
                RowLayout {
                    id: chipRow
                    anchors.fill: parent
                    anchors.leftMargin: 10
                    anchors.rightMargin: 6
                    spacing: 6
                    Symbol {
                        visible: !thumbnail.visible
                        name: "photo"
                        color: root.palette.windowText
                    }
                    // A region shows the part cut out.
                    Image {
                        id: thumbnail
                        objectName: "imageQueryThumbnail"
                        visible: root.app.search.imageQueryThumbnail !== ""
                        source: root.app.search.imageQueryThumbnail
                        Layout.preferredHeight: 24
                        Layout.preferredWidth: implicitHeight > 0
                            ? Math.min(48, 24 * implicitWidth / implicitHeight) : 24
                        fillMode: Image.PreserveAspectCrop
                        Accessible.ignored: true
                    }
                    Label {
                        Layout.fillWidth: true
                        text: qsTr("Like %1").arg(root.app.search.imageQueryName)
                        textFormat: Text.PlainText
                        elide: Text.ElideMiddle
                        font.pixelSize: 15
                    }
                    ToolButton {
                        objectName: "clearImageQuery"
                        implicitWidth: 22
                        implicitHeight: 22
                        padding: 3
                        contentItem: Item {
                            Symbol { anchors.fill: parent; name: "clear"; color: root.palette.placeholderText }
                            Symbol { anchors.fill: parent; name: "clearMark"; color: root.palette.window }
                        }
                        // The button shows a symbol only: a screen reader says this instead.
                        Accessible.name: qsTr("Clear the image query")
                        ToolTip.text: qsTr("Clear")
                        ToolTip.visible: hovered
                        onClicked: root.app.search.clearImageQuery()
                    }
                }
            }

            TextField {
                id: field
                objectName: "searchField"
                visible: root.app.search.imageQueryName === ""
                Layout.fillWidth: true
                font.pixelSize: 20
                placeholderText: qsTr("Describe a moment… “red car at night”")
                Accessible.name: qsTr("Search")
                Accessible.description: placeholderText
                text: root.app.search.query
                focus: true
                background: Item {}
                leftPadding: 0
                onTextEdited: root.app.search.query = text
                Keys.onReturnPressed: root.returnPressed()
                Keys.onEnterPressed: root.returnPressed()
                Keys.onDownPressed: root.focusResults()
                Keys.onEscapePressed: event => {
                    event.accepted = root.app.search.query !== ""
                    root.app.search.query = ""
                }
            }

            ToolButton {
                objectName: "clearSearch"
                visible: root.app.search.query !== "" && root.app.search.imageQueryName === ""
                implicitWidth: 26
                implicitHeight: 26
                padding: 4
                contentItem: Item {
                    Symbol { anchors.fill: parent; name: "clear"; color: root.palette.placeholderText }
                    Symbol { anchors.fill: parent; name: "clearMark"; color: root.palette.window }
                }
                Accessible.name: qsTr("Clear the search")
                ToolTip.text: qsTr("Clear the search")
                ToolTip.visible: hovered
                onClicked: root.app.search.query = ""
            }
        }

        RowLayout {
            spacing: 14

            // "Show": All, Photos, Videos.
            TabBar {
                id: kinds
                objectName: "kindFilter"
                currentIndex: root.app.search.kindFilter
                onCurrentIndexChanged: root.app.search.kindFilter = currentIndex
                Repeater {
                    model: root.app.search.kindFilterNames
                    TabButton {
                        required property string modelData
                        text: modelData
                        width: implicitWidth
                        padding: 6
                        leftPadding: 14
                        rightPadding: 14
                    }
                }
            }

            Label {
                objectName: "momentsLine"
                visible: root.app.search.results.count > 0
                text: root.momentsLine(root.app.search.results.count, root.app.search.lastSearchMS)
                textFormat: Text.PlainText
                font.pixelSize: 12
                font.family: "monospace"
                color: root.palette.placeholderText
            }
        }
    }

    function returnPressed() {
        root.openSelected()
        root.focusResults()
    }
}
