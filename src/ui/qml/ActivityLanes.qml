import QtQuick
import Tavrilo.Ui

// The workforce section's activity lanes. Set activeMask (bit i: lane i's specialist is working)
// and velocity (tokens per second); the picture animates by itself. On a scene graph that runs
// shaders the lanes shader draws it; on the software one LanesRenderer paints the same picture.
LanesRenderer {
    id: view

    Loader {
        anchors.fill: parent
        active: view.shaderSupported
        sourceComponent: Item {
            ShaderEffect {
                id: lanes
                anchors.fill: parent
                readonly property real time: view.time
                readonly property int activeMask: view.activeMask
                readonly property real velocity: view.velocity
                fragmentShader: "qrc:/qt/qml/Tavrilo/Ui/shaders/lanes.frag.qsb"
                layer.enabled: true
                layer.effect: ShaderEffect {
                    readonly property size itemSize: Qt.size(width, height)
                    readonly property real radius: view.cornerRadius
                    fragmentShader: "qrc:/qt/qml/Tavrilo/Ui/shaders/roundedCorners.frag.qsb"
                }
            }
            Rectangle {
                anchors.fill: parent
                radius: view.cornerRadius
                color: view.failureColour
                visible: lanes.status === ShaderEffect.Error
            }
        }
    }
}
