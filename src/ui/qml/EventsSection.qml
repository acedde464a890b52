import QtQuick
import QtQuick.Layouts
import Tavrilo.Ui

// The events card's content: reconciliation and gates.
ColumnLayout {
    id: section
    required property var model
    required property HubViewState viewState

    spacing: 16

    SectionHeader {
        model: section.model
        title: "Events"
        caption: "RECONCILIATION & GATES"
        icon: "text.alignleft"
    }
    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true
    }
}
