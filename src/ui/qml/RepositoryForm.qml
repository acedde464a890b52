import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrilo.Ui

// The repository entry: an HTTPS address and a branch or tag, kept in the root view's state so
// that hiding the form, signing out or a failed opening loses nothing. The strings go to the model
// as typed; trimming, checking the address and every message are the opening's own.
ColumnLayout {
    id: form
    required property var model
    required property HubViewState viewState
    required property string buttonText

    spacing: 8

    TextField {
        objectName: "repositoryAddress"
        Layout.fillWidth: true
        placeholderText: qsTr("HTTPS repository address")
        text: form.viewState.repositoryAddress
        onTextEdited: form.viewState.repositoryAddress = text
        Accessible.name: qsTr("HTTPS repository address without embedded credentials")
    }
    RowLayout {
        Layout.fillWidth: true

        TextField {
            objectName: "repositoryRef"
            Layout.fillWidth: true
            placeholderText: qsTr("Branch or tag (optional)")
            text: form.viewState.repositoryRef
            onTextEdited: form.viewState.repositoryRef = text
            Accessible.name: placeholderText
        }
        Button {
            objectName: "repositoryOpen"
            text: form.buttonText
            // Read when pressed: the opening gets the fields as they are then.
            onClicked: form.model.actions.openRepository(form.viewState.repositoryAddress,
                                                         form.viewState.repositoryRef)
        }
    }
    Text {
        Layout.fillWidth: true
        text: qsTr("Uses the shared project opener. Existing checkouts and uncommitted work are preserved; Git access must be noninteractive.")
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: HubFonts.font("default", 9)
        color: HubPalette.muted
    }
}
