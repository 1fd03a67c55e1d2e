#pragma once

#include <functional>

class QObject;

// SIGTERM and SIGINT (Ctrl+C) reach a command-line program on its event loop:
// `onSignal` runs there, in `context`'s thread, once for each signal, so the
// program ends as it ends by itself (files closed, the instrument told). Nothing
// but a byte written to a socket happens in the signal handler. Returns false
// when the signals cannot be caught.
bool callOnTerminationSignals(QObject *context, std::function<void()> onSignal);
