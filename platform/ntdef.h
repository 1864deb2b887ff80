// Basic kernel types, counted strings, list entries and status codes.
//
// The drivers are written against the kernel's own names. On this platform LONG and ULONG are 32 bits wide
// (as in the kernel), pointers and ULONG_PTR are 64 bits: records that hold pointers are larger than on the
// 32-bit original, which no code may rely on (all byte offsets are computed by the compiler).
#pragma once

#include <cstddef>
#include <cstdint>

typedef void VOID;
typedef void* PVOID;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef USHORT* PUSHORT;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR* PULONG_PTR;
typedef ULONG_PTR SIZE_T;
typedef ULONG_PTR KAFFINITY;
typedef UCHAR BOOLEAN;
typedef BOOLEAN* PBOOLEAN;
typedef char16_t WCHAR;
typedef WCHAR* PWCHAR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef CHAR* PCHAR;
typedef CHAR* PSTR;
typedef const CHAR* PCSTR;
typedef LONG NTSTATUS;
typedef PVOID HANDLE;
typedef HANDLE* PHANDLE;
typedef ULONG ACCESS_MASK;
typedef LONG KPRIORITY;
typedef CHAR CCHAR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;
typedef LARGE_INTEGER PHYSICAL_ADDRESS;

struct GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
};
typedef const GUID* LPCGUID;

// Counted strings. Length and MaximumLength are in bytes; the text need not be terminated.
struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
typedef UNICODE_STRING* PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

struct STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
};
typedef STRING ANSI_STRING;
typedef STRING* PANSI_STRING;
typedef const STRING* PCANSI_STRING;

// Doubly linked list with a head that links to itself when empty.
struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
typedef LIST_ENTRY* PLIST_ENTRY;

struct SINGLE_LIST_ENTRY {
    SINGLE_LIST_ENTRY* Next;
};
typedef SINGLE_LIST_ENTRY* PSINGLE_LIST_ENTRY;

#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

#define NT_SUCCESS(Status) (static_cast<NTSTATUS>(Status) >= 0)

#define UNREFERENCED_PARAMETER(P) ((void)(P))

inline VOID InitializeListHead(PLIST_ENTRY ListHead) { ListHead->Flink = ListHead->Blink = ListHead; }
inline BOOLEAN IsListEmpty(const LIST_ENTRY* ListHead) { return ListHead->Flink == ListHead; }
inline BOOLEAN RemoveEntryList(PLIST_ENTRY Entry)
{
    PLIST_ENTRY Flink = Entry->Flink;
    PLIST_ENTRY Blink = Entry->Blink;
    Blink->Flink = Flink;
    Flink->Blink = Blink;
    return Flink == Blink;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY ListHead)
{
    PLIST_ENTRY Entry = ListHead->Flink;
    RemoveEntryList(Entry);
    return Entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY ListHead)
{
    PLIST_ENTRY Entry = ListHead->Blink;
    RemoveEntryList(Entry);
    return Entry;
}
inline VOID InsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry)
{
    PLIST_ENTRY Blink = ListHead->Blink;
    Entry->Flink = ListHead;
    Entry->Blink = Blink;
    Blink->Flink = Entry;
    ListHead->Blink = Entry;
}
inline VOID InsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry)
{
    PLIST_ENTRY Flink = ListHead->Flink;
    Entry->Flink = Flink;
    Entry->Blink = ListHead;
    Flink->Blink = Entry;
    ListHead->Flink = Entry;
}
inline PSINGLE_LIST_ENTRY PopEntryList(PSINGLE_LIST_ENTRY ListHead)
{
    PSINGLE_LIST_ENTRY First = ListHead->Next;
    if (First != nullptr) ListHead->Next = First->Next;
    return First;
}
inline VOID PushEntryList(PSINGLE_LIST_ENTRY ListHead, PSINGLE_LIST_ENTRY Entry)
{
    Entry->Next = ListHead->Next;
    ListHead->Next = Entry;
}

// Processor modes and wait reasons (the modes are recorded; nothing depends on them).
enum KPROCESSOR_MODE_VALUES : CCHAR { KernelMode = 0, UserMode = 1 };
typedef CCHAR KPROCESSOR_MODE;
enum KWAIT_REASON { Executive = 0, FreePage, PageIn, PoolAllocation, DelayExecution, Suspended, UserRequest };
enum WAIT_TYPE { WaitAll = 0, WaitAny = 1 };

// Access rights (recorded, not enforced).
#define DELETE 0x00010000
#define SYNCHRONIZE 0x00100000
#define STANDARD_RIGHTS_REQUIRED 0x000F0000
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define THREAD_ALL_ACCESS 0x001FFFFF
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
