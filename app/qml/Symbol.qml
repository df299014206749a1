// SPDX-License-Identifier: GPL-3.0-or-later
// A small symbol drawn from path data in a 16-unit square, in one colour, so that it never
// depends on a font having the glyph.
import QtQuick

Canvas {
    id: root
    property string name
    property color color: "black"
    property real size: 16

    // Each symbol: [path, "fill" | "stroke", line width] in a 16 × 16 box.
    readonly property var symbols: ({
        "search": [["M10.5 6.5a4 4 0 1 1-8 0a4 4 0 1 1 8 0z", "stroke", 1.7],
                   ["M9.6 9.6l4.6 4.6", "stroke", 2]],
        "sparkleSearch": [["M11.8 6.8a5.6 5.6 0 1 1-11.2 0a5.6 5.6 0 1 1 11.2 0z", "stroke", 0.8],
                          ["M10.3 10.3l4.6 4.6", "stroke", 1.1],
                          ["M6.2 2.6l0.8 2.5 2.5 0.8-2.5 0.8-0.8 2.5-0.8-2.5-2.5-0.8 2.5-0.8z", "fill", 0],
                          ["M10 1.2l0.4 1 1 0.4-1 0.4-0.4 1-0.4-1-1-0.4 1-0.4z", "fill", 0]],
        "warning": [["M8 1.8L15 14.2H1z", "stroke", 1.1], ["M8 6v4.2", "stroke", 1.3],
                    ["M8.8 12a0.8 0.8 0 1 1-1.6 0a0.8 0.8 0 1 1 1.6 0z", "fill", 0]],
        "hourglass": [["M4 1.5h8M4 14.5h8M5 1.5c0 3.5 6 4 6 6.5s-6 3-6 6.5M11 1.5c0 3.5-6 4-6 6.5s6 3 6 6.5", "stroke", 1],
                      ["M6 13.5c0.4-1.8 3.6-1.8 4 0z", "fill", 0]],
        "magnifier": [["M11.8 6.8a5.6 5.6 0 1 1-11.2 0a5.6 5.6 0 1 1 11.2 0z", "stroke", 1.1],
                      ["M10.3 10.3l4.6 4.6", "stroke", 1.5]],
        "photo": [["M3.5 2.5h9a2 2 0 0 1 2 2v7a2 2 0 0 1-2 2h-9a2 2 0 0 1-2-2v-7a2 2 0 0 1 2-2z", "stroke", 1.3],
                  ["M3 12l3.5-4.5 2.5 3 1.5-1.8L13 12z", "fill", 0],
                  ["M12.1 5.6a1.3 1.3 0 1 1-2.6 0a1.3 1.3 0 1 1 2.6 0z", "fill", 0]],
        "clear": [["M15 8a7 7 0 1 1-14 0a7 7 0 1 1 14 0z", "fill", 0]],
        "clearMark": [["M5.5 5.5l5 5M10.5 5.5l-5 5", "stroke", 1.6]],
        "close": [["M3.5 3.5l9 9M12.5 3.5l-9 9", "stroke", 1.8]],
        "play": [["M4 2.5v11l9.5-5.5z", "fill", 0]],
        "pause": [["M3.5 2.5h3v11h-3zM9.5 2.5h3v11h-3z", "fill", 0]],
        "volume": [["M1.5 5.8h2.8l4-3.3v11l-4-3.3H1.5z", "fill", 0],
                   ["M10.8 5.6a3.3 3.3 0 0 1 0 4.8M12.6 3.6a6 6 0 0 1 0 8.8", "stroke", 1.3]],
        "muted": [["M1.5 5.8h2.8l4-3.3v11l-4-3.3H1.5z", "fill", 0],
                  ["M10.7 6l4 4M14.7 6l-4 4", "stroke", 1.4]],
        "driveOffline": [["M2.5 8.5h8v5h-8a1.2 1.2 0 0 1-1.2-1.2v-2.6a1.2 1.2 0 0 1 1.2-1.2z", "fill", 0],
                         ["M10.5 1.8l4 4M14.5 1.8l-4 4", "stroke", 1.7]],
        "info": [["M14.6 8a6.6 6.6 0 1 1-13.2 0a6.6 6.6 0 1 1 13.2 0z", "stroke", 1.4],
                 ["M8 7.2v4.3", "stroke", 1.7],
                 ["M9 4.8a1 1 0 1 1-2 0a1 1 0 1 1 2 0z", "fill", 0]],
        "export": [["M5.5 6H3.5v8.5h9V6h-2", "stroke", 1.4], ["M8 10V1.5M5.3 4.2L8 1.5l2.7 2.7", "stroke", 1.4]],
        "fullScreen": [["M1.5 5.5v-4h4M10.5 1.5h4v4M14.5 10.5v4h-4M5.5 14.5h-4v-4", "stroke", 1.5]],
        "preview": [["M3.5 2.5h9a2 2 0 0 1 2 2v7a2 2 0 0 1-2 2h-9a2 2 0 0 1-2-2v-7a2 2 0 0 1 2-2z", "stroke", 1.3],
                    ["M10 3h2.5a1.5 1.5 0 0 1 1.5 1.5v7a1.5 1.5 0 0 1-1.5 1.5H10z", "fill", 0]]
    })

    implicitWidth: size
    implicitHeight: size
    onNameChanged: requestPaint()
    onColorChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const context = getContext("2d")
        context.reset()
        const parts = symbols[name]
        if (!parts)
            return
        const scale = Math.min(width, height) / 16
        context.scale(scale, scale)
        context.lineCap = "round"
        context.lineJoin = "round"
        for (const part of parts) {
            context.beginPath()
            context.path = part[0]
            if (part[1] === "fill") {
                context.fillStyle = root.color
                context.fill()
            } else {
                context.strokeStyle = root.color
                context.lineWidth = part[2]
                context.stroke()
            }
        }
    }
}
