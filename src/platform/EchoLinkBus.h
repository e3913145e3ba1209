// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Names of the station program's automation interface on the session bus (see org.parlevox.EchoLink.xml).
// Shared by the client and the stand-in station so the two cannot drift apart.
namespace EchoLinkBus {
inline constexpr char Service[] = "org.parlevox.EchoLink";
inline constexpr char ObjectPath[] = "/org/parlevox/EchoLink";
inline constexpr char Interface[] = "org.parlevox.EchoLink";

// Error names of the replies a station gives when it refuses a request.
inline constexpr char ErrorRefused[] = "org.parlevox.EchoLink.Error.Refused";
inline constexpr char ErrorNotConnected[] = "org.parlevox.EchoLink.Error.NotConnected";
inline constexpr char ErrorInvalidArgument[] = "org.parlevox.EchoLink.Error.InvalidArgument";
} // namespace EchoLinkBus
