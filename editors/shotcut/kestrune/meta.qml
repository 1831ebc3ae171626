// Made by tools/editordesc from the plug-in and docs/params/kestrune.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Frame Difference (kestrune)")
    keywords: qsTr("Compares each frame with an earlier one and shows what changed: a negative overlay, the absolute difference or a motion mask") + ' kestrune'
    mlt_service: "frei0r.kestrune"
    qml: "ui.qml"
    icon: "icon.png"

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['0', '2', '3', '4']
        parameters: [
            Parameter {
                name: qsTr("Time offset")
                property: '0'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Blend")
                property: '2'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Contrast")
                property: '3'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Threshold")
                property: '4'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
