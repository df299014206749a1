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

    // Choosing a part of the picture to search by: a rectangle in fractions of the picture.
    property bool drawingRegion: false
    property rect region: Qt.rect(0, 0, 0, 0)
    readonly property bool hasRegion: region.width > 0 && region.height > 0
    // The smallest region, in pixels on screen: a click is not a region.
    readonly property real minimumRegion: 12

    implicitHeight: width / facts.aspect
    padding: 0
    focusPolicy: root.facts.isVideo && root.facts.online ? Qt.StrongFocus : Qt.NoFocus
    Accessible.role: Accessible.Graphic
    Accessible.name: drawingRegion ? qsTr("Choose a region of %1").arg(root.facts.name)
                                   : root.facts.name
    Accessible.description: drawingRegion
        ? qsTr("Drag over the picture, or use the arrow keys to move the region and Shift with them to resize it; Return searches, Escape cancels.")
        : ""

    // The picture stays still while a region is chosen: a playing video pauses.
    function startRegion() {
        if (player)
            player.pause()
        region = Qt.rect(0, 0, 0, 0)
        drawingRegion = true
        forceActiveFocus()
    }
    function cancelRegion() {
        drawingRegion = false
        region = Qt.rect(0, 0, 0, 0)
    }
    function setRegion(x, y, width, height) {
        region = Qt.rect(x, y, width, height)
    }
    function searchRegion() {
        if (!hasRegion)
            return
        const seconds = player ? player.position / 1000 : facts.openTime
        app.search.searchRegion(facts.shownFrameId, seconds, region.x, region.y,
                                region.width, region.height)
        cancelRegion()
    }
    // Arrows move the region by a twentieth of the picture; with Shift they resize it. Without
    // a region, the first arrow makes one of the picture's middle half.
    function nudge(dx, dy, resize) {
        const step = 0.05
        let r = hasRegion ? region : Qt.rect(0.25, 0.25, 0.5, 0.5)
        if (hasRegion && resize) {
            const w = Math.min(Math.max(r.width + dx * step, step), 1 - r.x)
            const h = Math.min(Math.max(r.height + dy * step, step), 1 - r.y)
            r = Qt.rect(r.x, r.y, w, h)
        } else if (hasRegion) {
            r = Qt.rect(Math.min(Math.max(r.x + dx * step, 0), 1 - r.width),
                        Math.min(Math.max(r.y + dy * step, 0), 1 - r.height), r.width, r.height)
        }
        region = r
    }
    Keys.onPressed: event => {
        if (!drawingRegion)
            return
        const resize = (event.modifiers & Qt.ShiftModifier) !== 0
        if (event.key === Qt.Key_Escape)
            cancelRegion()
        else if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter)
            searchRegion()
        else if (event.key === Qt.Key_Left)
            nudge(-1, 0, resize)
        else if (event.key === Qt.Key_Right)
            nudge(1, 0, resize)
        else if (event.key === Qt.Key_Up)
            nudge(0, -1, resize)
        else if (event.key === Qt.Key_Down)
            nudge(0, 1, resize)
        else
            return
        event.accepted = true
    }

    function togglePlay() {
        if (player)
            player.togglePlay()
        else
            play()
    }
    onCoveredChanged: if (covered && player) player.pause()
    Keys.onSpacePressed: if (!drawingRegion) togglePlay()

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
            id: picture
            anchors.fill: parent
            app: root.app
            frameId: root.facts.shownFrameId
            sharp: true
            time: root.facts.isVideo ? root.facts.openTime : null
        }

        // The lines that hold the query's words, outlined where they stand in the picture:
        // each box's top edge gives its length and slant, its left edge its height.
        Repeater {
            objectName: "foundBoxes"
            model: root.player || root.drawingRegion || !picture.hasPicture
                   ? [] : root.facts.foundLines
            delegate: Rectangle {
                required property var modelData
                readonly property rect area: picture.paintedRect
                readonly property var corners: modelData.box.map(
                    p => Qt.point(area.x + p.x * area.width, area.y + p.y * area.height))
                readonly property real across: Math.hypot(corners[1].x - corners[0].x,
                                                          corners[1].y - corners[0].y)
                readonly property real down: Math.hypot(corners[3].x - corners[0].x,
                                                        corners[3].y - corners[0].y)
                // A little room around the words, so the outline does not cover them.
                readonly property real room: 3
                x: corners[0].x - room
                y: corners[0].y - room
                width: across + 2 * room
                height: down + 2 * room
                transformOrigin: Item.TopLeft
                rotation: Math.atan2(corners[1].y - corners[0].y,
                                     corners[1].x - corners[0].x) * 180 / Math.PI
                radius: 3
                color: Qt.rgba(1, 0.84, 0, 0.18)
                border.width: 2
                border.color: "#ffd200"
                Accessible.ignored: true
                // A dark rim, so that the outline shows on light pictures too.
                Rectangle {
                    anchors.fill: parent
                    anchors.margins: -1
                    radius: 4
                    color: "transparent"
                    border.width: 1
                    border.color: Qt.rgba(0, 0, 0, 0.55)
                }
            }
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
        visible: root.facts.isVideo && root.facts.online && !root.player && !root.drawingRegion
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

    // The region being chosen: the picture outside it dimmed, its outline, and its search.
    Item {
        id: regionLayer
        objectName: "regionLayer"
        anchors.fill: frame
        visible: root.drawingRegion
        readonly property rect shown: Qt.rect(root.region.x * width, root.region.y * height,
                                              root.region.width * width,
                                              root.region.height * height)
        readonly property color dim: Qt.rgba(0, 0, 0, 0.55)

        Rectangle {
            width: parent.width
            height: root.hasRegion ? regionLayer.shown.y : parent.height
            color: regionLayer.dim
        }
        Rectangle {
            visible: root.hasRegion
            y: regionLayer.shown.y + regionLayer.shown.height
            width: parent.width
            height: parent.height - y
            color: regionLayer.dim
        }
        Rectangle {
            visible: root.hasRegion
            y: regionLayer.shown.y
            width: regionLayer.shown.x
            height: regionLayer.shown.height
            color: regionLayer.dim
        }
        Rectangle {
            visible: root.hasRegion
            x: regionLayer.shown.x + regionLayer.shown.width
            y: regionLayer.shown.y
            width: parent.width - x
            height: regionLayer.shown.height
            color: regionLayer.dim
        }
        // White with a dark rim, so that it shows on any picture.
        Rectangle {
            objectName: "regionOutline"
            visible: root.hasRegion
            x: regionLayer.shown.x - 1
            y: regionLayer.shown.y - 1
            width: regionLayer.shown.width + 2
            height: regionLayer.shown.height + 2
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, 0.6)
            Rectangle {
                anchors.fill: parent
                anchors.margins: 1
                color: "transparent"
                border.width: 2
                border.color: "white"
            }
        }

        Label {
            anchors.centerIn: parent
            width: parent.width - 24
            visible: !root.hasRegion && !drag.pressed
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: qsTr("Drag over the picture to choose a region")
            color: "white"
            font.pixelSize: 13
        }

        MouseArea {
            id: drag
            anchors.fill: parent
            cursorShape: Qt.CrossCursor
            // The pane scrolls: its flick would otherwise take a drag over the picture.
            preventStealing: true
            property point start
            function fraction(value, size) { return Math.min(Math.max(value / size, 0), 1) }
            onPressed: mouse => {
                start = Qt.point(fraction(mouse.x, width), fraction(mouse.y, height))
                root.region = Qt.rect(0, 0, 0, 0)
                root.forceActiveFocus()
            }
            function reach(mouse) {
                const x = fraction(mouse.x, width)
                const y = fraction(mouse.y, height)
                root.region = Qt.rect(Math.min(start.x, x), Math.min(start.y, y),
                                      Math.abs(x - start.x), Math.abs(y - start.y))
            }
            onPositionChanged: mouse => reach(mouse)
            // The release may come where no move was reported.
            onReleased: mouse => {
                reach(mouse)
                if (regionLayer.shown.width < root.minimumRegion
                        || regionLayer.shown.height < root.minimumRegion)
                    root.region = Qt.rect(0, 0, 0, 0)
            }
        }

        // Below the region when there is room, else above it, else inside its bottom; without
        // a region, in the picture's corner.
        Row {
            id: regionActions
            visible: !drag.pressed
            spacing: 6
            readonly property real below: regionLayer.shown.y + regionLayer.shown.height + 6
            readonly property real above: regionLayer.shown.y - height - 6
            x: !root.hasRegion ? parent.width - width - 8
               : Math.min(Math.max(regionLayer.shown.x + regionLayer.shown.width - width, 4),
                          parent.width - width - 4)
            y: !root.hasRegion ? parent.height - height - 8
               : below + height <= parent.height - 4 ? below
               : above >= 4 ? above
               : Math.max(4, regionLayer.shown.y + regionLayer.shown.height - height - 6)
            Button {
                objectName: "cancelRegionButton"
                text: qsTr("Cancel")
                Accessible.name: qsTr("Cancel choosing a region")
                onClicked: root.cancelRegion()
            }
            Button {
                objectName: "searchRegionButton"
                visible: root.hasRegion
                highlighted: true
                text: qsTr("Search This Region")
                Accessible.name: text
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Return")
                onClicked: root.searchRegion()
            }
        }
    }

    // The keyboard's ring stays on top while a region is chosen.
    Rectangle {
        anchors.fill: frame
        visible: root.drawingRegion && root.activeFocus
        radius: 8
        color: "transparent"
        border.width: 2
        border.color: palette.highlight
    }
}
