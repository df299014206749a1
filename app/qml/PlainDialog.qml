// SPDX-License-Identifier: GPL-3.0-or-later
// A dialog whose title is shown as it is: a folder or model name in it is never read as markup.
import QtQuick
import QtQuick.Controls

Dialog {
    id: dialog

    header: Label {
        text: dialog.title
        visible: dialog.title !== ""
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.bold: true
        padding: 6
        background: Rectangle {
            x: 1
            y: 1
            width: parent.width - 2
            height: parent.height - 1
            color: dialog.palette.window
            radius: 2
        }
    }
}
