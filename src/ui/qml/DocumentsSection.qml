import QtQuick
import QtQuick.Layouts
import Tavrilo.Ui

// The documents card's content: the working material (research document, changes, live browser,
// build shell).
ColumnLayout {
    id: section
    required property var model
    required property HubViewState viewState

    spacing: 16

    SectionHeader {
        model: section.model
        title: "Documents"
        caption: "WORKING MATERIAL"
        icon: "doc.on.doc"
    }
    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true
    }
}
