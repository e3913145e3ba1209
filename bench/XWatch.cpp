// SPDX-License-Identifier: GPL-3.0-or-later
#include "XWatch.h"

#include "BenchSupport.h"

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace bench {

namespace {

// Waits up to timeoutMs for the next event; null on timeout or a broken connection.
xcb_generic_event_t* nextEvent(xcb_connection_t* c, double deadline) {
    for (;;) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            return event;
        }
        if (xcb_connection_has_error(c) != 0) {
            return nullptr;
        }
        const double left = deadline - monotonicSeconds();
        if (left <= 0) {
            return nullptr;
        }
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, int(left * 1000) + 1);
    }
}

} // namespace

XWatch::~XWatch() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

bool XWatch::open(const QString& display, QString* error) {
    connection_ = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(connection_) != 0) {
        *error = QStringLiteral("cannot reach the X display %1").arg(display);
        return false;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    wmProtocols_ = atom("WM_PROTOCOLS");
    netWmPing_ = atom("_NET_WM_PING");
    netWmName_ = atom("_NET_WM_NAME");
    utf8String_ = atom("UTF8_STRING");
    xcb_flush(connection_);
    return true;
}

std::uint32_t XWatch::atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const std::uint32_t a = reply != nullptr ? reply->atom : 0;
    std::free(reply);
    return a;
}

QString XWatch::title(std::uint32_t window) {
    for (const auto& [property, type] : {std::pair{netWmName_, utf8String_},
                                         std::pair{std::uint32_t(XCB_ATOM_WM_NAME), std::uint32_t(XCB_ATOM_STRING)}}) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, property, type, 0, 256), nullptr);
        QString text;
        if (reply != nullptr && xcb_get_property_value_length(reply) > 0) {
            text = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                     xcb_get_property_value_length(reply));
        }
        std::free(reply);
        if (!text.isEmpty()) {
            return text;
        }
    }
    return {};
}

std::optional<XWatch::Mapped> XWatch::waitForMapped(const QString& titlePrefix, int timeoutMs) {
    const double deadline = monotonicSeconds() + timeoutMs / 1000.0;
    while (xcb_generic_event_t* event = nextEvent(connection_, deadline)) {
        const double at = monotonicSeconds();
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        const std::uint32_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
        std::free(event);
        if (mapped && title(window).startsWith(titlePrefix)) {
            return Mapped{window, at};
        }
    }
    return std::nullopt;
}

std::optional<double> XWatch::ping(std::uint32_t window, int timeoutMs) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = wmProtocols_;
    message.data.data32[0] = netWmPing_;
    message.data.data32[1] = ++pingSerial_;
    message.data.data32[2] = window;
    const double sent = monotonicSeconds();
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(connection_);
    const double deadline = sent + timeoutMs / 1000.0;
    while (xcb_generic_event_t* event = nextEvent(connection_, deadline)) {
        bool answered = false;
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* reply = reinterpret_cast<xcb_client_message_event_t*>(event);
            answered =
                reply->window == root_ && reply->data.data32[0] == netWmPing_ && reply->data.data32[1] == pingSerial_;
        }
        std::free(event);
        if (answered) {
            return (monotonicSeconds() - sent) * 1000.0;
        }
    }
    return std::nullopt;
}

} // namespace bench
