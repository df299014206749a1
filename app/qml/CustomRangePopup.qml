// SPDX-License-Identifier: GPL-3.0-or-later
// The custom date range: a first and a last day or month, typed, either side may stay open.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

Popup {
    id: popup
    objectName: "customRangePopup"
    required property SearchModel search

    focus: true
    padding: 14
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    onAboutToShow: {
        from.text = search.customFrom
        to.text = search.customTo
        problem.text = ""
        from.forceActiveFocus()
    }

    function apply() {
        problem.text = search.setCustomRange(from.text, to.text)
        if (problem.text === "") close()
    }

    ColumnLayout {
        spacing: 8

        GridLayout {
            columns: 2
            rowSpacing: 6
            columnSpacing: 10
            Label { text: qsTr("From") }
            TextField {
                id: from
                objectName: "customFrom"
                Layout.preferredWidth: 150
                placeholderText: qsTr("2024-06-01")
                Accessible.name: qsTr("First day or month")
                onAccepted: popup.apply()
            }
            Label { text: qsTr("To") }
            TextField {
                id: to
                objectName: "customTo"
                Layout.preferredWidth: 150
                placeholderText: qsTr("2024-08")
                Accessible.name: qsTr("Last day or month")
                onAccepted: popup.apply()
            }
        }

        Label {
            Layout.maximumWidth: 260
            text: qsTr("A day like 2024-06-01 or a month like 2024-06; the last one is included.")
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: palette.placeholderText
        }

        Label {
            id: problem
            objectName: "customRangeProblem"
            Layout.maximumWidth: 260
            visible: text !== ""
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "#c5221f"
            Accessible.role: Accessible.AlertMessage
        }

        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button {
                text: qsTr("Cancel")
                onClicked: popup.close()
            }
            Button {
                objectName: "applyCustomRange"
                text: qsTr("Apply")
                highlighted: true
                onClicked: popup.apply()
            }
        }
    }
}
