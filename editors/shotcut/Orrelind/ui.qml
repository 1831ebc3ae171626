// Made by tools/editordesc from the plug-in and docs/params/Orrelind.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    keyframableParameters: ['0', '1', '2', '3', '4']
    startValues: [0.5, 0.5, 0.5, 0.5, 0.5]
    middleValues: [0.5, 0.5, 0.5, 0.5, 0.5]
    endValues: [0.5, 0.5, 0.5, 0.5, 0.5]
    width: 350
    height: 230

    function nearest(values, v) {
        var best = 0;
        for (var i = 1; i < values.length; i++)
            if (Math.abs(values[i] - v) < Math.abs(values[best] - v))
                best = i;
        return best;
    }

    function setControls() {
        setKeyframableControls();
        blockUpdate = true;
        blockUpdate = false;
    }

    function setKeyframableControls() {
        var position = getPosition();
        blockUpdate = true;
        c0.value = filter.getDouble('0', position) * 1440 + (-720);
        k0.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('0') > 0;
        c1.value = filter.getDouble('1', position) * 2 + (-1);
        k1.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('1') > 0;
        c2.value = filter.getDouble('2', position) * 2;
        k2.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('2') > 0;
        c3.value = filter.getDouble('3', position) * 100;
        k3.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('3') > 0;
        c4.value = filter.getDouble('4', position) * 100;
        k4.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('4') > 0;
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        c0.enabled = enabled;
        c1.enabled = enabled;
        c2.enabled = enabled;
        c3.enabled = enabled;
        c4.enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setKeyframableControls();
        updateFilter('0', (c0.value - (-720)) / 1440, k0, null);
        updateFilter('1', (c1.value - (-1)) / 2, k1, null);
        updateFilter('2', c2.value / 2, k2, null);
        updateFilter('3', c3.value / 100, k3, null);
        updateFilter('4', c4.value / 100, k4, null);
    }

    Component.onCompleted: {
        // Whole frames, in order, to one instance: MLT takes threads 0 as
        // one slice of the frame per processor.
        filter.set('threads', 1);
        if (filter.isNew) {
            filter.set('0', 0.75);
            filter.set('1', 0.5);
            filter.set('2', 0.5);
            filter.set('3', 0.5);
            filter.set('4', 0.5);
            filter.savePreset(preset.parameters, qsTr("Whirl 360°"));
            filter.set('0', 0.5);
            filter.set('1', 0.85);
            filter.set('2', 0.6);
            filter.set('3', 0.5);
            filter.set('4', 0.5);
            filter.savePreset(preset.parameters, qsTr("Pinch"));
            filter.set('0', 0.5);
            filter.set('1', 0.15);
            filter.set('2', 0.6);
            filter.set('3', 0.5);
            filter.set('4', 0.5);
            filter.savePreset(preset.parameters, qsTr("Bulge"));
            filter.set('0', 0.3);
            filter.set('1', 0.7);
            filter.set('2', 0.4);
            filter.set('3', 0.3);
            filter.set('4', 0.6);
            filter.savePreset(preset.parameters, qsTr("Whirl and pinch off centre"));
        }
        if (filter.isNew || filter.get('0') === '')
            filter.set('0', 0.5);
        if (filter.isNew || filter.get('1') === '')
            filter.set('1', 0.5);
        if (filter.isNew || filter.get('2') === '')
            filter.set('2', 0.5);
        if (filter.isNew || filter.get('3') === '')
            filter.set('3', 0.5);
        if (filter.isNew || filter.get('4') === '')
            filter.set('4', 0.5);
        if (filter.isNew)
            filter.savePreset(preset.parameters);
        setControls();
    }

    GridLayout {
        anchors.fill: parent
        anchors.margins: 8
        columns: 4

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            id: preset

            parameters: ['0', '1', '2', '3', '4']
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: qsTr("Whirl")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c0

            minimumValue: -720
            maximumValue: 720
            decimals: 1
            stepSize: 0.1
            suffix: "°"
            onValueChanged: updateFilter('0', (value - (-720)) / 1440, k0, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c0.value = 0;
            }
        }

        Shotcut.KeyframesButton {
            id: k0

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '0', (c0.value - (-720)) / 1440);
            }
        }

        Label {
            text: qsTr("Pinch")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c1

            minimumValue: -1
            maximumValue: 1
            decimals: 3
            stepSize: 0.001
            onValueChanged: updateFilter('1', (value - (-1)) / 2, k1, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c1.value = 0;
            }
        }

        Shotcut.KeyframesButton {
            id: k1

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '1', (c1.value - (-1)) / 2);
            }
        }

        Label {
            text: qsTr("Radius")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c2

            minimumValue: 0
            maximumValue: 2
            decimals: 3
            stepSize: 0.001
            onValueChanged: updateFilter('2', value / 2, k2, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c2.value = 1;
            }
        }

        Shotcut.KeyframesButton {
            id: k2

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '2', c2.value / 2);
            }
        }

        Label {
            text: qsTr("Centre X")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c3

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            stepSize: 0.1
            suffix: " %"
            onValueChanged: updateFilter('3', value / 100, k3, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c3.value = 50;
            }
        }

        Shotcut.KeyframesButton {
            id: k3

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '3', c3.value / 100);
            }
        }

        Label {
            text: qsTr("Centre Y")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c4

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            stepSize: 0.1
            suffix: " %"
            onValueChanged: updateFilter('4', value / 100, k4, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c4.value = 50;
            }
        }

        Shotcut.KeyframesButton {
            id: k4

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '4', c4.value / 100);
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setKeyframableControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged() {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setKeyframableControls();
        }

        target: producer
    }
}
