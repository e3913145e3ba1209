// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundDevices.h"

#include <QMediaDevices>

namespace sound {
namespace {

DeviceChoice choose(const QList<QAudioDevice>& all, const QAudioDevice& fallback, const QString& wanted,
                    const char* key, const char* kind) {
    DeviceChoice choice;
    if (!wanted.isEmpty()) {
        // Descriptions may repeat (two cards of one kind); the system's own name tells them apart.
        for (const bool byId : {false, true}) {
            for (const QAudioDevice& device : all) {
                if ((byId ? QString::fromUtf8(device.id()) : device.description()) == wanted) {
                    choice.device = device;
                    return choice;
                }
            }
        }
    }
    choice.device = fallback;
    if (choice.device.isNull() && !all.isEmpty()) {
        choice.device = all.first();
    }
    if (choice.device.isNull()) {
        choice.problem = QStringLiteral("no sound %1 device").arg(QLatin1String(kind));
    } else if (!wanted.isEmpty()) {
        choice.problem = QStringLiteral("%1=%2 is not a sound %3 device here (see --list-devices); using %4")
                             .arg(QLatin1String(key), wanted, QLatin1String(kind), choice.device.description());
    }
    return choice;
}

void listInto(QString& text, const char* title, const QList<QAudioDevice>& all, const QAudioDevice& fallback) {
    text += QLatin1String(title) + QLatin1Char('\n');
    if (all.isEmpty()) {
        text += QStringLiteral("  (none)\n");
    }
    for (const QAudioDevice& device : all) {
        text += QStringLiteral("  %1  [%2]%3\n")
                    .arg(device.description(), QString::fromUtf8(device.id()),
                         device.id() == fallback.id() ? QStringLiteral("  (default)") : QString());
    }
}

} // namespace

DeviceChoice chooseOutput(const QString& description) {
    return choose(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(), description, "AUDIOOUT",
                  "output");
}

DeviceChoice chooseInput(const QString& description) {
    return choose(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), description, "AUDIOIN", "input");
}

QAudioFormat pickFormat(const QAudioDevice& device, std::initializer_list<int> rates, bool monoOnly) {
    const QAudioFormat preferred = device.preferredFormat();
    QList<int> channelChoices{1};
    if (!monoOnly && preferred.channelCount() > 1) {
        channelChoices.prepend(preferred.channelCount());
    }
    QList<int> rateChoices(rates);
    rateChoices << preferred.sampleRate();
    for (const int channels : channelChoices) {
        for (const int rate : rateChoices) {
            QAudioFormat format;
            format.setSampleFormat(QAudioFormat::Int16);
            format.setChannelCount(channels);
            format.setSampleRate(rate);
            if (rate > 0 && device.isFormatSupported(format)) {
                return format;
            }
        }
    }
    return {};
}

QString errorText(QAudio::Error error) {
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("it could not be opened");
    case QAudio::IOError:
        return QStringLiteral("reading or writing it failed");
    case QAudio::UnderrunError:
        return QStringLiteral("it ran out of data");
    case QAudio::FatalError:
        return QStringLiteral("the sound server went away or refused it");
    case QAudio::NoError:
        break;
    }
    return QStringLiteral("no error");
}

QString deviceListText() {
    QString text;
    listInto(text, "Sound outputs (AUDIOOUT):", QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput());
    listInto(text, "Sound inputs (AUDIOIN):", QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput());
    return text;
}

} // namespace sound
