// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "InternetOptions.h"

#include <QStringList>

// Records what the program does to the internet options window.
class FakeInternetOptions : public InternetOptions {
public:
    QString lastConnectedNode = QStringLiteral("None");
    bool qrzInfo = true;
    QStringList addresses;
    int shown = 0;
    int saves = 0;
    bool saveSucceeds = true;
    QString saveFailure = QStringLiteral("Cannot write the settings file /cfg/parlevoxinet.ini: Disk full");

    void setLastConnectedNode(const QString& text) override { lastConnectedNode = text; }
    bool showQrzInfo() override { return qrzInfo; }
    void navigate(const QString& address) override { addresses << address; }
    void showWindow() override { ++shown; }
    bool SaveData2() override {
        ++saves;
        return saveSucceeds;
    }
    QString saveError() const override { return saveFailure; }
};
