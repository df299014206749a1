// SPDX-License-Identifier: GPL-3.0-or-later
// A tooltip that shows its text as it stands: the names of files, folders and drives in it
// are never taken for markup.
import QtQuick
import QtQuick.Controls

ToolTip {
    id: tip
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: tip.font
        color: tip.palette.toolTipText
    }
}
