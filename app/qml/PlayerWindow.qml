// SPDX-License-Identifier: GPL-3.0-or-later
// One video file in a window of its own, positioned at the opened second; playback starts
// when the user asks. Hiding the window pauses it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
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
    // five seconds, Escape leaves full screen. The controls never take them away.
    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectFit
        focus: true
        Keys.onSpacePressed: root.togglePlay()
        Keys.onLeftPressed: root.step(-5)
        Keys.onRightPressed: root.step(5)
        Keys.onEscapePressed: if (root.visibility === Window.FullScreen) root.showNormal()
    }

    // Floating controls over the bottom of the picture.
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 12
        height: bar.implicitHeight + 12
        radius: 8
        color: Qt.rgba(0, 0, 0, 0.55)

        RowLayout {
            id: bar
            anchors.fill: parent
            anchors.margins: 6
            spacing: 8
            ToolButton {
                id: playButton
                readonly property bool playing: player.playbackState === MediaPlayer.PlayingState
                objectName: "playButton"
                focusPolicy: Qt.NoFocus
                text: playing ? qsTr("Pause") : qsTr("Play")
                contentItem: Symbol { name: playButton.playing ? "pause" : "play"; color: "white" }
                onClicked: root.togglePlay()
            }
            Label {
                text: Format.timecode(player.position / 1000)
                color: "white"
                font.family: "monospace"
            }
            Slider {
                Layout.fillWidth: true
                focusPolicy: Qt.NoFocus
                from: 0
                to: Math.max(1, player.duration)
                value: player.position
                onMoved: {
                    root.seeking = false
                    player.position = value
                }
            }
            Label {
                text: Format.timecode(player.duration / 1000)
                color: "white"
                font.family: "monospace"
            }
            ToolButton {
                focusPolicy: Qt.NoFocus
                text: qsTr("Full Screen")
                contentItem: Symbol { name: "fullScreen"; color: "white" }
                onClicked: root.visibility === Window.FullScreen ? root.showNormal()
                                                                  : root.showFullScreen()
            }
        }
    }
}
