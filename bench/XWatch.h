// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

struct xcb_connection_t;

namespace bench {

// A second X client beside the program under test: sees its windows being mapped, the moment it happens,
// and measures how quickly its GUI thread answers (a _NET_WM_PING, which Qt answers from its event loop).
class XWatch {
public:
    XWatch() = default;
    XWatch(const XWatch&) = delete;
    XWatch& operator=(const XWatch&) = delete;
    ~XWatch();

    bool open(const QString& display, QString* error);

    struct Mapped {
        std::uint32_t window = 0;
        double at = 0; // monotonicSeconds() when the map was seen
    };
    // The next top-level window mapped whose title starts with titlePrefix; nullopt after timeoutMs.
    std::optional<Mapped> waitForMapped(const QString& titlePrefix, int timeoutMs);

    // Round trip of a ping to the window's owner, in milliseconds; nullopt when no answer came in timeoutMs.
    std::optional<double> ping(std::uint32_t window, int timeoutMs);

private:
    QString title(std::uint32_t window);
    std::uint32_t atom(const char* name);

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t wmProtocols_ = 0;
    std::uint32_t netWmPing_ = 0;
    std::uint32_t netWmName_ = 0;
    std::uint32_t utf8String_ = 0;
    std::uint32_t pingSerial_ = 0;
};

} // namespace bench
