import QtQuick
import Tavrilo.Ui
import QtQuick.Controls

// The root view of the workspace window and of the headless frames: the landing selector until a
// project is entered, then the working screen; the view state every section shares; the composer.
Control {
    id: root
    required property var model
    property bool offscreenExport: false
    // One view state per root view: the headless export makes a new root view, and so a fresh
    // state, for every frame.
    readonly property HubViewState viewState: shared

    font: HubFonts.body
    palette.highlight: HubPalette.green
    palette.window: HubPalette.paper
    palette.base: HubPalette.card
    // Texts by colour group: a role set without a group sets the disabled group too, and a disabled
    // control would read exactly like an enabled one.
    palette.active.windowText: HubPalette.ink
    palette.active.text: HubPalette.ink
    palette.active.buttonText: HubPalette.ink
    palette.inactive.windowText: HubPalette.ink
    palette.inactive.text: HubPalette.ink
    palette.inactive.buttonText: HubPalette.ink
    palette.disabled.windowText: HubPalette.muted
    palette.disabled.text: HubPalette.muted
    palette.disabled.buttonText: HubPalette.muted

    HubViewState {
        id: shared
        model: root.model
        offscreenExport: root.offscreenExport
    }

    // Seconds into the screen switch; its progress follows the layout's spring.
    property real profileTime: 1e9
    readonly property real profileProgress: shared.profileProgress(profileTime)
    readonly property bool working: model.selectedProfile

    NumberAnimation {
        id: profileAnimation
        target: root
        property: "profileTime"
        from: 0
        to: shared.springSeconds
        duration: shared.springSeconds * 1000
    }
    onWorkingChanged: {
        profileAnimation.stop()
        if (shared.springSeconds > 0) {
            profileTime = 0
            profileAnimation.start()
        } else {
            profileTime = 1e9
        }
    }

    background: Rectangle {
        color: HubPalette.paper
    }

    contentItem: Item {
        LandingSelector {
            objectName: "landingSelector"
            anchors.fill: parent
            model: root.model
            viewState: shared
            visible: opacity > 0
            opacity: Math.max(0, Math.min(1, root.working ? 1 - root.profileProgress : root.profileProgress))
        }
        WorkingScreen {
            objectName: "workingScreen"
            width: parent.width
            height: parent.height
            y: shared.reduceMotion ? 0 : 12 * (1 - opacity)
            model: root.model
            viewState: shared
            visible: opacity > 0
            opacity: Math.max(0, Math.min(1, root.working ? root.profileProgress : 1 - root.profileProgress))
        }
    }

    ComposerSheet {
        model: root.model
        viewState: shared
    }
}
