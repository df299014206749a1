// SPDX-License-Identifier: GPL-3.0-or-later
// The peek: the selected moment large over the whole window. Space and Escape close it,
// the arrow keys move the selection while it is open; a video plays from its opening time.
// With no selection left it closes.
import QtQuick
import QtQuick.Controls
import Quillmere

Popup {
    id: root
    required property AppModel app
    // How far Up and Down move the selection: the grid's column count.
    property int columns: 1
    readonly property PreviewFacts facts: PreviewFacts {
        search: root.app.search
        folders: root.app.folders
        frameId: root.app.search.selection
    }
    property InlinePlayer player: null

    parent: Overlay.overlay
    x: 0
    y: 0
    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    padding: 0
    modal: true
    focus: true
    dim: false
    closePolicy: Popup.CloseOnEscape

    function move(step) {
        const next = root.facts.neighbour(step)
        if (next !== undefined && next !== null)
            root.app.search.selection = next
    }

    // A new result (or a reopened peek) drops the old player before anything else.
    function restart() {
        dropPlayer()
        if (!opened || !facts.valid || !facts.isVideo || facts.fileUrl.toString() === "")
            return
        const made = playerMaker.createObject(mediaFrame, {
            frameId: facts.shownFrameId, source: facts.fileUrl, start: facts.openTime
        })
        made.wanted = Qt.binding(() => root.opened && root.facts.shownFrameId === made.frameId)
        made.released.connect(() => {
            if (root.player === made)
                root.player = null
            made.destroy()
        })
        player = made
    }
    function dropPlayer() {
        if (!player)
            return
        const old = player
        player = null
        old.pause()
        if (!old.seeking)
            old.release()
        // A player still seeking lets go by itself when the seek lands.
    }

    // Nothing selected (the search cleared or changed under it): nothing to show.
    onOpened: facts.valid ? restart() : close()
    onClosed: dropPlayer()
    Connections {
        target: root.facts
        function onValidChanged() {
            if (root.opened && !root.facts.valid)
                root.close()
        }
        function onShownFrameIdChanged() {
            if (root.opened)
                root.restart()
        }
        function onOpenTimeChanged() {
            if (root.player && root.facts.shownFrameId === root.player.frameId)
                root.player.seekTo(root.facts.openTime)
        }
    }

    Component {
        id: playerMaker
        InlinePlayer {
            anchors.fill: parent
        }
    }

    background: Rectangle {
        color: Qt.rgba(0, 0, 0, 0.55)
        TapHandler {
            onTapped: root.close()
        }
    }

    contentItem: FocusScope {
        focus: true
        Keys.onPressed: event => {
            switch (event.key) {
            case Qt.Key_Space:
            case Qt.Key_Escape:
                root.close()
                break
            case Qt.Key_Left:
                root.move(-1)
                break
            case Qt.Key_Right:
                root.move(1)
                break
            case Qt.Key_Up:
                root.move(-root.columns)
                break
            case Qt.Key_Down:
                root.move(root.columns)
                break
            default:
                return
            }
            event.accepted = true
        }

        Column {
            anchors.centerIn: parent
            spacing: 10
            readonly property real room: root.height - 80 - caption.height - spacing
            readonly property real mediaWidth: Math.min(root.width - 80, room * root.facts.aspect)

            Rectangle {
                id: mediaFrame
                objectName: "peekMedia"
                width: parent.mediaWidth
                height: width / root.facts.aspect
                radius: 8
                clip: true
                color: "black"

                // Keyed on the frame, so the next result never shows this one's picture.
                Repeater {
                    model: root.facts.valid ? [root.facts.shownFrameId] : []
                    PictureBox {
                        required property var modelData
                        anchors.fill: parent
                        app: root.app
                        frameId: modelData
                        sharp: true
                        time: root.facts.isVideo ? root.facts.openTime : null
                    }
                }
            }

            Row {
                id: caption
                spacing: 8
                Label {
                    objectName: "peekName"
                    text: root.facts.name
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 15
                    font.bold: true
                    elide: Text.ElideMiddle
                    width: Math.min(implicitWidth, mediaFrame.width - (time.visible ? time.width + 8 : 0))
                }
                Label {
                    id: time
                    visible: root.facts.isVideo
                    text: root.facts.openTimecode
                    color: "white"
                    font.family: "monospace"
                    font.pixelSize: 15
                }
            }
        }
    }
}
