pragma Singleton
import QtQuick

// Every named symbol of the window, as an icon of the Adwaita theme (symbolic, recoloured through
// `icon.color`). The theme is chosen by the application, never taken from the desktop. Where no
// Adwaita icon draws the same thing the nearest one stands in, and the line says so. The brand's
// waveform has no stand-in that reads as one; `HubBrand` draws it.
QtObject {
    readonly property var table: ({
        "arrow.clockwise": "view-refresh-symbolic",
        "arrow.up": "go-up-symbolic",
        "arrow.up.right": "send-to-symbolic",                  // nearest: "open elsewhere"
        "checkmark.circle.fill": "emblem-ok-symbolic",
        "checkmark.shield": "security-high-symbolic",
        "chevron.down": "pan-down-symbolic",
        "chevron.right": "pan-end-symbolic",
        "chevron.up": "pan-up-symbolic",
        "circle.dashed": "content-loading-symbolic",           // nearest: a waiting circle
        "doc": "text-x-generic-symbolic",
        "doc.on.doc": "edit-copy-symbolic",
        "doc.text": "x-office-document-symbolic",
        "doc.text.magnifyingglass": "edit-find-symbolic",      // nearest: a search glass
        "exclamationmark.circle.fill": "dialog-error-symbolic",
        "exclamationmark.triangle": "dialog-warning-symbolic",
        "folder": "folder-symbolic",
        "globe": "web-browser-symbolic",
        "lock.shield": "channel-secure-symbolic",
        "person.2": "system-users-symbolic",
        "person.3.sequence": "system-users-symbolic",          // nearest: a group, not a sequence
        "plus": "list-add-symbolic",
        "point.3.connected.trianglepath.dotted": "network-workgroup-symbolic", // nearest: connected nodes
        "rectangle.3.group": "view-grid-symbolic",
        "square.stack.3d.up": "view-paged-symbolic",           // nearest: stacked pages
        "terminal": "utilities-terminal-symbolic",
        "text.alignleft": "format-justify-left-symbolic",
        "text.bubble": "chat-message-new-symbolic",
        "xmark.circle.fill": "window-close-symbolic"
    })

    // The theme icon name of `symbol`; a symbol missing from the table shows the "missing" icon.
    function name(symbol) {
        const found = table[symbol]
        return found === undefined ? "image-missing-symbolic" : found
    }
}
