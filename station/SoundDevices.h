// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QString>

// Finding the sound devices named in the settings (AUDIOIN, AUDIOOUT: a description as Qt lists it, or the
// system's name for the device shown in brackets by --list-devices; empty for the system default) and
// picking a 16-bit format they take.
namespace sound {

struct DeviceChoice {
    QAudioDevice device; // null: none to use
    QString problem;     // for the log: the device asked for is missing (a default is used), or there is none
};

DeviceChoice chooseOutput(const QString& description);
DeviceChoice chooseInput(const QString& description);

// 16-bit at the first of these rates the device takes (mono, or the device's preferred channel count for
// output), falling back to its preferred rate; an invalid format when it takes none.
QAudioFormat pickFormat(const QAudioDevice& device, std::initializer_list<int> rates, bool monoOnly);

// Why a device stopped, for the log.
QString errorText(QAudio::Error error);

// What --list-devices prints: outputs, then inputs, each as "description  [system name]", defaults marked.
QString deviceListText();

} // namespace sound
