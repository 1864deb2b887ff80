// Debug output. DbgPrint formats like printf and appends the text to the log of the calling thread's
// machine (or the process log when the thread belongs to none); the host and tests read it back
// (platform/machine.h). Setting MODEM_DBGPRINT=1 in the environment also echoes it to standard error.
#pragma once

#include "platform/ntdef.h"

ULONG DbgPrint(PCSTR Format, ...) __attribute__((format(printf, 1, 2)));
VOID DbgBreakPoint();
// Reports a fatal inconsistency (the kernel would stop): the message goes to the log and standard error and
// the process aborts.
[[noreturn]] VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4);
// Assertion failure: reports the expression, file and line and aborts.
[[noreturn]] VOID RtlAssert(PVOID FailedAssertion, PVOID FileName, ULONG LineNumber, PSTR Message);
#define ASSERT(exp) \
    ((void)((exp) ? 0 : (RtlAssert((PVOID)(#exp), (PVOID)(__FILE__), __LINE__, nullptr), 0)))
