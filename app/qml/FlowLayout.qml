// SPDX-License-Identifier: GPL-3.0-or-later
// Lays its children out in rows, left to right, each row centred; a child that does not fit
// in the row's width starts a new row, and a child wider than the width gets a row of its own.
import QtQuick

Item {
    id: root
    property real spacing: 8
    // The width offered from outside; below 0 when none is, and then rows wrap at 600.
    property real proposedWidth: -1
    readonly property real arrangeWidth: proposedWidth >= 0 ? proposedWidth : 600
    // The rows of the last arrangement: { items: [child index], width, height }.
    property var rows: []

    // The rows for children of the given natural sizes ([{ w, h }]) within maxWidth.
    function arrange(sizes, maxWidth) {
        let result = [{ items: [], width: 0, height: 0 }]
        for (let i = 0; i < sizes.length; ++i) {
            let row = result[result.length - 1]
            const w = sizes[i].w
            if (row.items.length > 0 && maxWidth < row.width + spacing + w) {
                row = { items: [], width: 0, height: 0 }
                result.push(row)
            }
            row.width += w + (row.items.length > 0 ? spacing : 0)
            row.height = Math.max(row.height, sizes[i].h)
            row.items.push(i)
        }
        return result
    }

    function shown() {
        let list = []
        for (let i = 0; i < children.length; ++i) {
            // A Repeater stands among the children it makes but is not laid out.
            if (children[i].visible && !("delegate" in children[i]))
                list.push(children[i])
        }
        return list
    }

    function relayout() {
        const items = shown()
        const sizes = items.map(item => ({ w: item.implicitWidth, h: item.implicitHeight }))
        const made = arrange(sizes, arrangeWidth)
        let widest = 0
        let height = 0
        for (const row of made)
            widest = Math.max(widest, row.width)
        for (const row of made)
            height += row.height
        implicitWidth = proposedWidth >= 0 ? proposedWidth : widest
        implicitHeight = height + spacing * (made.length - 1)
        // Placement within the width the item was given.
        const placed = arrange(sizes, width > 0 ? width : arrangeWidth)
        const areaWidth = width > 0 ? width : implicitWidth
        let y = 0
        for (const row of placed) {
            let x = (areaWidth - row.width) / 2
            for (const index of row.items) {
                const item = items[index]
                item.x = x
                item.y = y
                item.width = item.implicitWidth
                item.height = item.implicitHeight
                x += item.implicitWidth + spacing
            }
            y += row.height + spacing
        }
        rows = placed
    }

    onWidthChanged: relayoutLater.restart()
    onProposedWidthChanged: relayoutLater.restart()
    onSpacingChanged: relayoutLater.restart()
    property var watched: []
    onChildrenChanged: {
        for (let i = 0; i < children.length; ++i) {
            const child = children[i]
            if (watched.indexOf(child) >= 0)
                continue
            watched.push(child)
            child.implicitWidthChanged.connect(relayoutLater.restart)
            child.implicitHeightChanged.connect(relayoutLater.restart)
            child.visibleChanged.connect(relayoutLater.restart)
        }
        relayoutLater.restart()
    }
    Component.onCompleted: relayout()

    // Many changes in one turn of the event loop lay out once.
    Timer {
        id: relayoutLater
        interval: 0
        onTriggered: root.relayout()
    }
}
