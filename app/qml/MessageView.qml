// SPDX-License-Identifier: GPL-3.0-or-later
// A centred message of the content area: a symbol, a title and a description.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: root
    property string icon
    property string title
    property string description

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 60, 520)
        spacing: 10
        Symbol {
            Layout.alignment: Qt.AlignHCenter
            name: root.icon
            size: 40
            color: root.palette.placeholderText
        }
        Label {
            objectName: "messageTitle"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: root.title
            textFormat: Text.PlainText
            font.pixelSize: 20
            font.weight: Font.DemiBold
        }
        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: root.description
            textFormat: Text.PlainText
            color: root.palette.placeholderText
            font.pixelSize: 14
        }
    }
}
