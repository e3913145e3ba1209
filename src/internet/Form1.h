// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Browser.h"
#include "platform/EchoLinkClient.h"
#include "platform/SettingsStore.h"
#include "ui/WindowPlacement.h"

#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;

// The internet options window: a browser, buttons for a few fixed pages, a callsign look-up, the
// "Show QRZ Info" option and the last connected node. Its position and the option live in its own
// settings file. Creating it runs its load steps; it starts hidden.
class Form1 : public QWidget {
    Q_OBJECT
public:
    using BrowserFactory = std::function<std::unique_ptr<Browser>(QWidget* container, const QRect& geometry)>;

    // echoLink may be null when no station object could be made: the caption then has no callsign and
    // no Closing is heard.
    // settings: the window's own settings file; it must outlive the window.
    Form1(SettingsStore& settings, std::unique_ptr<EchoLinkClient> echoLink, const BrowserFactory& browsers);
    ~Form1() override;

    void setLastConnectedNode(const QString& text);
    bool showQrzInfo() const;
    void navigate(const QString& address);

    // Writes "LEFT", "TOP" and "CHECK9". Returns false when the file could not be written (it stays
    // as it was).
    bool SaveData2();

    // The old program's button names, kept on purpose (docs/glossary.md); each opens a page in the browser.
    void Command1_Click();  // "QRZ": looks up the callsign typed in Text1
    void Command2_Click();  // "eQSL"
    void Command3_Click();  // "Vexhaven": the add-ons site
    void Command9_Click();  // "EchoLink": the EchoLink site
    void Command10_Click(); // "Current Logins"
    void Command11_Click(); // "Proxy List"
    // The EchoLink_ handlers keep the old program's names on purpose.
    void EchoLink_Closing();
    // The station program vanished or hung (false), or a station program answers again (true).
    void EchoLink_AvailabilityChanged(bool available);

Q_SIGNALS:
    // The user closed the window; its settings have been written. The window is finished.
    void closedByUser();
    // This window's station object announced that the station program is closing.
    void closingRequested();

protected:
    // Form_QueryUnload: every close saves and is accepted.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void showCaption(bool stationAvailable);

    SettingsStore& settings_;
    std::unique_ptr<EchoLinkClient> echoLink_;
    std::unique_ptr<Browser> browser_;
    QLineEdit* text1_ = nullptr;
    QCheckBox* check9_ = nullptr; // Check9, "Show QRZ Info": open the look-up page of each station that connects
    QLabel* label2_ = nullptr;
    QString ownCallsign_;
    // The position as read, so that an unmoved window writes back exactly what it read.
    placement::StoredPosition position_;
};
