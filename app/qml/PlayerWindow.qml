// SPDX-License-Identifier: GPL-3.0-or-later
// One video file in a window of its own, positioned at the opened second; playback starts
// when the user asks. Hiding the window pauses it.
import QtQuick
import QtQuick.Controls
import QtMultimedia
import Quillmere

ApplicationWindow {
    id: root
    required property url file
    required property double start
    // Until the player stands at `start`: a back end may drop a seek made before the file
    // is seekable, or land on a keyframe, so each seek is checked and made again a few times.
    property bool seeking: true
    property int seekTries: 0
    readonly property int seekTriesAllowed: 4

    width: 960
    height: 560

    function seekTo(seconds) {
        start = seconds
        seeking = true
        seekTries = 0
        land()
    }
    // Seeks once the file can take it; the check comes back to see where it landed.
    function land() {
        const ready = player.mediaStatus === MediaPlayer.LoadedMedia
                || player.mediaStatus === MediaPlayer.BufferedMedia
        if (!seeking || !ready || !player.seekable || landing.running)
            return
        seekTries += 1
        player.position = Math.round(start * 1000)
        landing.restart()
    }
    function checkLanding() {
        const landed = Math.abs(player.position - start * 1000) < 20
        if (landed || seekTries >= seekTriesAllowed || !seeking)
            seeking = false
        else
            land()
    }
    function togglePlay() {
        seeking = false
        player.playbackState === MediaPlayer.PlayingState ? player.pause() : player.play()
    }
    // Moves by a number of seconds, within the clip, landing as exactly as an opening seek.
    function step(seconds) {
        const end = Math.max(0, player.duration / 1000)
        seekTo(Math.min(end, Math.max(0, player.position / 1000 + seconds)))
    }

    function toggleFullScreen() {
        root.visibility === Window.FullScreen ? root.showNormal() : root.showFullScreen()
    }

    onVisibleChanged: if (!visible) player.pause()
    onClosing: player.pause()

    MediaPlayer {
        id: player
        objectName: "player"
        source: root.file
        videoOutput: output
        audioOutput: AudioOutput {}
        onSeekableChanged: root.land()
        onErrorOccurred: root.seeking = false
        onMediaStatusChanged: root.land()
    }

    Timer {
        id: landing
        interval: 120
        onTriggered: root.checkLanding()
    }

    Rectangle {
        anchors.fill: parent
        color: "black"
    }
    // The picture takes the keys from the start: space plays and pauses, the arrows step
    // five seconds, M mutes, Escape leaves full screen. The controls never take them away.
    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectFit
        focus: true
        Keys.onSpacePressed: root.togglePlay()
        Keys.onLeftPressed: root.step(-5)
        Keys.onRightPressed: root.step(5)
        Keys.onEscapePressed: if (root.visibility === Window.FullScreen) root.showNormal()
        Keys.onPressed: event => {
            if (event.key === Qt.Key_M && player.audioOutput) {
                player.audioOutput.muted = !player.audioOutput.muted
                event.accepted = true
            } else if (event.key === Qt.Key_F11) {
                root.toggleFullScreen()
                event.accepted = true
            }
        }
    }
    // The desktop's own full screen keys, where they are not F11.
    Shortcut {
        sequences: [StandardKey.FullScreen]
        onActivated: root.toggleFullScreen()
    }

    // Floating controls over the bottom of the picture.
    PlayerControls {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 12
        media: player
        onTogglePlay: root.togglePlay()
        onScrubbed: position => {
            root.seeking = false
            player.position = position
        }
        ToolButton {
            objectName: "fullScreenButton"
            focusPolicy: Qt.NoFocus
            text: root.visibility === Window.FullScreen ? qsTr("Leave Full Screen") : qsTr("Full Screen")
            display: AbstractButton.IconOnly
            Accessible.name: text
            Accessible.role: Accessible.Button
            contentItem: Symbol { name: "fullScreen"; color: "white" }
            onClicked: root.toggleFullScreen()
        }
    }
}
