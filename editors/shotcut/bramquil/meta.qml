// Made by tools/editordesc from the plug-in and docs/params/bramquil.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Slit Scan (bramquil)")
    keywords: qsTr("Lays the slits (columns or rows) of consecutive frames side by side, flat (Scan) or as a tunnel of light (Stargate)") + ' bramquil'
    mlt_service: "frei0r.bramquil"
    qml: "ui.qml"
    icon: "icon.png"

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['1', '3', '5', '6']
        parameters: [
            Parameter {
                name: qsTr("Position")
                property: '1'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Width")
                property: '3'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Depth")
                property: '5'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Fade")
                property: '6'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
