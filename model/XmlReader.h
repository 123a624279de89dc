#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Reads the XML files that cameras write onto their cards, which are untrusted input: with expat,
// a well-kept parser, from bytes already in memory. The reader never loads anything: no external
// entity, no DTD and nothing from the network. A document that declares a DTD (the only way to
// define entities, and so to make a small file expand into a huge one) is refused whole, as are
// malformed documents and elements nested deeper than kMaxXmlDepth.

inline constexpr int kMaxXmlDepth = 64;

// One element's start: its depth (1 for the root), its local name (a namespace prefix dropped:
// "Duration" for "nrt:Duration") and its attributes as expat gives them (name, value, ...,
// nullptr), names with their prefixes.
struct XmlElement {
    int depth = 0;
    std::string_view name;
    const char** attributes = nullptr;

    // The value of the attribute of this local name, or nullptr.
    const char* Attribute(std::string_view localName) const;
};

// Visits each element's start in document order; may stop the reading by returning false (not
// an error). False for a document that could not be read whole, with the parser's reason and
// line in `problem`.
using XmlElementVisitor = std::function<bool(const XmlElement& element)>;
bool ReadXml(std::span<const std::uint8_t> document, const XmlElementVisitor& visit, std::string& problem);

// Reads a regular file of at most `maxBytes` (a longer one is refused, unread); false with the
// reason in `problem` ("cannot be opened", "larger than N bytes", "read error").
bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                   std::string& problem);
