// SPDX-License-Identifier: GPL-3.0-or-later
// One line, while the demo model is in use, that offers a model that searches by meaning:
// its download from here, its progress, and the way to choosing it once it is here.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmere

RowLayout {
    id: offer
    objectName: "modelOffer"

    property AppModel app
    readonly property ModelDownloads downloads: app ? app.downloads : null
    readonly property string state: downloads ? downloads.offerState : ""

    visible: downloads !== null && downloads.offered
    spacing: 10

    SystemPalette {
        id: palette
    }

    Label {
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        text: offer.downloads ? offer.downloads.offer : ""
        textFormat: Text.PlainText
        color: offer.state === "failed" ? "#c5221f" : palette.placeholderText
    }
    ProgressBar {
        visible: offer.state === "downloading"
        value: offer.downloads ? offer.downloads.offerProgress : 0
        Layout.preferredWidth: 100
    }
    Button {
        objectName: "modelOfferButton"
        text: offer.state === "downloading" ? qsTr("Cancel")
              : offer.state === "downloaded" ? qsTr("Choose…")
              : qsTr("Download")
        onClicked: {
            if (offer.state === "downloading")
                offer.downloads.cancel()
            else if (offer.state === "downloaded")
                AppCommands.showModelSettings()
            else
                offer.downloads.download(offer.downloads.offerId)
        }
    }
}
