// SPDX-License-Identifier: GPL-3.0-or-later
// The floating bar over a playing video, the player window's and the preview's alike: play
// and pause, the time, the scrubber, mute and, where there is room, the volume. The picture
// keeps the keyboard, so the controls never take focus.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtMultimedia
import Quillmere

Rectangle {
    id: root
    required property MediaPlayer media
    // The narrow preview leaves out the total time and the volume slider.
    property bool compact: false
    // Buttons after mute (the window's full screen button).
    default property alias trailing: extra.data
    // What play/pause shows: a player still loading says what it will do once loaded.
    property bool playing: media.playbackState === MediaPlayer.PlayingState
    readonly property bool muted: media.audioOutput ? media.audioOutput.muted : false

    signal togglePlay()
    // The user dragged the scrubber to this many milliseconds.
    signal scrubbed(int position)

    height: bar.implicitHeight + 12
    radius: 8
    color: Qt.rgba(0, 0, 0, 0.55)

    RowLayout {
        id: bar
        anchors.fill: parent
        anchors.margins: 6
        spacing: root.compact ? 4 : 8
        ToolButton {
            objectName: "playButton"
            focusPolicy: Qt.NoFocus
            text: root.playing ? qsTr("Pause") : qsTr("Play")
            display: AbstractButton.IconOnly
            Accessible.name: text
            Accessible.role: Accessible.Button
            contentItem: Symbol { name: root.playing ? "pause" : "play"; color: "white" }
            onClicked: root.togglePlay()
        }
        Label {
            objectName: "playerTime"
            text: Format.timecode(root.media.position / 1000)
            color: "white"
            font.family: "monospace"
            font.pixelSize: root.compact ? 11 : 13
        }
        Slider {
            objectName: "scrubber"
            Layout.fillWidth: true
            Layout.minimumWidth: 40
            focusPolicy: Qt.NoFocus
            from: 0
            to: Math.max(1, root.media.duration)
            value: root.media.position
            Accessible.name: qsTr("Position")
            Accessible.role: Accessible.Slider
            onMoved: root.scrubbed(Math.round(value))
        }
        Label {
            visible: !root.compact
            text: Format.timecode(root.media.duration / 1000)
            color: "white"
            font.family: "monospace"
            font.pixelSize: 13
        }
        ToolButton {
            objectName: "muteButton"
            focusPolicy: Qt.NoFocus
            text: root.muted ? qsTr("Unmute") : qsTr("Mute")
            display: AbstractButton.IconOnly
            Accessible.name: text
            Accessible.role: Accessible.Button
            contentItem: Symbol { name: root.muted ? "muted" : "volume"; color: "white" }
            onClicked: if (root.media.audioOutput) root.media.audioOutput.muted = !root.muted
        }
        Slider {
            objectName: "volume"
            visible: !root.compact
            Layout.preferredWidth: 90
            focusPolicy: Qt.NoFocus
            from: 0
            to: 1
            value: root.media.audioOutput ? root.media.audioOutput.volume : 1
            Accessible.name: qsTr("Volume")
            Accessible.role: Accessible.Slider
            onMoved: if (root.media.audioOutput) {
                root.media.audioOutput.volume = value
                root.media.audioOutput.muted = false
            }
        }
        Row {
            id: extra
        }
    }
}
