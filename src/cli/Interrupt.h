#pragma once
// Ctrl+C and termination requests for a console program that must end its work cleanly
// instead of dying where it stands: SIGINT and SIGTERM on Linux, the console's Ctrl+C and
// Ctrl+Break events on Windows.

#include <functional>

class QObject;

/// Exit statuses of a program ended by an interrupt, as a shell reports a signal's death.
inline constexpr int kExitInterrupted = 130; // SIGINT, Ctrl+C
inline constexpr int kExitTerminated = 143;  // SIGTERM

/// From now on an interrupt no longer ends the program: `handler` is called on the thread of
/// `context` (whose event loop must run) with the exit status the interrupt asks for, once for
/// every interrupt received. Call once per program.
void WatchInterrupts(QObject* context, std::function<void(int exit_status)> handler);

/// The exit status the first interrupt received asks for; 0 when none was received. Safe to
/// call on any thread; an interrupt counts here at once, before its handler call is delivered.
int ReceivedInterrupt();
