// The stored picture of a frame, cropped to fill.
import QtQuick
import Quillmere

Item {
    id: root
    required property AppModel app
    required property var frameId
    property bool sharp: false

    Rectangle {
        anchors.fill: parent
        color: palette.mid
    }
}
