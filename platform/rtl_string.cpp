// Counted strings and the text helpers of the platform.
#include "platform/internal.h"

namespace platform {

std::string Narrow(const WCHAR* text, size_t chars)
{
    std::string out;
    for (size_t i = 0; i < chars; i++) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < chars && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            i++;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Narrow(PCUNICODE_STRING s)
{
    if (s == nullptr || s->Buffer == nullptr) return std::string();
    return Narrow(s->Buffer, s->Length / sizeof(WCHAR));
}

std::u16string Widen(const std::string& s)
{
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        uint32_t c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (c >= 0xF0 && c < 0xF8) {
            c &= 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            c &= 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            c &= 0x1F;
            extra = 1;
        } else if (c >= 0x80) {
            c = 0xFFFD;  // stray continuation byte
        }
        i++;
        for (size_t k = 0; k < extra; k++, i++) {
            if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        }
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else if (c > 0x10FFFF) {
            out += u'\xFFFD';
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Lower(std::string s)
{
    for (char& ch : s) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return s;
}

std::string TagText(ULONG tag)
{
    std::string s;
    for (int i = 0; i < 4; i++) {
        char ch = static_cast<char>((tag >> (8 * i)) & 0xFF);
        s += (ch >= 32 && ch < 127) ? ch : '?';
    }
    return s;
}

}  // namespace platform

using namespace platform;

static const ULONG kStringTag = POOL_TAG('S', 't', 'r', 'g');

SIZE_T RtlCompareMemory(const VOID* Source1, const VOID* Source2, SIZE_T Length)
{
    auto* a = static_cast<const UCHAR*>(Source1);
    auto* b = static_cast<const UCHAR*>(Source2);
    SIZE_T i = 0;
    while (i < Length && a[i] == b[i]) i++;
    return i;
}

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString)
{
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    size_t n = 0;
    while (SourceString[n] != 0 && n < 32766) n++;
    DestinationString->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    DestinationString->MaximumLength = static_cast<USHORT>((n + 1) * sizeof(WCHAR));
}

VOID RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString)
{
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    size_t n = std::strlen(SourceString);
    if (n > 65534) n = 65534;
    DestinationString->Length = static_cast<USHORT>(n);
    DestinationString->MaximumLength = static_cast<USHORT>(n + 1);
}

VOID RtlInitString(PANSI_STRING DestinationString, PCSTR SourceString)
{
    RtlInitAnsiString(DestinationString, SourceString);
}

VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString)
{
    if (SourceString == nullptr) {
        DestinationString->Length = 0;
        return;
    }
    USHORT n = SourceString->Length < DestinationString->MaximumLength ? SourceString->Length
                                                                        : DestinationString->MaximumLength;
    n = static_cast<USHORT>(n & ~1u);
    if (n > 0) std::memmove(DestinationString->Buffer, SourceString->Buffer, n);
    DestinationString->Length = n;
    if (n + sizeof(WCHAR) <= DestinationString->MaximumLength) DestinationString->Buffer[n / sizeof(WCHAR)] = 0;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source)
{
    if (Source == nullptr || Source->Length == 0) return STATUS_SUCCESS;
    ULONG total = static_cast<ULONG>(Destination->Length) + Source->Length;
    if (total > Destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
    std::memmove(reinterpret_cast<UCHAR*>(Destination->Buffer) + Destination->Length, Source->Buffer, Source->Length);
    Destination->Length = static_cast<USHORT>(total);
    if (total + sizeof(WCHAR) <= Destination->MaximumLength) Destination->Buffer[total / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, Source);
    return RtlAppendUnicodeStringToString(Destination, &s);
}

WCHAR RtlUpcaseUnicodeChar(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; }
WCHAR RtlDowncaseUnicodeChar(WCHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive)
{
    size_t n1 = String1->Length / sizeof(WCHAR), n2 = String2->Length / sizeof(WCHAR);
    size_t n = n1 < n2 ? n1 : n2;
    for (size_t i = 0; i < n; i++) {
        WCHAR a = String1->Buffer[i], b = String2->Buffer[i];
        if (CaseInSensitive) {
            a = RtlUpcaseUnicodeChar(a);
            b = RtlUpcaseUnicodeChar(b);
        }
        if (a != b) return static_cast<LONG>(a) - static_cast<LONG>(b);
    }
    return static_cast<LONG>(n1) - static_cast<LONG>(n2);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive)
{
    if (String1->Length != String2->Length) return FALSE;
    return RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0 ? TRUE : FALSE;
}

// ANSI here is Latin-1: each byte is one character; characters above 255 become '?'.
NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString)
{
    ULONG bytes = static_cast<ULONG>(SourceString->Length) * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFE) return STATUS_INVALID_PARAMETER;
    if (AllocateDestinationString) {
        DestinationString->Buffer =
            static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), kStringTag));
        if (DestinationString->Buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    } else if (bytes > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT i = 0; i < SourceString->Length; i++) {
        DestinationString->Buffer[i] = static_cast<WCHAR>(static_cast<UCHAR>(SourceString->Buffer[i]));
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) DestinationString->Buffer[bytes / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING DestinationString, PCUNICODE_STRING SourceString,
                                      BOOLEAN AllocateDestinationString)
{
    ULONG chars = SourceString->Length / sizeof(WCHAR);
    if (AllocateDestinationString) {
        DestinationString->Buffer = static_cast<PCHAR>(ExAllocatePoolWithTag(PagedPool, chars + 1, kStringTag));
        if (DestinationString->Buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        DestinationString->MaximumLength = static_cast<USHORT>(chars + 1);
    } else if (chars > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (ULONG i = 0; i < chars; i++) {
        WCHAR c = SourceString->Buffer[i];
        DestinationString->Buffer[i] = c < 256 ? static_cast<CHAR>(c) : '?';
    }
    DestinationString->Length = static_cast<USHORT>(chars);
    if (chars < DestinationString->MaximumLength) DestinationString->Buffer[chars] = 0;
    return STATUS_SUCCESS;
}

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString)
{
    if (UnicodeString->Buffer != nullptr) ExFreePool(UnicodeString->Buffer);
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = UnicodeString->MaximumLength = 0;
}

VOID RtlFreeAnsiString(PANSI_STRING AnsiString)
{
    if (AnsiString->Buffer != nullptr) ExFreePool(AnsiString->Buffer);
    AnsiString->Buffer = nullptr;
    AnsiString->Length = AnsiString->MaximumLength = 0;
}

NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String)
{
    if (Base == 0) Base = 10;
    if (Base != 2 && Base != 8 && Base != 10 && Base != 16) return STATUS_INVALID_PARAMETER;
    char digits[33];
    int n = 0;
    do {
        ULONG d = Value % Base;
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
        Value /= Base;
    } while (Value != 0);
    if (static_cast<ULONG>(n) * sizeof(WCHAR) > String->MaximumLength) return STATUS_BUFFER_OVERFLOW;
    for (int i = 0; i < n; i++) String->Buffer[i] = static_cast<WCHAR>(digits[n - 1 - i]);
    String->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    if (String->Length + sizeof(WCHAR) <= String->MaximumLength) String->Buffer[n] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value)
{
    size_t n = String->Length / sizeof(WCHAR), i = 0;
    while (i < n && String->Buffer[i] == u' ') i++;
    bool negative = false;
    if (i < n && (String->Buffer[i] == u'-' || String->Buffer[i] == u'+')) negative = String->Buffer[i++] == u'-';
    if (Base == 0) {
        Base = 10;
        if (i + 1 < n && String->Buffer[i] == u'0') {
            WCHAR p = String->Buffer[i + 1];
            if (p == u'x') Base = 16, i += 2;
            else if (p == u'o') Base = 8, i += 2;
            else if (p == u'b') Base = 2, i += 2;
        }
    } else if (Base != 2 && Base != 8 && Base != 10 && Base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG v = 0;
    for (; i < n; i++) {
        WCHAR c = String->Buffer[i];
        ULONG d;
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
        else break;
        if (d >= Base) break;
        v = v * Base + d;
    }
    *Value = negative ? 0u - v : v;
    return STATUS_SUCCESS;
}

NTSTATUS RtlStringFromGUID(const GUID& g, PUNICODE_STRING GuidString)
{
    std::string s = Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                           g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                           g.Data4[7]);
    ANSI_STRING a;
    RtlInitAnsiString(&a, s.c_str());
    return RtlAnsiStringToUnicodeString(GuidString, &a, TRUE);
}
