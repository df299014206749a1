// The first main window: a search field, the kind filter, the moments line and a plain
// list of results. Everything it shows comes from the model.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

ApplicationWindow {
    id: window
    required property AppModel app

    width: 900
    height: 600
    visible: true
    title: "Quillmere"

    header: ToolBar {
        RowLayout {
            anchors.fill: parent
            anchors.margins: 6
            spacing: 8

            TextField {
                id: searchField
                Layout.fillWidth: true
                placeholderText: window.app.imageQueryName !== ""
                                 ? window.app.imageQueryName : "Search your photos and videos"
                text: window.app.query
                focus: true
                onTextEdited: window.app.query = text
            }

            TabBar {
                id: kinds
                currentIndex: window.app.kindFilter
                onCurrentIndexChanged: window.app.kindFilter = currentIndex
                Repeater {
                    model: window.app.kindFilterNames
                    TabButton {
                        required property string modelData
                        text: modelData
                        width: implicitWidth
                    }
                }
            }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 6

        Label {
            Layout.fillWidth: true
            visible: window.app.startupError !== ""
            text: window.app.startupError
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "firebrick"
        }

        Label {
            Layout.fillWidth: true
            visible: window.app.searchedQuery !== ""
            text: window.app.results.count + (window.app.results.count === 1 ? " moment" : " moments")
                  + " · " + Math.round(window.app.lastSearchMS) + " ms"
            textFormat: Text.PlainText
            font.bold: true
        }

        ListView {
            id: list
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: window.app.results
            delegate: ItemDelegate {
                required property int index
                required property var frameId
                required property string name
                required property string relPath
                required property string timecode
                required property double score

                width: ListView.view.width
                highlighted: window.app.selection === frameId
                // The folder path inside the root, when the file is not at its top.
                text: (timecode !== "" ? name + "  " + timecode : name)
                      + (relPath !== name ? "   " + relPath : "") + "   " + score.toFixed(3)
                onClicked: window.app.selection = frameId
            }
            ScrollBar.vertical: ScrollBar {}
        }

        Label {
            Layout.fillWidth: true
            visible: window.app.notice !== ""
            text: window.app.notice
            textFormat: Text.PlainText
            elide: Text.ElideRight
        }

        Label {
            Layout.fillWidth: true
            text: window.app.folders.count + (window.app.folders.count === 1 ? " folder · " : " folders · ")
                  + window.app.totalIndexed + " of "
                  + window.app.totalFiles + " files indexed"
            textFormat: Text.PlainText
            opacity: 0.7
        }
    }

    // A notice goes away after six seconds unless another replaced it.
    Timer {
        id: noticeTimer
        interval: 6000
        onTriggered: window.app.notice = ""
    }
    Connections {
        target: window.app
        function onNoticeChanged() {
            if (window.app.notice !== "")
                noticeTimer.restart()
        }
    }

    // The library holds another model's frames: nothing is dropped until the user agrees.
    Dialog {
        anchors.centerIn: parent
        modal: true
        closePolicy: Popup.NoAutoClose
        visible: window.app.modelChange !== ""
        title: "Index every file again?"
        Label {
            width: 420
            text: window.app.modelChange
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
        }
        footer: DialogButtonBox {
            Button {
                text: "Index Again"
                DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            }
            Button {
                text: "Quit"
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
        onAccepted: window.app.indexAgain()
        onRejected: Qt.quit()
    }
}
