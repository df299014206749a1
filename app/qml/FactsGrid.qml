// SPDX-License-Identifier: GPL-3.0-or-later
// The facts of the shown file: folder, size, when it was taken and changed, and the match
// words.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

GridLayout {
    id: root
    required property PreviewFacts facts
    columns: 2
    rowSpacing: 6
    columnSpacing: 10

    component Fact: Label {
        Layout.alignment: Qt.AlignTop | Qt.AlignLeft
        color: palette.placeholderText
        textFormat: Text.PlainText
    }
    component Value: Label {
        Layout.fillWidth: true
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
    }

    Fact { text: qsTr("Folder"); visible: root.facts.folderPath !== "" }
    TextEdit {
        objectName: "folderValue"
        visible: root.facts.folderPath !== ""
        Layout.fillWidth: true
        Layout.maximumHeight: 3 * font.pixelSize * 1.4
        clip: true
        text: root.facts.folderPath
        textFormat: TextEdit.PlainText
        readOnly: true
        selectByMouse: true
        wrapMode: TextEdit.Wrap
        color: palette.text
        selectionColor: palette.highlight
        selectedTextColor: palette.highlightedText
    }
    Fact { text: qsTr("Size"); visible: root.facts.sizeText !== "" }
    Value { text: root.facts.sizeText; visible: root.facts.sizeText !== "" }
    Fact { text: qsTr("Taken"); visible: root.facts.takenText !== "" }
    Value { objectName: "takenValue"; text: root.facts.takenText; visible: text !== "" }
    Fact { text: qsTr("Modified") }
    Value { text: root.facts.modifiedText }
    Fact {
        text: qsTr("Match")
        HoverHandler { id: matchHover }
        ToolTip.visible: matchHover.hovered
        ToolTip.text: qsTr("How sure Quillmere is that this picture matches your words")
    }
    Value { objectName: "matchValue"; text: root.facts.matchWords }
}
