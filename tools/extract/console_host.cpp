#include "console_host.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "common/messages.h"
#include "common/win_values.h"

namespace {

// Waits until the terminal has a line for us; false on a Ctrl-C (trelk-extract
// turns it into the cancel flag), however early it comes: the signals stay
// blocked from the look at the flag until ppoll waits with them unblocked, so
// none can slip in between and leave the wait without an end.
bool WaitForInput() {
    sigset_t cancel, before;
    sigemptyset(&cancel);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&cancel, number);
    sigprocmask(SIG_BLOCK, &cancel, &before);
    int ready = 0;
    while (!g_cancelRequested && ready == 0) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        ready = ppoll(&input, 1, nullptr, &before);
        if (ready < 0 && errno == EINTR) ready = 0;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return !g_cancelRequested;
}

// Reads one line from the terminal, optionally without echo (for keys). False
// at the end of the input, and on a Ctrl-C.
bool ReadLine(std::string& line, bool echo) {
    termios saved{};
    const bool restore = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = WaitForInput() && bool(std::getline(std::cin, line));
    if (restore) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    return ok;
}

}  // namespace

ConsoleHost::ConsoleHost(bool quiet, Overwrite overwrite, const char* key, bool listOnly)
    : m_listOnly(listOnly),
      m_quiet(quiet),
      m_overwrite(overwrite),
      m_key(key),
      m_interactive(isatty(STDIN_FILENO)),
      m_progressShown(!quiet && isatty(STDERR_FILENO)),
      m_previous(platform::SetHost(this)) {}

ConsoleHost::~ConsoleHost() {
    EndProgressLine();
    platform::SetHost(m_previous);
}

int ConsoleHost::ShowMessage(const char* text, const char* caption, unsigned type) {
    EndProgressLine();
    const unsigned buttons = type & 0x0F;
    if (buttons == MB_YESNOCANCEL && m_overwrite != Overwrite::Ask) {
        if (m_overwrite == Overwrite::Always) return IDYES;
        std::fprintf(stderr, "%s: %s\n", caption, platform::CoreTextToLocal(text).c_str());
        return IDNO;
    }
    if (buttons == MB_OK) {
        std::fprintf(stderr, "%s: %s\n", caption, platform::CoreTextToLocal(text).c_str());
        return IDOK;
    }
    if (!m_interactive) {
        std::fprintf(stderr, "%s: %s\n(no terminal to answer on: refused)\n", caption, platform::CoreTextToLocal(text).c_str());
        return IDCANCEL;
    }
    return AskOnTerminal(text, caption, type);
}

int ConsoleHost::AskOnTerminal(const char* text, const char* caption, unsigned type) {
    const bool yesNo = (type & 0x0F) == MB_YESNOCANCEL;
    for (;;) {
        std::fprintf(stderr, "%s: %s %s ", caption, platform::CoreTextToLocal(text).c_str(), yesNo ? "[y]es, [n]o, [c]ancel:" : "[o]k, [c]ancel:");
        std::string answer;
        if (!ReadLine(answer, true)) return IDCANCEL;
        const char c = answer.empty() ? '\0' : char(answer[0] | 0x20);
        if (yesNo && c == 'y') return IDYES;
        if (yesNo && c == 'n') return IDNO;
        if (!yesNo && c == 'o') return IDOK;
        if (c == 'c') return IDCANCEL;
    }
}

bool ConsoleHost::Run() {
    m_dialog.OnExtractStart();
    return m_dialog.CatalogHead() != nullptr;
}

void ConsoleHost::SendToDialog(unsigned message, intptr_t lParam) {
    if (message == WM_EXTRACT_FILEDONE && !m_quiet) {
        const auto* entry = reinterpret_cast<const CatalogEntry*>(lParam);
        EndProgressLine();
        std::printf("  extracted: %s\n", platform::CoreTextToLocal(entry->path + entry->destPrefixLen).c_str());
        std::fflush(stdout);
    }
    if (message == WM_EXTRACT_FINISHED) EndProgressLine();
    m_dialog.OnWorkerMessage(message, lParam);
}

void ConsoleHost::SetFileProgress(int percent) {
    m_filePercent = percent;
    ShowProgress();
}

void ConsoleHost::SetAllProgress(int percent) { m_allPercent = percent; }

void ConsoleHost::SetFileName(const char* text) {
    m_current = platform::CoreTextToLocal(text);
    m_filePercent = 0;
    ShowProgress();
}

bool ConsoleHost::ChooseDestination() {
    if (!m_listOnly) return true;
    PrintList();
    return false;
}

bool ConsoleHost::StartWorker(CArchiveReader* reader) {
    // The console has no dialog to keep responsive: the worker runs right here.
    ExtractWorker(reader);
    return true;
}

void ConsoleHost::PrintList() const {
    std::printf("%10s %10s  %-8s  %s\n", "Size", "Stored", "CRC-32", "Name");
    int64_t size = 0, stored = 0;
    int count = 0;
    // The catalog list runs backwards; the queue holds archive order.
    const CatalogEntry* last = m_dialog.CatalogHead();
    for (const CatalogEntry* e = last; e && e->next; e = e->next) last = e->next;
    for (const CatalogEntry* e = last; e; e = e->prev, ++count) {
        std::string name = platform::CoreTextToLocal(e->path + 2);
        for (char& c : name)
            if (c == '\\') c = '/';
        std::printf("%10d %10d  %08x  %s\n", e->fileSize, e->storedSize, unsigned(e->crc), name.c_str());
        size += e->fileSize;
        stored += e->storedSize;
    }
    std::printf("%10lld %10lld  %8s  %d file%s\n", (long long)size, (long long)stored, "", count, count == 1 ? "" : "s");
}

void ConsoleHost::ShowProgress() {
    if (!m_progressShown) return;
    std::fprintf(stderr, "\r\033[K%3d%%  %s  (all files %d%%)", m_filePercent, m_current.c_str(), m_allPercent);
    m_lineOpen = true;
}

void ConsoleHost::EndProgressLine() {
    if (!m_lineOpen) return;
    std::fputs("\r\033[K", stderr);
    m_lineOpen = false;
}

bool ConsoleHost::PromptKeyText(char* text, int size) {
    std::string key;
    if (m_key) {
        key = m_key;
    } else if (m_interactive) {
        std::fputs("This archive is encrypted. Key: ", stderr);
        if (!ReadLine(key, false)) return false;
    } else {
        std::fputs("This archive is encrypted: give its key with -k (no terminal to ask on).\n", stderr);
        return false;
    }
    std::snprintf(text, size_t(size), "%s", key.c_str());
    return true;
}
