// The registry store and its text file.
#include "platform/registry_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/internal.h"
#include "platform/reg.h"

namespace platform {

namespace {

bool StartsWithNoCase(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == Lower(prefix);
}

bool IsVolatilePath(const std::string& path)
{
    std::string l = Lower(path);
    const std::string hw = "\\registry\\machine\\hardware";
    return l.compare(0, hw.size(), hw) == 0 && (l.size() == hw.size() || l[hw.size()] == '\\');
}

std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Reads a quoted string at s[pos]; pos ends after the closing quote.
bool Unquote(const std::string& s, size_t& pos, std::string* out, std::string* why)
{
    if (pos >= s.size() || s[pos] != '"') {
        *why = "expected a quoted name or text";
        return false;
    }
    pos++;
    out->clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\') {
            if (pos >= s.size()) break;
            char e = s[pos++];
            if (e != '\\' && e != '"') {
                *why = "unknown escape in quoted text";
                return false;
            }
            c = e;
        }
        *out += c;
    }
    *why = "quoted text is not closed";
    return false;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>* out, std::string* why)
{
    out->clear();
    size_t i = 0;
    auto skip = [&] {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
    };
    skip();
    if (i == s.size()) return true;
    for (;;) {
        skip();
        int v = 0, digits = 0;
        while (i < s.size() && digits < 3 && std::isxdigit(static_cast<unsigned char>(s[i]))) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
            v = v * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
            i++;
            digits++;
        }
        if (digits == 0 || digits > 2) {
            *why = "binary data must be two-digit hexadecimal bytes separated by commas";
            return false;
        }
        out->push_back(static_cast<uint8_t>(v));
        skip();
        if (i == s.size()) return true;
        if (s[i] != ',') {
            *why = "binary data must be two-digit hexadecimal bytes separated by commas";
            return false;
        }
        i++;
    }
}

std::string HexText(const std::vector<uint8_t>& d)
{
    std::string out;
    for (size_t i = 0; i < d.size(); i++) {
        out += Format("%s%02x", i ? "," : "", d[i]);
    }
    return out;
}

// REG_SZ data that can be written as quoted text: terminated UTF-16 without inner nulls.
bool TextForm(const std::vector<uint8_t>& d, std::string* text)
{
    if (d.size() < 2 || d.size() % 2 != 0) return false;
    std::u16string w;
    for (size_t i = 0; i + 1 < d.size(); i += 2) w += static_cast<char16_t>(d[i] | (d[i + 1] << 8));
    if (w.back() != 0) return false;
    w.pop_back();
    for (char16_t c : w) {
        if (c == 0 || c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) return false;
    }
    *text = Narrow(w.data(), w.size());
    return Widen(*text) == w;
}

std::vector<uint8_t> TextData(const std::string& text)
{
    std::u16string w = Widen(text);
    std::vector<uint8_t> d;
    for (char16_t c : w) {
        d.push_back(static_cast<uint8_t>(c & 0xFF));
        d.push_back(static_cast<uint8_t>(c >> 8));
    }
    d.push_back(0);
    d.push_back(0);
    return d;
}

}  // namespace

std::string RegistryStore::Normalize(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '\\' && !out.empty() && out.back() == '\\') continue;
        out += c;
    }
    while (out.size() > 1 && out.back() == '\\') out.pop_back();
    return out;
}

RegistryStore::Key* RegistryStore::FindLocked(const std::string& path)
{
    auto it = keys_.find(Lower(Normalize(path)));
    return it == keys_.end() ? nullptr : &it->second;
}

const RegistryStore::Key* RegistryStore::FindLocked(const std::string& path) const
{
    auto it = keys_.find(Lower(Normalize(path)));
    return it == keys_.end() ? nullptr : &it->second;
}

