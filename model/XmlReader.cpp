#include "model/XmlReader.h"

#include "platform/FileSystem.h"
#include "platform/Format.h"

#include <expat.h>

#include <sys/stat.h>

#include <climits>
#include <memory>

namespace {

struct ParserFree {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserFree>;

std::string_view LocalName(const char* name)
{
    const std::string_view full(name);
    const std::size_t colon = full.rfind(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

// What the handlers share with the reading.
struct Reading {
    XML_Parser parser = nullptr;
    const XmlElementVisitor* visit = nullptr;
    int depth = 0;
    std::string refusal;        // why the handlers stopped the parser ("" when they did not)
    bool visitorDone = false;   // the visitor stopped the reading: not an error

    void Stop(std::string why)
    {
        refusal = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes)
{
    auto* reading = static_cast<Reading*>(data);
    if (++reading->depth > kMaxXmlDepth) {
        reading->Stop(platform::FormatString("elements nested deeper than %d", kMaxXmlDepth));
        return;
    }
    const XmlElement element{reading->depth, LocalName(name), attributes};
    if (!(*reading->visit)(element)) {
        reading->visitorDone = true;
        XML_StopParser(reading->parser, XML_FALSE);
    }
}

void XMLCALL OnEnd(void* data, const XML_Char*)
{
    --static_cast<Reading*>(data)->depth;
}

// A camera's files never declare a DTD; one that does is refused before its first declaration,
// so no entity is ever defined, let alone expanded or fetched.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
{
    static_cast<Reading*>(data)->Stop("it declares a document type, which camera files never do");
}

}  // namespace

const char* XmlElement::Attribute(std::string_view localName) const
{
    for (const char** attribute = attributes; attribute != nullptr && attribute[0] != nullptr; attribute += 2)
        if (LocalName(attribute[0]) == localName)
            return attribute[1];
    return nullptr;
}

bool ReadXml(std::span<const std::uint8_t> document, const XmlElementVisitor& visit, std::string& problem)
{
    if (document.size() > static_cast<std::size_t>(INT_MAX)) {
        problem = "too large";
        return false;
    }
    const ParserPtr parser(XML_ParserCreate(nullptr));
    if (!parser) {
        problem = "the XML parser could not be made";
        return false;
    }
    Reading reading;
    reading.parser = parser.get();
    reading.visit = &visit;
    XML_SetUserData(parser.get(), &reading);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    const auto* text = reinterpret_cast<const char*>(document.data());
    if (XML_Parse(parser.get(), text, static_cast<int>(document.size()), XML_TRUE) == XML_STATUS_OK ||
        reading.visitorDone)
        return true;
    const XML_Error error = XML_GetErrorCode(parser.get());
    const std::string why = !reading.refusal.empty() ? reading.refusal
                            : error == XML_ERROR_NONE ? std::string("malformed")
                                                      : std::string(XML_ErrorString(error));
    problem = platform::FormatString("%s at line %lu", why.c_str(),
                                     static_cast<unsigned long>(XML_GetCurrentLineNumber(parser.get())));
    return false;
}

bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                   std::string& problem)
{
    const platform::FileDescriptor file = platform::OpenRegularDescriptor(path);
    struct stat info {};
    if (!file || fstat(file.Get(), &info) != 0) {
        problem = "cannot be opened";
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        problem = platform::FormatString("larger than %zu bytes", maxBytes);
        return false;
    }
    // One byte more than the limit is asked for, so a file that grew since is seen to be too large.
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    bool failed = false;
    bytes.resize(platform::ReadAt(file.Get(), bytes.data(), bytes.size(), 0, failed));
    if (failed) {
        problem = "read error";
        return false;
    }
    if (bytes.size() > maxBytes) {
        problem = platform::FormatString("larger than %zu bytes", maxBytes);
        return false;
    }
    return true;
}
