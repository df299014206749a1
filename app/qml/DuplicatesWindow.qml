// SPDX-License-Identifier: GPL-3.0-or-later
// The duplicates window: groups of photos that show the same picture, the copy to keep
// starred first, the other copies of the same picture marked for the Trash. Clicking a
// photo marks or unmarks it; "Move to Trash" moves the marked ones.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

ApplicationWindow {
    id: window

    property AppModel app
    property alias duplicates: dups

    width: 900
    height: 620
    minimumWidth: 560
    minimumHeight: 320
    title: qsTr("Duplicates")

    onVisibleChanged: if (visible) dups.findIfNeeded()

    DuplicatesModel {
        id: dups
        folders: window.app.folders
        indexing: window.app.indexing
        onNoticed: text => window.app.notice = text
    }

    SystemPalette {
        id: palette
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 14
            spacing: 14

            Switch {
                text: qsTr("Include near-duplicates (bursts, retakes)")
                checked: dups.includeSimilar
                onToggled: dups.includeSimilar = checked
            }
            Item {
                Layout.fillWidth: true
            }
            Label {
                visible: dups.count > 0 && !dups.working
                text: dups.summary
                color: palette.placeholderText
                font.pointSize: Qt.application.font.pointSize * 0.95
            }
            Button {
                visible: dups.count > 0 && !dups.working
                text: qsTr("Move to Trash")
                highlighted: true
                enabled: dups.canTrash
                onClicked: dups.trash()
            }
        }

        Rule {
            Layout.fillWidth: true
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ColumnLayout {
                anchors.centerIn: parent
                width: parent.width - 80
                visible: dups.working
                spacing: 12

                ProgressBar {
                    Layout.fillWidth: true
                    from: 0
                    to: 1
                    value: dups.progress
                }
                Label {
                    Layout.alignment: Qt.AlignHCenter
                    text: qsTr("Comparing every photo with every other…")
                }
            }

            ListView {
                id: groups
                anchors.fill: parent
                anchors.margins: 8
                visible: !dups.working && dups.count > 0
                clip: true
                spacing: 10
                // Bound at run time: Qt 6.4's compiled binding stores the C++ model in the
                // view's QVariant model as an invalid value, leaving the view without rows.
                Component.onCompleted: model = Qt.binding(() => dups)
                ScrollBar.vertical: ScrollBar {}
                delegate: DuplicateGroup {
                    width: groups.width
                    app: window.app
                    duplicates: dups
                }
            }

            ColumnLayout {
                anchors.centerIn: parent
                visible: !dups.working && dups.count === 0
                spacing: 8

                Label {
                    Layout.alignment: Qt.AlignHCenter
                    text: "❐"
                    font.pointSize: Qt.application.font.pointSize * 3
                    color: palette.placeholderText
                }
                Label {
                    Layout.alignment: Qt.AlignHCenter
                    text: dups.searched ? qsTr("No duplicates") : qsTr("Find duplicate photos")
                    font.bold: true
                    font.pointSize: Qt.application.font.pointSize * 1.4
                }
                Label {
                    Layout.alignment: Qt.AlignHCenter
                    visible: dups.searched
                    text: qsTr("Every photo in your folders is one of a kind.")
                    color: palette.placeholderText
                }
            }
        }
    }
}
