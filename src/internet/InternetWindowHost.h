// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "internet/Form1.h"
#include "platform/InternetOptions.h"

#include <QObject>
#include <functional>
#include <memory>

// Keeps the internet options window alive for the rest of the program: creates Form1 hidden, with its
// load steps, whenever it is touched and does not exist (at the first touch, and again after the user
// closed it), and lets it go when the user closes it (it saves itself then).
//
// When the station program closes, the window does not save and end on its own: it reports
// closingRequested(), and the main window, which hears the same news from its own station object, saves
// both settings files once and ends. Connect closingRequested() to the main window's own Closing
// handler; that handler must cope with being reached twice for one closing.
class InternetWindowHost : public QObject, public InternetOptions {
    Q_OBJECT
public:
    using EchoLinkFactory = std::function<std::unique_ptr<EchoLinkClient>()>;

    // settings: the window's settings file ("parlevoxinet.ini" in the user's configuration folder); it
    // must outlive the host. echoLinks makes the window's own station object, browsers its browser (see
    // webEngineBrowserFactory()); both are asked again each time the window is created.
    InternetWindowHost(SettingsStore& settings, EchoLinkFactory echoLinks, Form1::BrowserFactory browsers,
                       QObject* parent = nullptr);
    ~InternetWindowHost() override;

    void setLastConnectedNode(const QString& text) override;
    bool showQrzInfo() override;
    void navigate(const QString& address) override;
    void showWindow() override;
    bool SaveData2() override;
    QString saveError() const override { return settings_.lastError(); }

    // The window, created first if needed.
    Form1* window();
    // The window if it exists now, else null; touches nothing.
    Form1* existingWindow() const { return form_.get(); }

Q_SIGNALS:
    void closingRequested();

private:
    void windowClosed();

    SettingsStore& settings_;
    EchoLinkFactory echoLinks_;
    Form1::BrowserFactory browsers_;
    std::unique_ptr<Form1> form_;
};
