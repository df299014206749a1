// SPDX-License-Identifier: GPL-3.0-or-later
// Shown before anything is searched: what the library holds, example queries to try, and
// the hint that a photo can be dropped.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

Item {
    id: root
    required property AppModel app
    readonly property var examples: app.exampleQueries
    readonly property string summary: Format.summary(app.folders.totalIndexed, app.folders.indexedPhotos,
                                                     app.folders.indexedVideoSeconds)

    Flickable {
        anchors.fill: parent
        contentHeight: Math.max(height, column.implicitHeight + 60)
        clip: true
        ColumnLayout {
            id: column
            anchors.centerIn: parent
            width: Math.min(parent.width - 60, 640)
            spacing: 18

            Symbol {
                Layout.alignment: Qt.AlignHCenter
                name: "sparkleSearch"
                size: 44
                color: root.palette.placeholderText
            }
            Label {
                objectName: "summary"
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: root.summary
                textFormat: Text.PlainText
                font.pixelSize: 20
                font.weight: Font.DemiBold
            }
            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: qsTr("Describe what you see in the picture. Try:")
                color: root.palette.placeholderText
                font.pixelSize: 14
            }
            FlowChips {
                objectName: "examples"
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: Math.min(560, column.width)
                proposedWidth: Math.min(560, column.width)
                items: root.examples
                onChosen: item => root.app.search.query = item
            }
            Label {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: qsTr("You can also drop a photo here to find pictures like it.")
                font.pixelSize: 13
            }
            ModelOffer {
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: 560
                Layout.topMargin: 12
                app: root.app
            }
        }
    }
}
