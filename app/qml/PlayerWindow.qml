// One video file in a window of its own, positioned at the opened second; playback starts
// when the user asks. Hiding the window pauses it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtMultimedia

ApplicationWindow {
    id: root
    required property url file
    required property double start
    property bool sized: false

    width: 960
    height: 560
    visible: true

    // Before the file has loaded, the second waits for it.
    function seekTo(seconds) {
        start = seconds
        if (sized)
            player.position = Math.round(seconds * 1000)
    }
    function timecode(ms) {
        const s = Math.floor(ms / 1000)
        const two = n => (n < 10 ? "0" : "") + n
        return two(Math.floor(s / 3600)) + ":" + two(Math.floor(s / 60) % 60) + ":" + two(s % 60)
    }

    onVisibleChanged: if (!visible) player.pause()
    onClosing: player.pause()

    MediaPlayer {
        id: player
        objectName: "player"
        source: root.file
        videoOutput: output
        audioOutput: AudioOutput {}
        onMediaStatusChanged: {
            if (mediaStatus === MediaPlayer.LoadedMedia && !root.sized) {
                root.sized = true
                root.seekTo(root.start)
                // The window takes the upright picture's shape at the same width.
                const size = output.sourceRect
                if (size.width > 0 && size.height > 0)
                    root.height = Math.round(root.width * size.height / size.width)
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "black"
    }
    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectFit
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
                text: playing ? qsTr("Pause") : qsTr("Play")
                contentItem: Symbol { name: playButton.playing ? "pause" : "play"; color: "white" }
                onClicked: playing ? player.pause() : player.play()
            }
            Label {
                text: root.timecode(player.position)
                color: "white"
                font.family: "monospace"
            }
            Slider {
                Layout.fillWidth: true
                from: 0
                to: Math.max(1, player.duration)
                value: player.position
                onMoved: player.position = value
            }
            Label {
                text: root.timecode(player.duration)
                color: "white"
                font.family: "monospace"
            }
            ToolButton {
                text: qsTr("Full Screen")
                contentItem: Symbol { name: "fullScreen"; color: "white" }
                onClicked: root.visibility === Window.FullScreen ? root.showNormal()
                                                                  : root.showFullScreen()
            }
        }
    }
}
