#include "MException.h"

#include <csignal>
#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace MException {

namespace {

struct Named {
    uint32_t code;
    const char* name;
};

constexpr Named kNames[] = {
    {0xC0000005u, "ACCESS_VIOLATION"},
    {0xC0000006u, "IN_PAGE_ERROR"},
    {0xC0000008u, "INVALID_HANDLE"},
    {0xC0000017u, "NO_MEMORY"},
    {0xC000001Du, "ILLEGAL_INSTRUCTION"},
    {0xC0000025u, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, "INVALID_DISPOSITION"},
    {0xC000008Cu, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, "FLOAT_DENORMAL_OPERAND"},
    {0xC000008Eu, "FLOAT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, "FLOAT_INEXACT_RESULT"},
    {0xC0000090u, "FLOAT_INVALID_OPERATION"},
    {0xC0000091u, "FLOAT_OVERFLOW"},
    {0xC0000092u, "FLOAT_STACK_CHECK"},
    {0xC0000093u, "FLOAT_UNDERFLOW"},
    {0xC0000094u, "INTEGER_DIVIDE_BY_ZERO"},
    {0xC0000095u, "INTEGER_OVERFLOW"},
    {0xC0000096u, "PRIVILEGED_INSTRUCTION"},
    {0xC00000FDu, "STACK_OVERFLOW"},
    {0xC000013Au, "CONTROL_C_EXIT"},
    {0x40000005u, "SEGMENT_NOTIFICATION"},
    {0x80000001u, "GUARD_PAGE_VIOLATION"},
    {0x80000002u, "DATATYPE_MISALIGNMENT"},
    {0x80000003u, "BREAKPOINT"},
    {0x80000004u, "SINGLE_STEP"},
};

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
// The fault handler's own state: a signal handler reaches nothing but process-wide data.
struct sigaction gPrevious[sizeof kSignals / sizeof kSignals[0]];
bool gInstalled = false;
char* gAltStack = nullptr;
uintptr_t gStackLow = 0;
constexpr uintptr_t kGuardSpan = 65536;

const char* NameOf(uint32_t code) {
    for (const Named& n : kNames)
        if (n.code == code) return n.name;
    return nullptr;
}

void WriteAll(const char* text) {
    size_t len = std::strlen(text);
    while (len > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, len);
        if (n <= 0) return;
        text += n;
        len -= size_t(n);
    }
}

// Async-signal-safe: fixed buffers, write(2), no allocation.
void Handler(int sig, siginfo_t* info, void* /*context*/) {
    // A fault next to the low end of the main stack is a stack overflow.
    bool nearGuard = false;
    if (sig == SIGSEGV && info && gStackLow) {
        const auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
        nearGuard = addr + kGuardSpan >= gStackLow && addr < gStackLow + kGuardSpan;
    }
    const uint32_t code = CodeOfSignal(sig, info ? info->si_code : 0, nearGuard);
    char text[128] = "Error: 10000. \nException Error: ";
    const char* name = NameOf(code);
    if (name) {
        std::strncat(text, name, sizeof text - std::strlen(text) - 2);
    } else {
        std::strncat(text, "Unknown Exception", sizeof text - std::strlen(text) - 2);
    }
    std::strncat(text, "\n", sizeof text - std::strlen(text) - 1);
    WriteAll(text);
    // Default action and again: the process ends with the signal it got.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

}  // namespace

std::string ExceptionName(uint32_t code) {
    if (const char* name = NameOf(code)) return std::string("Exception Error: ") + name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", code);
    return std::string("Exception Error: Unknown Exception (0x") + hex + ")";
}

uint32_t CodeOfSignal(int signal, int code, bool nearStackGuard) {
    switch (signal) {
        case SIGSEGV: return nearStackGuard ? 0xC00000FDu : 0xC0000005u;
        case SIGBUS: return code == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV: return 0xC0000094u;
                case FPE_INTOVF: return 0xC0000095u;
                case FPE_FLTDIV: return 0xC000008Eu;
                case FPE_FLTOVF: return 0xC0000091u;
                case FPE_FLTUND: return 0xC0000093u;
                case FPE_FLTRES: return 0xC000008Fu;
                case FPE_FLTINV: return 0xC0000090u;
                case FPE_FLTSUB: return 0xC000008Cu;
                default: return 0xC0000090u;
            }
        case SIGILL: return code == ILL_PRVOPC ? 0xC0000096u : 0xC000001Du;
        case SIGTRAP: return code == TRAP_TRACE ? 0x80000004u : 0x80000003u;
        default: return 0;
    }
}

void InstallFilter() {
    if (gInstalled) return;
    // Its own stack, so that a stack overflow can still be reported.
    if (!gAltStack) {
        const size_t size = SIGSTKSZ * 4;
        gAltStack = static_cast<char*>(std::malloc(size));
        if (gAltStack) {
            stack_t ss{};
            ss.ss_sp = gAltStack;
            ss.ss_size = size;
            sigaltstack(&ss, nullptr);
        }
    }
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &low, &size) == 0) gStackLow = reinterpret_cast<uintptr_t>(low);
        pthread_attr_destroy(&attr);
    }
    struct sigaction sa {};
    sa.sa_sigaction = Handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &sa, &gPrevious[i]);
    gInstalled = true;
}

void RemoveFilter() {
    if (!gInstalled) return;
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
    gInstalled = false;
}

bool FilterInstalled() { return gInstalled; }

}  // namespace MException