NTSTATUS RegistryStore::Load(const std::string& file, std::string* error)
{
    {
        std::lock_guard<std::mutex> lk(mu_);
        file_ = file;
        persist_ = false;
        keys_.clear();
    }
    if (file.empty()) return STATUS_SUCCESS;
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        *error = Format("registry file '%s': is a directory", file.c_str());
        return STATUS_OBJECT_NAME_INVALID;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) {
            std::lock_guard<std::mutex> lk(mu_);
            persist_ = true;
            return STATUS_SUCCESS;
        }
        *error = Format("registry file '%s': cannot be opened: %s", file.c_str(), std::strerror(errno));
        return STATUS_ACCESS_DENIED;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    if (in.bad()) {
        *error = Format("registry file '%s': cannot be read", file.c_str());
        return STATUS_REGISTRY_CORRUPT;
    }
    NTSTATUS status = Parse(ss.str(), Format("registry file '%s'", file.c_str()), error);
    std::lock_guard<std::mutex> lk(mu_);
    if (!NT_SUCCESS(status)) {
        keys_.clear();
        return status;
    }
    persist_ = true;
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::Parse(const std::string& text, const std::string& origin, std::string* error)
{
    std::map<std::string, Key> keys;
    Key* current = nullptr;
    size_t lineNo = 0;
    size_t pos = 0;
    auto fail = [&](const std::string& why) {
        *error = Format("%s line %zu: %s", origin.c_str(), lineNo, why.c_str());
        return STATUS_REGISTRY_CORRUPT;
    };
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        lineNo++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) return fail("contains a null byte");
        size_t b = 0;
        while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) b++;
        line = line.substr(b);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail("key line must end with ']'");
            std::string path = Normalize(line.substr(1, line.size() - 2));
            if (!StartsWithNoCase(path, "\\REGISTRY\\")) return fail("key path must begin with \\REGISTRY\\");
            Key& k = keys[Lower(path)];
            if (k.path.empty()) k.path = path;
            current = &k;
            continue;
        }
        if (current == nullptr) return fail("value outside a key (a [key] line must come first)");
        Value v;
        std::string why;
        size_t p = 0;
        if (line[0] == '@') {
            p = 1;
        } else if (!Unquote(line, p, &v.name, &why)) {
            return fail(why);
        }
        if (p >= line.size() || line[p] != '=') return fail("expected '=' after the value name");
        std::string rhs = line.substr(p + 1);
        if (!rhs.empty() && rhs[0] == '"') {
            size_t q = 0;
            std::string s;
            if (!Unquote(rhs, q, &s, &why)) return fail(why);
            if (q != rhs.size()) return fail("unexpected text after the closing quote");
            v.type = REG_SZ;
            v.data = TextData(s);
        } else if (rhs.compare(0, 6, "dword:") == 0) {
            std::string digits = rhs.substr(6);
            if (digits.empty() || digits.size() > 8) return fail("a dword needs one to eight hexadecimal digits");
            ULONG x = 0;
            for (char c : digits) {
                if (!std::isxdigit(static_cast<unsigned char>(c))) return fail("a dword needs hexadecimal digits");
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                x = x * 16 + static_cast<ULONG>(c <= '9' ? c - '0' : c - 'a' + 10);
            }
            v.type = REG_DWORD;
            for (int i = 0; i < 4; i++) v.data.push_back(static_cast<uint8_t>(x >> (8 * i)));
        } else if (rhs.compare(0, 4, "hex:") == 0) {
            v.type = REG_BINARY;
            if (!ParseHex(rhs.substr(4), &v.data, &why)) return fail(why);
        } else if (rhs.compare(0, 4, "hex(") == 0) {
            size_t close = rhs.find("):");
            if (close == std::string::npos || close == 4 || close > 12) return fail("expected hex(type):");
            ULONG type = 0;
            for (size_t i = 4; i < close; i++) {
                if (!std::isxdigit(static_cast<unsigned char>(rhs[i]))) return fail("type of hex(type) must be hexadecimal");
                char c = static_cast<char>(std::tolower(static_cast<unsigned char>(rhs[i])));
                type = type * 16 + static_cast<ULONG>(c <= '9' ? c - '0' : c - 'a' + 10);
            }
            v.type = type;
            if (!ParseHex(rhs.substr(close + 2), &v.data, &why)) return fail(why);
        } else {
            return fail("value must be \"text\", dword:, hex: or hex(type):");
        }
        bool replaced = false;
        for (Value& old : current->values) {
            if (Lower(old.name) == Lower(v.name)) {
                old = v;
                replaced = true;
            }
        }
        if (!replaced) current->values.push_back(v);
    }
    std::lock_guard<std::mutex> lk(mu_);
    keys_ = std::move(keys);
    return STATUS_SUCCESS;
}

std::string RegistryStore::Serialize() const
{
    std::string out = "; registry of a modem machine\n";
    for (auto& [lower, k] : keys_) {
        if (k.isVolatile || IsVolatilePath(k.path)) continue;
        out += "\n[" + k.path + "]\n";
        for (const Value& v : k.values) {
            out += v.name.empty() ? std::string("@") : Quote(v.name);
            out += "=";
            std::string text;
            if (v.type == REG_SZ && TextForm(v.data, &text)) {
                out += Quote(text);
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                ULONG x = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<ULONG>(v.data[3]) << 24);
                out += Format("dword:%08x", x);
            } else if (v.type == REG_BINARY) {
                out += "hex:" + HexText(v.data);
            } else {
                out += Format("hex(%x):", v.type) + HexText(v.data);
            }
            out += "\n";
        }
    }
    return out;
}

