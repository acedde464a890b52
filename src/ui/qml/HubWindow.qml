import QtQuick
import Tavrilo.Ui
import QtQuick.Controls

// The one workspace window. The application closes it through its close guard and quits through
// its quit guard; neither is reachable from here.
Window {
    id: window
    required property var model

    objectName: "workspace"
    title: qsTr("Tavrilo · Workspace")
    minimumWidth: 1000
    minimumHeight: 700
    width: 1000
    height: 700
    color: HubPalette.paper
    visible: true

    HubView {
        objectName: "hubView"
        anchors.fill: parent
        model: window.model
    }
}
