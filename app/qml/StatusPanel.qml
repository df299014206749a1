// SPDX-License-Identifier: GPL-3.0-or-later
// What the indexer is doing: up to date, looking for new files, indexing with its progress
// and time left, or paused and why; the failed files, the read-only notice, and why no text
// is read.
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Quillmere

ColumnLayout {
    id: panel
    required property AppModel app
    readonly property IndexingStatus status: app.indexing
    readonly property bool working: status.phase === IndexingStatus.Indexing || status.phase === IndexingStatus.Paused
    readonly property real captionSize: Qt.application.font.pointSize * 0.85

    spacing: 6

    // While another process indexes the library, this stays in view.
    Label {
        objectName: "readOnlyNotice"
        Layout.fillWidth: true
        visible: panel.status.readOnly
        text: panel.status.readOnlyText
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pointSize: panel.captionSize
        opacity: 0.7
    }

    // Indexing goes on without text: why, while it lasts.
    Label {
        objectName: "textNote"
        Layout.fillWidth: true
        visible: text !== ""
        text: panel.status.textNote
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pointSize: panel.captionSize
        opacity: 0.7
    }

    RowLayout {
        visible: panel.status.phase === IndexingStatus.Scanning
        spacing: 6
        BusyIndicator {
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
            running: parent.visible
        }
        Label {
            objectName: "scanningLine"
            text: panel.status.summary
            font.pointSize: panel.captionSize
            opacity: 0.7
        }
    }

    RowLayout {
        visible: panel.working
        Layout.fillWidth: true
        Label {
            objectName: "statusTitle"
            Layout.fillWidth: true
            text: panel.status.title
            font.pointSize: panel.captionSize
            font.weight: Font.DemiBold
            // The pause reasons are longer than a narrow sidebar: wrapped, never cut.
            wrapMode: Text.Wrap
        }
        ToolButton {
            objectName: "pauseButton"
            flat: true
            display: AbstractButton.IconOnly
            icon.source: panel.status.pausedByUser ? "icons/sidebar-play.svg" : "icons/sidebar-pause.svg"
            icon.width: 12
            icon.height: 12
            implicitWidth: 24
            implicitHeight: 24
            text: panel.status.pausedByUser ? qsTr("Resume indexing") : qsTr("Pause indexing")
            ToolTip.visible: hovered
            ToolTip.text: text
            onClicked: panel.status.togglePause()
        }
    }

    ProgressBar {
        visible: panel.working
        Layout.fillWidth: true
        value: panel.status.fraction
    }

    Label {
        objectName: "statusDetail"
        visible: panel.working
        Layout.fillWidth: true
        text: {
            const bytes = Format.bytesShort(panel.status.doneBytes, panel.status.totalBytes)
            if (panel.status.phase !== IndexingStatus.Indexing)
                return bytes
            return qsTr("%1 · %2").arg(bytes).arg(panel.status.secondsLeft < 0 ? qsTr("estimating time…")
                                                                                : Format.timeLeft(panel.status.secondsLeft))
        }
        font.pointSize: panel.captionSize
        wrapMode: Text.Wrap
        opacity: 0.7
    }

    Button {
        objectName: "indexAnyway"
        visible: panel.status.phase === IndexingStatus.Paused && panel.status.pauseReason === IndexingStatus.LowPower
        text: qsTr("Index Anyway")
        font.pointSize: panel.captionSize
        onClicked: panel.status.indexAnyway()
    }

    RowLayout {
        visible: panel.status.phase === IndexingStatus.Idle && (panel.status.files >= 1 || panel.status.stopped)
        spacing: 6
        IconImage {
            Layout.preferredWidth: 14
            Layout.preferredHeight: 14
            Layout.alignment: Qt.AlignTop
            sourceSize: Qt.size(14, 14)
            source: panel.status.stopped ? "icons/sidebar-warning.svg" : "icons/sidebar-check.svg"
            color: panel.status.stopped ? "#e37400" : "#34a853"
        }
        Label {
            objectName: "idleLine"
            Layout.fillWidth: true
            text: panel.status.summary
            textFormat: Text.PlainText
            font.pointSize: panel.captionSize
            // Why a run stopped may take a few lines.
            wrapMode: Text.Wrap
            maximumLineCount: 3
            elide: Text.ElideRight
            opacity: panel.status.stopped ? 1 : 0.7
        }
    }

    FailedFilesButton {
        objectName: "failedFiles"
        visible: panel.status.phase === IndexingStatus.Idle && panel.status.files >= 1 && panel.status.failed >= 1
        app: panel.app
        count: panel.status.failed
    }

    Label {
        objectName: "unsupportedLine"
        Layout.fillWidth: true
        visible: panel.status.phase === IndexingStatus.Idle && panel.status.files >= 1 && panel.status.unsupportedVideos >= 1
        text: qsTr("%Ln video(s) are in formats this computer can't play", "", panel.status.unsupportedVideos)
        wrapMode: Text.Wrap
        font.pointSize: panel.captionSize
        opacity: 0.7
    }

    Label {
        objectName: "unreadableLine"
        Layout.fillWidth: true
        visible: panel.status.phase === IndexingStatus.Idle && panel.status.unreadable.length >= 1
        text: qsTr("%Ln folder(s) can't be read; their files are kept", "", panel.status.unreadable.length)
        wrapMode: Text.Wrap
        font.pointSize: panel.captionSize
        opacity: 0.7
        // The places themselves, one a line.
        readonly property string places: panel.status.unreadable.join("\n")
        ToolTip.text: places
        ToolTip.visible: unreadableHover.hovered
        ToolTip.delay: 500
        Accessible.description: ToolTip.text

        HoverHandler {
            id: unreadableHover
        }
    }
}
