import QtQuick
import QtQuick.Window
import QtWebEngine
import Tavrilo.Platform.SignIn

// The hosted sign-in page in a window of its own. The session shows, closes and ends it; the page
// decides every navigation.
Window {
    id: window

    required property SignInPage page
    required property WebEngineProfile profile

    title: qsTr("Sign in to Tavrilo")
    width: 480
    height: 640

    WebEngineView {
        anchors.fill: parent
        profile: window.profile
        url: window.page.url

        onNavigationRequested: function (request) {
            if (!window.page.acceptsNavigation(request.url, request.isMainFrame))
                request.reject();
        }
        onRenderProcessTerminated: window.page.renderProcessEnded()
    }
}
