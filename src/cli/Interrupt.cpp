#include "cli/Interrupt.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::atomic<int> g_first_status{0};

void Record(int status) {
    int none = 0;
    g_first_status.compare_exchange_strong(none, status);
}

#ifdef _WIN32

QObject* g_context = nullptr;
std::function<void(int)> g_handler;

// Runs on a thread the system starts for the event; the handler runs on the context's thread.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE; // closing the console or logging off ends the program as usual
    Record(kExitInterrupted);
    QMetaObject::invokeMethod(
        g_context, [] { g_handler(kExitInterrupted); }, Qt::QueuedConnection);
    return TRUE;
}

#else

// A signal handler may do next to nothing: it writes the signal number into a pipe, whose
// other end the event loop watches (the self-pipe pattern).
int g_pipe[2] = {-1, -1};

void OnSignal(int signal_number) {
    const int saved_errno = errno;
    Record(signal_number == SIGTERM ? kExitTerminated : kExitInterrupted);
    const unsigned char byte = static_cast<unsigned char>(signal_number);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved_errno;
}

#endif

} // namespace

void WatchInterrupts(QObject* context, std::function<void(int exit_status)> handler) {
#ifdef _WIN32
    g_context = context;
    g_handler = std::move(handler);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    if (::pipe(g_pipe) != 0)
        return; // the signals keep their default action
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC); // the tools the program starts do not inherit it
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [handler = std::move(handler)] {
                         unsigned char byte = 0;
                         while (::read(g_pipe[0], &byte, 1) == 1)
                             handler(byte == SIGTERM ? kExitTerminated : kExitInterrupted);
                     });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

int ReceivedInterrupt() {
    return g_first_status.load();
}
