// Made by tools/editordesc from the plug-in and docs/params/kestrune.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    keyframableParameters: ['0', '2', '3', '4']
    startValues: [0.1, 0.5, 0, 0]
    middleValues: [0.1, 0.5, 0, 0]
    endValues: [0.1, 0.5, 0, 0]
    width: 350
    height: 266

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
        c1.currentIndex = nearest(c1.values, filter.getDouble('1'));
        c5.checked = filter.getDouble('5') >= 0.5;
        blockUpdate = false;
    }

    function setKeyframableControls() {
        var position = getPosition();
        blockUpdate = true;
        c0.value = filter.getDouble('0', position) * 2;
        k0.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('0') > 0;
        c2.value = filter.getDouble('2', position) * 100;
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
        c2.enabled = enabled;
        c3.enabled = enabled;
        c4.enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setKeyframableControls();
        updateFilter('0', c0.value / 2, k0, null);
        updateFilter('2', c2.value / 100, k2, null);
        updateFilter('3', c3.value / 100, k3, null);
        updateFilter('4', c4.value / 100, k4, null);
    }

    Component.onCompleted: {
        // Whole frames, in order, to one instance: MLT takes threads 0 as
        // one slice of the frame per processor.
        filter.set('threads', 1);
        if (filter.isNew) {
            filter.set('0', 0);
            filter.set('1', 0);
            filter.set('2', 0.5);
            filter.set('3', 0.25);
            filter.set('4', 0.02);
            filter.set('5', 0);
            filter.savePreset(preset.parameters, qsTr("Negative overlay"));
            filter.set('0', 0);
            filter.set('1', 0.5);
            filter.set('2', 0.5);
            filter.set('3', 0.5);
            filter.set('4', 0.04);
            filter.set('5', 0);
            filter.savePreset(preset.parameters, qsTr("Absolute difference"));
            filter.set('0', 0);
            filter.set('1', 1);
            filter.set('2', 0.5);
            filter.set('3', 0.75);
            filter.set('4', 0.04);
            filter.set('5', 0);
            filter.savePreset(preset.parameters, qsTr("Motion mask"));
            filter.set('0', 0);
            filter.set('1', 0.5);
            filter.set('2', 0.5);
            filter.set('3', 1);
            filter.set('4', 0.06);
            filter.set('5', 1);
            filter.savePreset(preset.parameters, qsTr("Luma difference"));
        }
        if (filter.isNew || filter.get('0') === '')
            filter.set('0', 0.1);
        if (filter.isNew || filter.get('1') === '')
            filter.set('1', 0);
        if (filter.isNew || filter.get('2') === '')
            filter.set('2', 0.5);
        if (filter.isNew || filter.get('3') === '')
            filter.set('3', 0);
        if (filter.isNew || filter.get('4') === '')
            filter.set('4', 0);
        if (filter.isNew || filter.get('5') === '')
            filter.set('5', 0);
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

            parameters: ['0', '1', '2', '3', '4', '5']
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: qsTr("Time offset")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c0

            minimumValue: 0
            maximumValue: 2
            decimals: 2
            stepSize: 0.01
            suffix: " s"
            onValueChanged: updateFilter('0', value / 2, k0, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c0.value = 0.2;
            }
        }

        Shotcut.KeyframesButton {
            id: k0

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '0', c0.value / 2);
            }
        }

        Label {
            text: qsTr("Mode")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: c1

            property var values: [0, 0.5, 1]

            model: [qsTr("Negative overlay"), qsTr("Absolute difference"), qsTr("Motion mask")]
            onActivated: filter.set('1', values[currentIndex])
        }

        Shotcut.UndoButton {
            onClicked: {
                c1.currentIndex = 0;
                filter.set('1', 0);
            }
        }

        Item {
            width: 1
        }

        Label {
            text: qsTr("Blend")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c2

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            stepSize: 0.1
            suffix: " %"
            onValueChanged: updateFilter('2', value / 100, k2, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c2.value = 50;
            }
        }

        Shotcut.KeyframesButton {
            id: k2

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '2', c2.value / 100);
            }
        }

        Label {
            text: qsTr("Contrast")
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
                c3.value = 0;
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
            text: qsTr("Threshold")
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
                c4.value = 0;
            }
        }

        Shotcut.KeyframesButton {
            id: k4

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '4', c4.value / 100);
            }
        }

        Label {
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: c5

            text: qsTr("Monochrome")
            onClicked: filter.set('5', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                c5.checked = false;
                filter.set('5', 0);
            }
        }

        Item {
            width: 1
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
