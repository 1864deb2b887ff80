// Debug output, assertions and fatal checks.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/internal.h"

namespace platform {

namespace {
std::mutex& ProcessLogLock()
{
    static auto* m = new std::mutex();
    return *m;
}
std::string& ProcessLog()
{
    static auto* s = new std::string();
    return *s;
}
bool Echo()
{
    static const bool echo = [] {
        const char* v = std::getenv("MODEM_DBGPRINT");
        return v != nullptr && v[0] == '1';
    }();
    return echo;
}
}  // namespace

void AppendLog(KernelInstance* k, const std::string& text)
{
    if (k != nullptr) {
        std::lock_guard<std::mutex> lk(k->mu);
        k->log += text;
    } else {
        std::lock_guard<std::mutex> lk(ProcessLogLock());
        ProcessLog() += text;
    }
    if (Echo()) {
        std::fprintf(stderr, "%s%s%s", k ? k->name.c_str() : "", k ? ": " : "", text.c_str());
    }
}

}  // namespace platform

using namespace platform;

ULONG DbgPrint(PCSTR Format, ...)
{
    va_list ap;
    va_start(ap, Format);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, Format, ap);
    va_end(ap);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), Format, ap2);
        text.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    AppendLog(CurrentKernel(), text);
    return STATUS_SUCCESS;
}

VOID DbgBreakPoint() { AppendLog(CurrentKernel(), "DbgBreakPoint\n"); }

VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4)
{
    std::string text = Format("*** STOP 0x%08X (0x%lX, 0x%lX, 0x%lX, 0x%lX)\n", BugCheckCode,
                              static_cast<unsigned long>(P1), static_cast<unsigned long>(P2),
                              static_cast<unsigned long>(P3), static_cast<unsigned long>(P4));
    AppendLog(CurrentKernel(), text);
    std::fprintf(stderr, "platform: %s", text.c_str());
    std::fflush(stderr);
    std::abort();
}

VOID RtlAssert(PVOID FailedAssertion, PVOID FileName, ULONG LineNumber, PSTR Message)
{
    std::string text = Format("*** Assertion failed: %s%s%s\n***   Source File: %s, line %u\n",
                              static_cast<const char*>(FailedAssertion), Message ? " " : "", Message ? Message : "",
                              static_cast<const char*>(FileName), LineNumber);
    AppendLog(CurrentKernel(), text);
    std::fprintf(stderr, "platform: %s", text.c_str());
    std::fflush(stderr);
    std::abort();
}
