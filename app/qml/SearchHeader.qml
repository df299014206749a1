// SPDX-License-Identifier: GPL-3.0-or-later
// The search header: the search field with the chip of the picture searched by, the kind,
// date and likelihood filters, the order and the moments line.
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

    leftPadding: 18
    rightPadding: 18
    topPadding: 12
    bottomPadding: 10
    background: Item {}

    ColumnLayout {
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 8

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
                Layout.fillWidth: true
                font.pixelSize: 20
                placeholderText: root.app.search.imageQueryName === ""
                                 ? qsTr("Describe a moment… “red car at night”")
                                 : qsTr("Add words… “at night”, “- people”")
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
                // As in a field of tokens: Backspace at its start takes the picture away.
                Keys.onPressed: event => {
                    if (event.key === Qt.Key_Backspace && cursorPosition === 0
                            && selectedText === "" && root.app.search.imageQueryName !== "") {
                        root.app.search.clearImageQuery()
                        event.accepted = true
                    }
                }
            }

            ToolButton {
                objectName: "clearSearch"
                visible: root.app.search.query !== ""
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
            Layout.fillWidth: true
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

            ComboBox {
                id: when
                objectName: "whenFilter"
                model: root.app.search.whenNames
                currentIndex: root.app.search.when
                displayText: root.app.search.when === SearchModel.Custom ? root.customText() : currentText
                implicitContentWidthPolicy: ComboBox.WidestTextWhenCompleted
                Accessible.name: qsTr("When taken")
                onActivated: index => {
                    if (index === SearchModel.Custom)
                        customRange.open()
                    else
                        root.app.search.when = index
                    currentIndex = Qt.binding(() => root.app.search.when)
                }
            }

            ComboBox {
                objectName: "orderFilter"
                model: root.app.search.orderNames
                currentIndex: root.app.search.order
                implicitContentWidthPolicy: ComboBox.WidestTextWhenCompleted
                Accessible.name: qsTr("Order")
                onActivated: index => {
                    root.app.search.order = index
                    currentIndex = Qt.binding(() => root.app.search.order)
                }
            }

            CheckBox {
                objectName: "likelyOnly"
                visible: root.app.search.likelyAvailable
                text: qsTr("Show only likely matches")
                checked: root.app.search.likelyOnly
                onToggled: root.app.search.likelyOnly = checked
                ToolTip.text: qsTr("Only moments at least %1% likely to match your words")
                                  .arg(Math.round(root.app.search.likelyThreshold * 100))
                ToolTip.visible: hovered
                ToolTip.delay: 600
            }

        }

        // A line of its own: what is applied can be long. Narrow windows cut its end, the
        // search's time, first.
        Label {
            objectName: "momentsLine"
            Layout.fillWidth: true
            // Kept in the layout without results, so that the header does not jump.
            text: root.app.search.results.count > 0 ? root.app.search.momentsLine : ""
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: 12
            color: root.palette.placeholderText
            HoverHandler { id: momentsHover }
            ToolTip.text: text
            ToolTip.visible: momentsHover.hovered && truncated
        }
    }

    CustomRangePopup {
        id: customRange
        search: root.app.search
        parent: when
        y: when.height + 4
    }

    function customText() {
        const from = root.app.search.customFrom
        const to = root.app.search.customTo
        if (from === "") return qsTr("Until %1").arg(to)
        if (to === "") return qsTr("From %1").arg(from)
        return qsTr("%1 – %2").arg(from).arg(to)
    }

    function returnPressed() {
        root.openSelected()
        root.focusResults()
    }
}
