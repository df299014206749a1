// SPDX-License-Identifier: GPL-3.0-or-later
// The results, best first, in a grid whose columns adapt to the width and the tile width
// preference. The arrow keys move the selection (Up and Down by a row), Space peeks, Return
// opens.
import QtQuick
import QtQuick.Controls
import Quillmere

GridView {
    id: grid
    required property AppModel app
    property real tileWidth: Tiles.tileWidth
    // How many columns Up and Down move by.
    readonly property int columns: columnCount(width, tileWidth)
    readonly property int shownColumns: Math.max(1, Math.min(count, columns))
    // The width each tile gets: the row shared out, no wider than 1.6 tile widths.
    readonly property real columnWidth: Math.min(tileWidth * 1.6,
                                                 (width - 36 - 14 * (columns - 1)) / columns)

    signal peekToggled()
    signal openRequested(var frameId)
    signal menuRequested(var frameId, Item tile, real x, real y)

    function columnCount(areaWidth, tile) {
        return Math.max(1, Math.floor((areaWidth - 36 + 14) / (tile + 14)))
    }
    function selectedIndex() { return app.search.selectedRow }
    function moveSelection(step) {
        if (count === 0)
            return
        const next = Math.min(count - 1, Math.max(0, selectedIndex() + step))
        app.search.selection = app.search.results.frameAt(next)
    }
    function hasSelection() { return selectedIndex() >= 0 }
    // Brings the tile into view with a short glide rather than a jump, so the eye can follow
    // where the selection went.
    function scrollToIndex(index) {
        scrolling.stop()
        const from = contentY
        positionViewAtIndex(index, GridView.Contain)
        const to = contentY
        if (to === from)
            return
        contentY = from
        scrolling.from = from
        scrolling.to = to
        scrolling.start()
    }

    model: app.search.results
    clip: true
    focus: true
    activeFocusOnTab: true
    keyNavigationEnabled: false
    Accessible.role: Accessible.List
    Accessible.name: qsTr("Results")
    boundsBehavior: Flickable.StopAtBounds
    reuseItems: true
    cacheBuffer: 400
    leftMargin: 18 + Math.max(0, (width - 36 - columns * columnWidth - 14 * (columns - 1)) / 2)
    // The last column's 14 of spacing lies inside the cell, so the margin is the rest of 18.
    rightMargin: 4
    topMargin: 18
    bottomMargin: 18
    cellWidth: columnWidth + 14
    cellHeight: Math.round(columnWidth / 1.6) + 6 + 16 + 16
    highlightFollowsCurrentItem: false
    ScrollBar.vertical: ScrollBar {}

    // The selection's menu, from the keyboard, under its tile.
    function openMenu() {
        if (hasSelection() && currentItem)
            menuRequested(app.search.selection, currentItem, 12, currentItem.height / 2)
    }

    Keys.onPressed: event => {
        switch (event.key) {
        case Qt.Key_Left: moveSelection(-1); break
        case Qt.Key_Right: moveSelection(1); break
        case Qt.Key_Up: moveSelection(-columns); break
        case Qt.Key_Down: moveSelection(columns); break
        case Qt.Key_Space:
            if (hasSelection())
                peekToggled()
            break
        case Qt.Key_Return:
        case Qt.Key_Enter:
            if (hasSelection())
                openRequested(app.search.selection)
            break
        case Qt.Key_Menu:
            openMenu()
            break
        case Qt.Key_F10:
            if (!(event.modifiers & Qt.ShiftModifier)) {
                event.accepted = false
                return
            }
            openMenu()
            break
        case Qt.Key_Escape:
            // An open peek has the keys and closes first; then Escape clears the search, as
            // the clear button's shortcut.
            if (app.search.query === "") {
                event.accepted = false
                return
            }
            app.search.query = ""
            break
        default:
            event.accepted = false
            return
        }
        event.accepted = true
    }

    NumberAnimation {
        id: scrolling
        target: grid
        property: "contentY"
        duration: 150
        easing.type: Easing.OutCubic
    }

    Connections {
        target: grid.app.search
        function onSelectionChanged() {
            const index = grid.selectedIndex()
            if (index < 0)
                return
            grid.currentIndex = index
            grid.scrollToIndex(index)
        }
        // A new search's answer shows from its top: a re-run keeps the tiles and the scroll.
        function onResultsReplaced() {
            scrolling.stop()
            grid.currentIndex = grid.selectedIndex()
            grid.positionViewAtBeginning()
        }
    }

    delegate: ResultTile {
        required property int index
        required property var model
        width: grid.columnWidth
        imageWidth: grid.columnWidth
        app: grid.app
        selected: grid.app.search.selection === frameId
        badgeTime: model.openTimecode
        cornerColor: grid.palette.window
        offlineNote: model.offlineNote
        foundByText: model.foundByText
        onClicked: {
            grid.app.search.selection = frameId
            grid.forceActiveFocus()
        }
        onDoubleClicked: {
            grid.app.search.selection = frameId
            grid.openRequested(frameId)
        }
        onMenuRequested: (x, y) => {
            grid.app.search.selection = frameId
            grid.menuRequested(frameId, this, x, y)
        }
    }
}
