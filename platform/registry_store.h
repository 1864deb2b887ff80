// The registry of one machine: keys with typed values in memory, persisted to a plain text file.
//
// File format (one item per line; ';' or '#' starts a comment line):
//   [\REGISTRY\MACHINE\SYSTEM\CurrentControlSet\Services\Kestrin\Parameters]
//   "DeviceDesc"="some text"           REG_SZ (stored as terminated UTF-16)
//   "CurrentCountry"=dword:00000031    REG_DWORD
//   "EEProm"=hex:00,52,34,54           REG_BINARY
//   "Other"=hex(7):41,00,00,00         any type, raw bytes
// In quoted names and texts, \\ is a backslash and \" a quote. Keys under \REGISTRY\MACHINE\HARDWARE and
// keys created volatile are not written to the file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>
#include <map>

#include "platform/ntdef.h"
#include "platform/ntstatus.h"

namespace platform {

class RegistryStore {
public:
    struct Value {
        std::string name;
        ULONG type = 0;
        std::vector<uint8_t> data;
    };

    // Reads the file. A missing file is an empty registry. Any other problem gives an error status and a
    // message naming the file and line; the registry is then left empty and the file is never overwritten.
    NTSTATUS Load(const std::string& file, std::string* error);
    // Parses registry text (the file's contents) into this store.
    NTSTATUS Parse(const std::string& text, const std::string& origin, std::string* error);
    std::string Serialize() const;

    bool KeyExists(const std::string& path) const;
    NTSTATUS CreateKey(const std::string& path, bool isVolatile, bool* created);
    NTSTATUS DeleteKey(const std::string& path);
    NTSTATUS SetValue(const std::string& path, const std::string& name, ULONG type, const void* data, size_t length);
    NTSTATUS QueryValue(const std::string& path, const std::string& name, Value* out) const;
    NTSTATUS DeleteValue(const std::string& path, const std::string& name);
    NTSTATUS EnumerateValue(const std::string& path, ULONG index, Value* out) const;
    std::vector<std::string> ValueNames(const std::string& path) const;
    const std::string& File() const { return file_; }

    static std::string Normalize(const std::string& path);  // no trailing or doubled backslashes

private:
    struct Key {
        std::string path;  // as first created
        bool isVolatile = false;
        std::vector<Value> values;
    };
    NTSTATUS SaveLocked();
    Key* FindLocked(const std::string& path);
    const Key* FindLocked(const std::string& path) const;

    mutable std::mutex mu_;
    std::map<std::string, Key> keys_;  // by lower-case normalised path
    std::string file_;
    bool persist_ = false;
};

}  // namespace platform
