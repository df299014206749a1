// SPDX-License-Identifier: GPL-3.0-or-later
// One bordered button per item, wrapped in centred rows; choosing one reports its text.
import QtQuick
import QtQuick.Controls

FlowLayout {
    id: root
    property var items: []
    signal chosen(string item)

    spacing: 8

    Repeater {
        model: root.items
        delegate: Button {
            required property string modelData
            text: modelData
            font.pixelSize: 14
            padding: 10
            topPadding: 7
            bottomPadding: 7
            flat: false
            onClicked: root.chosen(modelData)
            contentItem: Text {
                text: parent.text
                textFormat: Text.PlainText
                font: parent.font
                color: parent.palette.buttonText
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: 8
                color: parent.down ? Qt.darker(parent.palette.button, 1.1) : parent.palette.button
                border.color: Qt.rgba(parent.palette.windowText.r, parent.palette.windowText.g,
                                      parent.palette.windowText.b, 0.2)
                border.width: 1
            }
        }
    }
}
