pragma Singleton
import QtQuick

// The window's type: four fixed families from Debian packages (installed by scripts/setup) and the
// weights the views use. No other file names a font family, so frames look the same everywhere.
QtObject {
    readonly property string defaultFamily: "Inter"
    readonly property string serifFamily: "Noto Serif"
    readonly property string monospacedFamily: "DejaVu Sans Mono"
    readonly property string roundedFamily: "Comfortaa"

    readonly property int light: Font.Light
    readonly property int regular: Font.Normal
    readonly property int medium: Font.Medium
    readonly property int semibold: Font.DemiBold
    readonly property int bold: Font.Bold

    // The window's default text: 13 points, regular, default design.
    readonly property font body: Qt.font({ family: defaultFamily, pixelSize: 13, weight: regular })

    // A font of `design` ("default", "serif", "monospaced" or "rounded") at `size` points and `weight`.
    function font(design, size, weight) {
        const family = design === "monospaced" ? monospacedFamily
                     : design === "rounded" ? roundedFamily
                     : design === "serif" ? serifFamily
                     : defaultFamily
        return Qt.font({ family: family, pixelSize: size, weight: weight === undefined ? regular : weight })
    }
}
