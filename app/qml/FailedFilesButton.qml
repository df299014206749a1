// SPDX-License-Identifier: GPL-3.0-or-later
// "N files couldn't be read": opens the list of the library's failed files, with "Try Again".
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Quillmere

AbstractButton {
    id: button
    required property AppModel app
    property int count: 0
    property bool shown: popup.opened

    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight
    text: qsTr("%Ln file(s) couldn't be read", "", count)
    Accessible.role: Accessible.Link
    onClicked: popup.open()

    contentItem: RowLayout {
        id: content
        spacing: 4
        IconImage {
            Layout.preferredWidth: 12
            Layout.preferredHeight: 12
            sourceSize: Qt.size(12, 12)
            source: "icons/sidebar-warning.svg"
            color: label.color
        }
        Label {
            id: label
            objectName: "failedLabel"
            text: button.text
            font.pointSize: Qt.application.font.pointSize * 0.85
            font.underline: button.hovered || button.visualFocus
            // The selection colour reads on light and dark palettes alike; not every
            // palette sets a link colour for dark backgrounds.
            color: button.palette.highlight
        }
    }

    Popup {
        id: popup
        objectName: "failedPopup"
        y: -height - 6
        width: 380
        height: Math.min(420, column.implicitHeight + topPadding + bottomPadding)
        padding: 12
        // Escape closes it, and Tab reaches "Try Again".
        focus: true
        onAboutToShow: list.model = button.app.indexing.failedFiles()

        ColumnLayout {
            id: column
            anchors.fill: parent
            spacing: 8
            Label {
                text: qsTr("Files Quillmere couldn't read")
                font.bold: true
            }
            Label {
                Layout.fillWidth: true
                text: qsTr("Usually a damaged file, a format this computer can't open, or a video that is copy-protected.")
                wrapMode: Text.Wrap
                opacity: 0.7
            }
            ListView {
                id: list
                objectName: "failedList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredHeight: contentHeight
                clip: true
                spacing: 8
                delegate: ColumnLayout {
                    required property var modelData
                    width: ListView.view.width
                    spacing: 0
                    Label {
                        objectName: "failedPath"
                        Layout.fillWidth: true
                        text: modelData.relPath
                        textFormat: Text.PlainText
                        elide: Text.ElideMiddle
                    }
                    Label {
                        objectName: "failedError"
                        Layout.fillWidth: true
                        visible: text !== ""
                        text: modelData.error
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                        font.pointSize: Qt.application.font.pointSize * 0.85
                        opacity: 0.7
                    }
                }
                ScrollBar.vertical: ScrollBar {}
            }
            RowLayout {
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "tryAgain"
                    text: qsTr("Try Again")
                    highlighted: true
                    onClicked: {
                        button.app.indexing.retryFailed()
                        popup.close()
                    }
                }
            }
        }
    }
}
