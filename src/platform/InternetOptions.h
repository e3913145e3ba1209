// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the rest of the program may touch on the internet options window. The window may have been
// closed by the user; touching it through this interface creates it again, hidden, with its load
// steps.
class InternetOptions {
public:
    virtual ~InternetOptions() = default;

    // Its "Last Connected Node" label.
    virtual void setLastConnectedNode(const QString& text) = 0;
    // Whether "Show QRZ Info" is ticked (value 1).
    virtual bool showQrzInfo() = 0;
    // Navigates its browser.
    virtual void navigate(const QString& address) = 0;
    // "Show Internet Options": shows the window, not modal and without an owner.
    virtual void showWindow() = 0;
    // Writes the window's settings file. Returns false when the file could not be written.
    virtual bool SaveData2() = 0;
    // Why the last SaveData2() failed, naming the file.
    virtual QString saveError() const = 0;
};
