// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/SpeechEngine.h"

// Speech through speech-dispatcher on a connection of our own (libspeechd), polite to a screen reader on the same
// server: our texts go at priority "text", below the "message" a screen reader uses, so the server lets its
// speech cut ours off at once and holds ours back while it speaks; a text cut off that way is reported as
// Interrupted, for the queue to say it again. stop() cancels this connection's own speech only: nothing here
// ever cancels another program's, not at start, not at the end.
//
// The server is found as every client finds it (SPEECHD_ADDRESS, else the user's default socket), started by
// the library when it is not running and the user's configuration allows it. startError() is set when it
// cannot be reached.
SpeechEngineFactory speechdEngineFactory();
