// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's left column: the folders, which narrow the results, and the indexing
// status below them.
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Quillmere

Pane {
    id: sidebar
    required property AppModel app

    padding: 0

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Flickable {
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentHeight: folders.implicitHeight
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {}

            ColumnLayout {
                id: folders
                width: parent.width
                spacing: 0

                SectionHeading { text: qsTr("Library") }
                SidebarItem {
                    id: allFolders
                    objectName: "allFolders"
                    Layout.fillWidth: true
                    text: qsTr("All Folders")
                    highlighted: sidebar.app.search.folderFilter === null || sidebar.app.search.folderFilter === undefined
                    onClicked: sidebar.app.search.folderFilter = null
                    contentItem: RowLayout {
                        spacing: 8
                        IconImage {
                            Layout.preferredWidth: 18
                            Layout.preferredHeight: 18
                            sourceSize: Qt.size(18, 18)
                            source: "icons/sidebar-grid.svg"
                            color: allFolders.highlighted ? allFolders.textColor : sidebar.palette.highlight
                        }
                        Label {
                            Layout.fillWidth: true
                            text: allFolders.text
                            color: allFolders.textColor
                        }
                    }
                }

                SectionHeading { text: qsTr("Folders") }
                Repeater {
                    model: sidebar.app.folders.list
                    FolderRow {
                        Layout.fillWidth: true
                        app: sidebar.app
                    }
                }
                SidebarItem {
                    id: addFolder
                    objectName: "addFolder"
                    Layout.fillWidth: true
                    text: qsTr("Add Folder…")
                    onClicked: folderDialog.open()
                    contentItem: RowLayout {
                        spacing: 8
                        IconImage {
                            Layout.preferredWidth: 18
                            Layout.preferredHeight: 14
                            sourceSize: Qt.size(14, 14)
                            source: "icons/sidebar-plus.svg"
                            color: sidebar.palette.placeholderText
                        }
                        Label {
                            Layout.fillWidth: true
                            text: addFolder.text
                            opacity: 0.7
                        }
                    }
                }
            }
        }

        Rule {
            Layout.fillWidth: true
            palette: sidebar.palette
        }

        StatusPanel {
            objectName: "statusPanel"
            Layout.fillWidth: true
            // A layout fills the height by default; with nothing to say (no folders yet) it
            // would take the folders' place.
            Layout.fillHeight: false
            Layout.margins: 12
            app: sidebar.app
        }
    }

    // A row of the list: only the selected or pressed row is filled, so the rows sit on
    // the sidebar's colour.
    component SidebarItem: ItemDelegate {
        id: item
        readonly property color textColor: highlighted ? palette.highlightedText : palette.windowText
        focusPolicy: Qt.StrongFocus
        background: Rectangle {
            color: item.highlighted ? item.palette.highlight
                                    : item.down ? item.palette.midlight : "transparent"
            border.width: item.visualFocus ? 2 : 0
            border.color: item.highlighted ? item.palette.highlightedText : item.palette.highlight
        }
    }

    component SectionHeading: Label {
        Layout.fillWidth: true
        leftPadding: 12
        topPadding: 10
        bottomPadding: 4
        font.pointSize: Qt.application.font.pointSize * 0.85
        font.weight: Font.DemiBold
        opacity: 0.6
    }

    AddFolderDialog {
        id: folderDialog
        app: sidebar.app
    }
}
