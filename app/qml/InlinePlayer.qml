// SPDX-License-Identifier: GPL-3.0-or-later
// A player for one result, made when the view wants the moment to play: loads the file,
// seeks exactly to `start` (moved by seekTo while it loads), and plays only if the view still
// wants it once the seek has landed; otherwise it lets the file go and says `released` (the
// view then destroys it). Its controls float over the picture when `controlled`.
import QtQuick
import QtMultimedia
import Quillmere

Item {
    id: root
    required property var frameId
    required property url source
    required property double start
    // Bound by the view: it still shows this result.
    property bool wanted: true
    // Until the player stands at `start`: a back end may drop a seek made before the file
    // is seekable, or land on a keyframe, so each seek is checked and made again a few times.
    property bool seeking: true
    property int seekTries: 0
    // Paused by the user before the landing seek: it stays paused once landed.
    property bool held: false
    // The preview's player shows its controls; the peek's plays bare.
    property bool controlled: false
    readonly property int seekTriesAllowed: 4
    readonly property bool playing: player.playbackState === MediaPlayer.PlayingState
    readonly property int position: player.position

    signal started
    signal released

    // While the file loads, a new opening time (an exact time just found) replaces `start`.
    function seekTo(seconds) {
        if (!seeking) {
            player.position = Math.round(seconds * 1000)
            return
        }
        start = seconds
        seekTries = 0
        land()
    }
    function pause() {
        if (seeking)
            held = true
        player.pause()
    }
    function togglePlay() {
        if (seeking)
            held = !held
        else if (playing)
            player.pause()
        else
            player.play()
    }
    function release() {
        landing.stop()
        player.stop()
        player.source = ""
        released()
    }
    // Seeks once the file can take it; the check comes back to see where it landed. A file
    // that never becomes seekable plays from where it stands after the tries.
    function land() {
        const ready = player.mediaStatus === MediaPlayer.LoadedMedia
                || player.mediaStatus === MediaPlayer.BufferedMedia
        if (!seeking || !ready || landing.running)
            return
        seekTries += 1
        if (player.seekable)
            player.position = Math.round(start * 1000)
        landing.restart()
    }
    function checkLanding() {
        if (!seeking)
            return
        const landed = Math.abs(player.position - start * 1000) < 20
        if (landed || seekTries >= seekTriesAllowed)
            seekLanded()
        else
            land()
    }
    function seekLanded() {
        if (!seeking)
            return
        seeking = false
        if (wanted) {
            if (!held)
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
        onSeekableChanged: root.land()
        onMediaStatusChanged: root.land()
        onErrorOccurred: if (root.seeking) {
            root.seeking = false
            root.release()
        }
    }

    Timer {
        id: landing
        interval: 120
        onTriggered: root.checkLanding()
    }

    VideoOutput {
        id: output
        anchors.fill: parent
        fillMode: VideoOutput.PreserveAspectFit
    }

    PlayerControls {
        visible: root.controlled
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 6
        compact: true
        media: player
        playing: root.seeking ? !root.held : root.playing
        onTogglePlay: root.togglePlay()
        onScrubbed: position => player.position = position
    }
}
