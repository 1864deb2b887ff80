// Run-time library: memory helpers and counted strings.
#pragma once

#include <cstring>

#include "platform/ntdef.h"
#include "platform/ntstatus.h"

#define RtlZeroMemory(Destination, Length) std::memset((Destination), 0, (Length))
#define RtlFillMemory(Destination, Length, Fill) std::memset((Destination), (Fill), (Length))
#define RtlCopyMemory(Destination, Source, Length) std::memcpy((Destination), (Source), (Length))
#define RtlMoveMemory(Destination, Source, Length) std::memmove((Destination), (Source), (Length))
#define RtlEqualMemory(Destination, Source, Length) (!std::memcmp((Destination), (Source), (Length)))
SIZE_T RtlCompareMemory(const VOID* Source1, const VOID* Source2, SIZE_T Length);

// Counted strings. Buffer ownership follows the kernel: RtlInit* point at the caller's text;
// RtlAnsiStringToUnicodeString / RtlUnicodeStringToAnsiString with Allocate allocate from pool and
// RtlFreeUnicodeString / RtlFreeAnsiString free it.
VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
VOID RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString);
VOID RtlInitString(PANSI_STRING DestinationString, PCSTR SourceString);
VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source);
LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive);
NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString);
NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING DestinationString, PCUNICODE_STRING SourceString,
                                      BOOLEAN AllocateDestinationString);
VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
VOID RtlFreeAnsiString(PANSI_STRING AnsiString);
NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String);
NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value);
NTSTATUS RtlStringFromGUID(const GUID& Guid, PUNICODE_STRING GuidString);
WCHAR RtlUpcaseUnicodeChar(WCHAR SourceCharacter);
WCHAR RtlDowncaseUnicodeChar(WCHAR SourceCharacter);