NTSTATUS RegistryStore::SaveLocked()
{
    if (!persist_ || file_.empty()) return STATUS_SUCCESS;
    std::string tmp = file_ + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return STATUS_UNSUCCESSFUL;
        out << Serialize();
        out.flush();
        if (!out) return STATUS_UNSUCCESSFUL;
    }
    if (std::rename(tmp.c_str(), file_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return STATUS_UNSUCCESSFUL;
    }
    return STATUS_SUCCESS;
}

bool RegistryStore::KeyExists(const std::string& path) const
{
    std::lock_guard<std::mutex> lk(mu_);
    std::string l = Lower(Normalize(path));
    if (keys_.count(l)) return true;
    auto it = keys_.lower_bound(l + "\\");
    return it != keys_.end() && it->first.compare(0, l.size() + 1, l + "\\") == 0;
}

NTSTATUS RegistryStore::CreateKey(const std::string& path, bool isVolatile, bool* created)
{
    std::string n = Normalize(path);
    if (!StartsWithNoCase(n, "\\REGISTRY\\")) return STATUS_OBJECT_NAME_INVALID;
    bool exists = KeyExists(n);
    std::lock_guard<std::mutex> lk(mu_);
    if (created) *created = !exists;
    if (FindLocked(n) != nullptr) return STATUS_SUCCESS;
    Key& k = keys_[Lower(n)];
    k.path = n;
    k.isVolatile = isVolatile;
    return (isVolatile || exists) ? STATUS_SUCCESS : SaveLocked();
}

NTSTATUS RegistryStore::DeleteKey(const std::string& path)
{
    std::lock_guard<std::mutex> lk(mu_);
    if (keys_.erase(Lower(Normalize(path))) == 0) return STATUS_OBJECT_NAME_NOT_FOUND;
    return SaveLocked();
}

NTSTATUS RegistryStore::SetValue(const std::string& path, const std::string& name, ULONG type, const void* data,
                                 size_t length)
{
    std::string n = Normalize(path);
    if (!StartsWithNoCase(n, "\\REGISTRY\\")) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard<std::mutex> lk(mu_);
    Key& k = keys_[Lower(n)];
    if (k.path.empty()) k.path = n;
    Value v;
    v.name = name;
    v.type = type;
    if (length > 0) v.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
    bool replaced = false;
    for (Value& old : k.values) {
        if (Lower(old.name) == Lower(name)) {
            v.name = old.name;
            old = v;
            replaced = true;
            break;
        }
    }
    if (!replaced) k.values.push_back(v);
    if (k.isVolatile || IsVolatilePath(n)) return STATUS_SUCCESS;
    return SaveLocked();
}

NTSTATUS RegistryStore::QueryValue(const std::string& path, const std::string& name, Value* out) const
{
    std::lock_guard<std::mutex> lk(mu_);
    const Key* k = FindLocked(path);
    if (k == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    for (const Value& v : k->values) {
        if (Lower(v.name) == Lower(name)) {
            *out = v;
            return STATUS_SUCCESS;
        }
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS RegistryStore::DeleteValue(const std::string& path, const std::string& name)
{
    std::lock_guard<std::mutex> lk(mu_);
    Key* k = FindLocked(path);
    if (k == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    for (size_t i = 0; i < k->values.size(); i++) {
        if (Lower(k->values[i].name) == Lower(name)) {
            k->values.erase(k->values.begin() + static_cast<std::ptrdiff_t>(i));
            if (k->isVolatile || IsVolatilePath(k->path)) return STATUS_SUCCESS;
            return SaveLocked();
        }
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS RegistryStore::EnumerateValue(const std::string& path, ULONG index, Value* out) const
{
    std::lock_guard<std::mutex> lk(mu_);
    const Key* k = FindLocked(path);
    if (k == nullptr) return index == 0 ? STATUS_NO_MORE_ENTRIES : STATUS_NO_MORE_ENTRIES;
    if (index >= k->values.size()) return STATUS_NO_MORE_ENTRIES;
    *out = k->values[index];
    return STATUS_SUCCESS;
}

std::vector<std::string> RegistryStore::ValueNames(const std::string& path) const
{
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<std::string> out;
    const Key* k = FindLocked(path);
    if (k != nullptr) {
        for (const Value& v : k->values) out.push_back(v.name);
    }
    return out;
}

}  // namespace platform
