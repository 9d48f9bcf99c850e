// dat_win.cpp - a DAT's XML read with the system's XmlLite, loaded from xmllite.dll when first needed
//
// MinGW ships XmlLite's header but no import library, so the one entry point
// needed, CreateXmlReader, is looked up in the system's DLL. The DAT's bytes
// reach the reader through a memory stream (SHCreateMemStream).
#include "qiv/dat.hpp"

#include "io/utf16_win.hpp"

#include <windows.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstdio>
#include <memory>

namespace qiv {

namespace {

struct Release {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, Release>;

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateXmlReaderFunction create_xml_reader() {
    static const CreateXmlReaderFunction function = [] {
        HMODULE library = ::LoadLibraryW(L"xmllite.dll");  // kept for the process's life
        return library ? reinterpret_cast<CreateXmlReaderFunction>(
                             reinterpret_cast<void*>(::GetProcAddress(library, "CreateXmlReader")))
                       : nullptr;
    }();
    return function;
}

// The value of the current element's attribute `name`, "" when it has none.
std::string attribute(IXmlReader& reader, const WCHAR* name) {
    const WCHAR* value = nullptr;
    std::string text;
    if (reader.MoveToAttributeByName(name, nullptr) == S_OK && reader.GetValue(&value, nullptr) == S_OK && value)
        text = qivpak::utf16_to_utf8(value);
    reader.MoveToElement();
    return text;
}

std::wstring local_name(IXmlReader& reader) {
    const WCHAR* name = nullptr;
    return reader.GetLocalName(&name, nullptr) == S_OK && name ? name : L"";
}

[[noreturn]] void refuse_xml(IXmlReader& reader, HRESULT status) {
    UINT line = 0, column = 0;
    reader.GetLineNumber(&line);
    reader.GetLinePosition(&column);
    char text[96];
    std::snprintf(text, sizeof text, "XML error 0x%08lX (at line %u, column %u)", static_cast<unsigned long>(status),
                  line, column);
    throw DatError(text);
}

}  // namespace

std::vector<DatRom> parse_dat(std::string_view xml) {
    check_dat_bytes(xml);
    const CreateXmlReaderFunction create = create_xml_reader();
    if (!create) throw DatError("this system has no XML reader (xmllite.dll)");
    IXmlReader* raw_reader = nullptr;
    if (FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&raw_reader), nullptr)) || !raw_reader)
        throw DatError("the system's XML reader cannot be started");
    const ComPtr<IXmlReader> reader(raw_reader);
    const ComPtr<IStream> stream(::SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()), static_cast<UINT>(xml.size())));
    if (!stream || FAILED(reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse)) ||
        FAILED(reader->SetInput(stream.get())))
        throw DatError("the system's XML reader cannot be started");

    std::vector<DatRom> roms;
    std::string game;
    bool in_game = false, seen_root = false;
    XmlNodeType type{};
    HRESULT status;
    while ((status = reader->Read(&type)) == S_OK) {
        if (type != XmlNodeType_Element) continue;
        UINT depth = 0;
        reader->GetDepth(&depth);
        const std::wstring name = local_name(*reader);
        if (depth == 0) {
            if (name != L"datafile") throw DatError("the document element is not <datafile>");
            seen_root = true;
        } else if (depth == 1) {
            in_game = name == L"game" || name == L"machine";
            if (in_game) game = attribute(*reader, L"name");
        } else if (depth == 2 && in_game && name == L"rom") {
            add_rom(roms, game, attribute(*reader, L"name"), attribute(*reader, L"size"), attribute(*reader, L"crc"),
                    attribute(*reader, L"md5"), attribute(*reader, L"sha1"));
        }
    }
    if (FAILED(status)) refuse_xml(*reader, status);
    if (!seen_root) throw DatError("the document element is not <datafile>");
    return roms;
}

}  // namespace qiv
