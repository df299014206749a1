// SPDX-License-Identifier: GPL-3.0-or-later
// The one-line notice at the bottom of the window. Each new notice is cleared after six
// seconds unless another one replaced it meanwhile.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

Item {
    id: root
    required property AppModel app
    // How long a notice stays.
    property int holdTime: 6000
    // The notice the running timer will clear.
    property string timed: ""

    implicitWidth: Math.min(capsule.implicitWidth, parent ? parent.width - 32 : capsule.implicitWidth)
    implicitHeight: capsule.implicitHeight
    visible: app.notice !== ""

    function noticeChanged() {
        if (app.notice === "")
            return
        timed = app.notice
        timer.restart()
    }
    Connections {
        target: root.app
        function onNoticeChanged() { root.noticeChanged() }
    }
    Component.onCompleted: noticeChanged()
    Timer {
        id: timer
        interval: root.holdTime
        onTriggered: {
            if (root.app.notice === root.timed)
                root.app.notice = ""
        }
    }

    // A soft shadow: a few widening rings of translucent black under the capsule.
    Repeater {
        model: 4
        Rectangle {
            required property int index
            x: -index
            y: 2 - index
            width: capsule.width + 2 * index
            height: capsule.height + 2 * index
            radius: height / 2
            color: Qt.rgba(0, 0, 0, 0.33 / (4 + 3 * index))
        }
    }

    Rectangle {
        id: capsule
        anchors.fill: parent
        implicitWidth: row.implicitWidth + 22
        implicitHeight: row.implicitHeight + 18
        radius: height / 2
        color: Qt.rgba(root.palette.window.r, root.palette.window.g, root.palette.window.b, 0.96)
        border.color: Qt.rgba(root.palette.windowText.r, root.palette.windowText.g,
                              root.palette.windowText.b, 0.12)

        RowLayout {
            id: row
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 8
            spacing: 8
            Symbol {
                name: "info"
                color: root.palette.windowText
            }
            Label {
                objectName: "noticeText"
                Layout.fillWidth: true
                text: root.app.notice
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font.pixelSize: 14
            }
            ToolButton {
                implicitWidth: 22
                implicitHeight: 22
                padding: 4
                // Named for screen readers; the symbol is what shows.
                text: qsTr("Close")
                contentItem: Symbol { name: "close"; color: root.palette.windowText }
                ToolTip.text: text
                ToolTip.visible: hovered
                ToolTip.delay: 600
                onClicked: root.app.notice = ""
            }
        }
    }
}
