#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The project's one property-list reader and writer. Reading is for untrusted
// files (anything inside a library bundle): our own bounded parsers for binary
// ("bplist00") and XML property lists, never libplist, which crashes on deep
// nesting and on reference bombs. Writing is for our own values and produces
// what macOS writes. Nothing here throws except std::bad_alloc; nothing keeps
// state, so every function may be called from any thread.
namespace vellico::formats {

enum class PlistType { string, boolean, integer, real, data, date, uid, array, dict };

// One property-list value: a tree that owns its children. A default-constructed
// value is an empty string (there is no "null" in a property list; absence is
// `std::optional<PlistValue>` or a nullptr from the accessors).
//
// The typed accessors return nullptr when the value holds another type, so a
// caller never reads a field of the wrong kind: `v.dict()` on a string is
// nullptr. Dictionaries keep their entries in file order, duplicates included;
// lookups take the last match, as the system's reader does (a later value of
// a key replaces an earlier one).
class PlistValue {
public:
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<PlistValue>;
    using Dict = std::vector<std::pair<std::string, PlistValue>>; // file order
    struct Date {
        double secondsSince2001 = 0; // 2001-01-01T00:00:00Z is 0, as on macOS
        bool operator==(const Date&) const = default;
    };
    struct Uid { // keyed-archiver object reference (binary lists only)
        std::uint64_t value = 0;
        bool operator==(const Uid&) const = default;
    };

    PlistValue() = default;
    explicit PlistValue(bool v) : m_value(v) {}
    explicit PlistValue(std::int64_t v) : m_value(v) {}
    explicit PlistValue(double v) : m_value(v) {}
    explicit PlistValue(std::string v) : m_value(std::move(v)) {}
    explicit PlistValue(const char* v) : m_value(std::string(v)) {} // not the bool overload
    explicit PlistValue(Data v) : m_value(std::move(v)) {}
    explicit PlistValue(Date v) : m_value(v) {}
    explicit PlistValue(Uid v) : m_value(v) {}
    explicit PlistValue(Array v) : m_value(std::move(v)) {}
    explicit PlistValue(Dict v) : m_value(std::move(v)) {}

    static PlistValue fromBool(bool v) { return PlistValue(v); }
    static PlistValue fromInteger(std::int64_t v) { return PlistValue(v); }
    static PlistValue fromReal(double v) { return PlistValue(v); }
    static PlistValue fromString(std::string v) { return PlistValue(std::move(v)); }
    static PlistValue fromData(Data v) { return PlistValue(std::move(v)); }
    static PlistValue fromDate(Date v) { return PlistValue(v); }
    static PlistValue fromUid(Uid v) { return PlistValue(v); }
    static PlistValue fromArray(Array v) { return PlistValue(std::move(v)); }
    static PlistValue fromDict(Dict v) { return PlistValue(std::move(v)); }

    PlistType type() const { return static_cast<PlistType>(m_value.index()); }

    // nullptr when the value holds another type.
    const bool* boolean() const { return std::get_if<bool>(&m_value); }
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&m_value); }
    const double* real() const { return std::get_if<double>(&m_value); }
    const std::string* string() const { return std::get_if<std::string>(&m_value); }
    const Data* data() const { return std::get_if<Data>(&m_value); }
    const Date* date() const { return std::get_if<Date>(&m_value); }
    const Uid* uid() const { return std::get_if<Uid>(&m_value); }
    const Array* array() const { return std::get_if<Array>(&m_value); }
    const Dict* dict() const { return std::get_if<Dict>(&m_value); }
    // Mutable access for building values (same nullptr rule).
    Array* array() { return std::get_if<Array>(&m_value); }
    Dict* dict() { return std::get_if<Dict>(&m_value); }

    // Dictionary lookup: the first entry named `key`; nullptr when this is not
    // a dictionary or has no such key.
    const PlistValue* find(std::string_view key) const;
    // Typed lookups: absent when the key is missing or holds another type
    // (a `<string>true</string>` is not a bool).
    std::optional<std::string> stringFor(std::string_view key) const;
    std::optional<bool> boolFor(std::string_view key) const;
    std::optional<std::int64_t> integerFor(std::string_view key) const;
    const Data* dataFor(std::string_view key) const;
    const Dict* dictFor(std::string_view key) const;
    const Array* arrayFor(std::string_view key) const;

    // Deep comparison: same type and same contents, dictionaries in the same
    // order. Reals compare as doubles (a NaN never equals itself).
    bool operator==(const PlistValue& other) const;

private:
    // The order matches PlistType; the string comes first so that a
    // default-constructed value is an empty string.
    std::variant<std::string, bool, std::int64_t, double, Data, Date, Uid, Array, Dict> m_value;
};

// Bounds for reading untrusted input; anything over one is refused whole.
struct PlistLimits {
    // Size of the input (and, for the *At/path readers, of the file).
    std::size_t maxBytes = 1 << 20;
    // Containers (arrays, dictionaries) nested in one another, the outermost
    // counting as 1: 32 nested arrays pass, 33 do not. Clamped to 1024 in any
    // case, so that the recursive parsers cannot exhaust the stack.
    std::size_t maxDepth = 32;
    // Values in the resulting tree (dictionary keys not counted separately).
    // A binary object referenced twice counts twice: this is what refuses a
    // "reference bomb" early.
    std::size_t maxNodes = 10000;
    // Bytes of string and data contents in the resulting tree, keys included.
    // Binary lists can reference one large string many times; this keeps the
    // expanded tree from being many times the size of the file.
    std::size_t maxPayloadBytes = 16 << 20;
};

// Parses a binary ("bplist00") or XML property list; any top-level type.
// None on anything malformed or over a limit: bad offsets or counts, object
// reference cycles, non-string dictionary keys, invalid UTF-8, unknown
// elements or entities, integers outside 64-bit signed range, trailing garbage.
// Binary sets, nulls and 128-bit integers beyond int64 are refused too.
std::optional<PlistValue> parsePropertyList(std::span<const std::uint8_t> bytes,
                                            const PlistLimits& limits = {});

// Reads `name` inside the directory `dirFd` (no link followed in `name`, FIFOs
// and devices refused without blocking, at most limits.maxBytes), parses it and
// returns it only when its top level is a dictionary. None otherwise, including
// when the file is missing or unreadable.
std::optional<PlistValue> readPropertyListDictionaryAt(int dirFd, const char* name,
                                                       const PlistLimits& limits = {});

// Same by path: opens the containing directory (links in it followed, as for a
// folder the user named), then the file without following a link in the last
// component.
std::optional<PlistValue> readPropertyListDictionary(const std::filesystem::path& file,
                                                     const PlistLimits& limits = {});

// Serialisers for our own values. XML is written as macOS writes it: the XML
// declaration, the Apple DOCTYPE, <plist version="1.0">, tab indentation,
// base64 data wrapped as CoreFoundation wraps it, reals as "%.17g", dates in
// whole UTC seconds. None when the value cannot be written: a string that is
// not valid UTF-8 (or, for XML, holds a control character XML cannot carry),
// a Uid in XML, a date outside years 1-9999 in XML, a value nested deeper than
// 1024 containers.
std::optional<std::string> toXmlPropertyList(const PlistValue& value);

} // namespace vellico::formats
