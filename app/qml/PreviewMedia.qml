// SPDX-License-Identifier: GPL-3.0-or-later
// The moment's picture, or its inline player once the user pressed play; a play button over
// a reachable video. Rebuilt by the pane whenever the shown frame changes. It takes the
// keyboard when clicked or tabbed to: Space plays and pauses.
import QtQuick
import QtQuick.Controls
import Quillmere

Control {
    id: root
    required property AppModel app
    required property PreviewFacts facts
    property InlinePlayer player: null
    // Something over the window (the peek) plays instead: the player pauses, and stays so.
    property bool covered: false

    implicitHeight: width / facts.aspect
    padding: 0
    focusPolicy: root.facts.isVideo && root.facts.online ? Qt.StrongFocus : Qt.NoFocus
    Accessible.role: Accessible.Graphic
    Accessible.name: root.facts.name

    function togglePlay() {
        if (player)
            player.togglePlay()
        else
            play()
    }
    onCoveredChanged: if (covered && player) player.pause()
    Keys.onSpacePressed: togglePlay()

    function play() {
        if (player || facts.fileUrl.toString() === "")
            return
        const made = playerMaker.createObject(frame, {
            frameId: facts.shownFrameId, source: facts.fileUrl, start: facts.openTime
        })
        made.wanted = Qt.binding(() => root.visible && root.facts.shownFrameId === made.frameId)
        made.released.connect(drop)
        player = made
        forceActiveFocus()
    }
    function drop() {
        if (!player)
            return
        const old = player
        player = null
        old.destroy()
    }

    Component.onDestruction: if (player) player.pause()
    Connections {
        target: root.facts
        function onOpenTimeChanged() {
            if (root.player && root.facts.shownFrameId === root.player.frameId)
                root.player.seekTo(root.facts.openTime)
        }
    }

    Component {
        id: playerMaker
        InlinePlayer {
            anchors.fill: parent
            controlled: true
        }
    }

    Rectangle {
        id: frame
        anchors.fill: parent
        radius: 8
        clip: true
        color: palette.mid

        PictureBox {
            anchors.fill: parent
            app: root.app
            frameId: root.facts.shownFrameId
            sharp: true
            time: root.facts.isVideo ? root.facts.openTime : null
        }
    }

    // The keyboard's ring, over the picture and the player.
    Rectangle {
        anchors.fill: frame
        visible: root.visualFocus
        radius: 8
        color: "transparent"
        border.width: 2
        border.color: palette.highlight
    }

    RoundButton {
        objectName: "previewPlay"
        anchors.centerIn: parent
        visible: root.facts.isVideo && root.facts.online && !root.player
        width: 54
        height: 54
        palette.button: Qt.rgba(0, 0, 0, 0.55)
        contentItem: Item {
            Symbol {
                anchors.centerIn: parent
                name: "play"
                size: 22
                color: "white"
            }
        }
        ToolTip.visible: hovered
        ToolTip.text: qsTr("Play from %1").arg(root.facts.openTimecode)
        Accessible.role: Accessible.Button
        Accessible.name: ToolTip.text
        onClicked: root.play()
    }
}
