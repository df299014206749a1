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
    readonly property int state: downloads ? downloads.offerState : ModelDownloads.Available

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
        color: offer.state === ModelDownloads.Failed ? "#c5221f" : palette.placeholderText
    }
    ProgressBar {
        visible: offer.state === ModelDownloads.Downloading
        value: offer.downloads ? offer.downloads.offerProgress : 0
        Layout.preferredWidth: 100
    }
    Button {
        objectName: "modelOfferButton"
        text: offer.state === ModelDownloads.Downloading ? qsTr("Cancel")
              : offer.state === ModelDownloads.Downloaded ? qsTr("Choose…")
              : qsTr("Download")
        onClicked: {
            if (offer.state === ModelDownloads.Downloading)
                offer.downloads.cancel()
            else if (offer.state === ModelDownloads.Downloaded)
                AppCommands.showModelSettings()
            else
                offer.downloads.download(offer.downloads.offerId)
        }
    }
}
