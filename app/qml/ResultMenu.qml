// SPDX-License-Identifier: GPL-3.0-or-later
// A result's context menu: open, show in the folder, more like this, a region of it, copy
// the path.
import QtQuick
import QtQuick.Controls
import Quillmere

Menu {
    id: menu
    required property AppModel app
    property var frameId: null
    property bool isVideo: false
    property string openTime: ""
    property bool online: true

    signal openRequested(var frameId)
    signal regionRequested(var frameId)

    function actions() { return app.actions }

    MenuItem {
        text: menu.isVideo ? qsTr("Open at %1").arg(menu.openTime) : qsTr("Open")
        onTriggered: menu.openRequested(menu.frameId)
    }
    MenuItem {
        text: qsTr("Show in Folder")
        enabled: menu.online
        onTriggered: menu.actions().showInFolder(menu.frameId)
    }
    MenuItem {
        text: qsTr("More Like This")
        onTriggered: menu.app.search.moreLikeThis(menu.frameId)
    }
    MenuItem {
        text: qsTr("Search This Region")
        enabled: menu.online
        onTriggered: menu.regionRequested(menu.frameId)
    }
    MenuSeparator {}
    MenuItem {
        text: qsTr("Copy Path")
        onTriggered: menu.actions().copyPath(menu.frameId, false)
    }
    MenuItem {
        text: qsTr("Copy Path and Time")
        visible: menu.isVideo
        height: visible ? implicitHeight : 0
        onTriggered: menu.actions().copyPath(menu.frameId, true)
    }
}
