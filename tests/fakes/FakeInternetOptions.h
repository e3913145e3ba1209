// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/InternetOptions.h"

#include <QStringList>

// Records what the program does to the internet options window.
class FakeInternetOptions : public InternetOptions {
public:
    QString lastConnectedNode = QStringLiteral("None");
    bool qrzInfo = true, saveSucceeds = true;
    QStringList addresses;
    int shown = 0, saves = 0;
    QString saveFailure = QStringLiteral("Cannot write the settings file /cfg/parlevoxinet.ini: Disk full");

    void setLastConnectedNode(const QString& text) override { lastConnectedNode = text; }
    bool showQrzInfo() override { return qrzInfo; }
    void navigate(const QString& address) override { addresses << address; }
    void showWindow() override { ++shown; }
    bool SaveData2() override { return ++saves, saveSucceeds; }
    QString saveError() const override { return saveFailure; }
};
