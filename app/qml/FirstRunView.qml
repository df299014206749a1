// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window shows while no folder has been added: what Quillmere does, and the
// one thing to do first: add a folder, by dropping it or choosing it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

Item {
    id: view
    objectName: "firstRunView"

    property AppModel app
    // A drag carrying a file is over the drop zone.
    property bool targeted: drop.containsDrag

    implicitWidth: 640
    implicitHeight: 560

    SystemPalette {
        id: palette
    }

    Component.onCompleted: choose.forceActiveFocus()

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 80, 640)
        spacing: 22

        Symbol {
            Layout.alignment: Qt.AlignHCenter
            name: "sparkleSearch"
            size: 64
            color: palette.placeholderText
        }
        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: qsTr("Find any moment in your photos and videos")
            font.pointSize: Qt.application.font.pointSize * 2
            font.weight: Font.DemiBold
        }
        Label {
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: 560
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            // Examples the model can answer: colours and light for the demo model.
            readonly property var examples: view.app && view.app.exampleQueries.length >= 2
                                            ? view.app.exampleQueries
                                            : [qsTr("red car at night"), qsTr("whiteboard with a diagram")]
            text: qsTr("Type what you remember — “%1”, “%2” — and jump to the exact second.")
                      .arg(examples[0]).arg(examples[1])
            font.pointSize: Qt.application.font.pointSize * 1.2
            color: palette.placeholderText
        }

        Item {
            objectName: "dropZone"
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: 440
            implicitHeight: 190

            Rectangle {
                anchors.fill: parent
                radius: 16
                color: view.targeted ? Qt.rgba(palette.highlight.r, palette.highlight.g,
                                               palette.highlight.b, 0.08)
                                     : Qt.rgba(palette.text.r, palette.text.g, palette.text.b,
                                               0.06)
            }

            Canvas {
                id: outline
                anchors.fill: parent
                property color stroke: view.targeted
                                       ? palette.highlight
                                       : Qt.rgba(palette.text.r, palette.text.g,
                                                 palette.text.b, 0.4)
                onStrokeChanged: requestPaint()
                onPaint: {
                    const context = getContext("2d")
                    context.reset()
                    context.lineWidth = 2
                    context.setLineDash([3.5, 3])
                    context.strokeStyle = stroke
                    context.roundedRect(1, 1, width - 2, height - 2, 15, 15)
                    context.stroke()
                }
            }

            ColumnLayout {
                anchors.centerIn: parent
                spacing: 10

                Label {
                    Layout.alignment: Qt.AlignHCenter
                    text: "+"
                    font.pixelSize: 30
                    font.bold: true
                    color: view.targeted ? palette.highlight : palette.placeholderText
                }
                Label {
                    Layout.alignment: Qt.AlignHCenter
                    text: qsTr("Drop a folder here")
                    font.bold: true
                }
                Button {
                    id: choose
                    objectName: "chooseFolder"
                    Layout.alignment: Qt.AlignHCenter
                    text: qsTr("Choose Folder…")
                    highlighted: true
                    focus: true
                    onClicked: chooser.open()
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                }
            }

            // As the window's: copied or linked, never moved; the model adds the folders.
            DropArea {
                id: drop
                anchors.fill: parent
                keys: ["text/uri-list"]
                onEntered: drag => {
                    drag.accepted = drag.hasUrls
                    if (drag.hasUrls)
                        drag.action = (drag.supportedActions & Qt.CopyAction) ? Qt.CopyAction : Qt.LinkAction
                }
                onDropped: event => {
                    event.action = (event.supportedActions & Qt.CopyAction) ? Qt.CopyAction : Qt.LinkAction
                    event.accept()
                    view.app.drop(event.urls)
                }
            }
        }
        ModelOffer {
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: 560
            app: view.app
        }

        Label {
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Everything is analysed on this computer. Nothing is uploaded.")
            color: palette.placeholderText
        }
    }

    AddFolderDialog {
        id: chooser
        app: view.app
    }
}
