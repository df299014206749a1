// A player for one result, made when the view wants the moment to play: loads the file,
// seeks exactly to `start`, and plays only if the view still wants it once the seek has
// landed; otherwise it lets the file go and says `released` (the view then destroys it).
import QtQuick
import QtMultimedia

Item {
    id: root
    required property var frameId
    required property url source
    required property double start
    // Bound by the view: it still shows this result.
    property bool wanted: true
    property bool seeking: true
    readonly property bool playing: player.playbackState === MediaPlayer.PlayingState
    readonly property int position: player.position

    signal started
    signal released

    function seekTo(seconds) {
        player.position = Math.round(seconds * 1000)
    }
    function pause() {
        player.pause()
    }
    function release() {
        player.stop()
        player.source = ""
        released()
    }
    function seekLanded() {
        if (!seeking)
            return
        seeking = false
        if (wanted) {
            player.play()
            started()
        } else {
            release()
        }
    }

    onWantedChanged: if (!wanted) {
        if (seeking) return   // the landing seek decides
        release()
    }

    MediaPlayer {
        id: player
        source: root.source
        videoOutput: output
        audioOutput: AudioOutput { muted: false }
        onMediaStatusChanged: {
            if (root.seeking && mediaStatus === MediaPlayer.LoadedMedia) {
                position = Math.round(root.start * 1000)
                Qt.callLater(root.seekLanded)
            }
        }
        onErrorOccurred: if (root.seeking) {
            root.seeking = false
            root.release()
        }
    }

    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectFit
    }
}
