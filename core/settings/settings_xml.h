// The settings file's XML: text coding, element lookup, and the conversion
// between the file's bytes and TOptions.
//
// The file is Windows-1251. It is parsed as Latin-1 without entity
// expansion, so every byte of element text reaches DecodeSettingsText as the
// byte itself; that routine then expands the five XML entities and the
// character references and maps every other byte through the code page.
// Nothing else is ever expanded: no DTD, no declared or external entity.
//
// Layout written: the declaration line, then one element per line (root
// options_xml, sections conn, keys, iface, folders, mail, other), lines
// ended by CR LF.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"

namespace qovra {

inline constexpr std::string_view kSettingsDeclaration =
    R"(<?xml version="1.0" encoding="WINDOWS-1251"?>)";

// Parses the whole file's bytes into doc as described above. False when the
// bytes are not well-formed XML or have no root element.
[[nodiscard]] bool ParseSettingsDocument(std::string_view bytes, pugi::xml_document& doc);

// Element text as held by a document from ParseSettingsDocument (raw bytes,
// entities unexpanded) to UTF-8: "&amp;", "&lt;", "&gt;", "&quot;",
// "&apos;" and character references ("&#1202;", "&#x4B2;") give their
// characters, every other byte the Windows-1251 character it stands for. An
// "&" that starts nothing of these stays as it is.
std::string DecodeSettingsText(std::string_view raw);

// UTF-8 text to the bytes written between the tags: "&", '"', "'", "<" and
// ">" as entities ("&#039;" for the apostrophe), control characters, U+0098
// and characters without a Windows-1251 byte as decimal character
// references, everything else as its Windows-1251 byte.
std::string EncodeSettingsText(std::string_view utf8);

// Bytes written as they are (the UTF-8 of the sound path), with the five
// XML characters as entities and control bytes as character references.
std::string EscapeSettingsBytes(std::string_view bytes);

// The decoded text of the first child element of parent named name (names
// compare exactly), or default_text when there is none. The text is that of
// all text and CDATA nodes inside the element, in order.
// REQUIRES: parent belongs to a document from ParseSettingsDocument.
std::string GetNodeText(pugi::xml_node parent, std::string_view name,
                        std::string_view default_text);

// Reads the settings from a whole file's bytes into options: sections are
// recognised without regard to case and absent sections leave their fields
// as they were; missing elements and values that are not numbers of the
// field's range take their defaults; the proxy fields are read only when
// useprxy is set; a sendmode outside 0..1 becomes 0; an enciphered path that
// does not decipher to UTF-8 text becomes empty. Returns false, leaving
// options untouched, when the bytes do not parse.
[[nodiscard]] bool ReadOptionsFromBytes(std::string_view bytes, TOptions& options);

// The lines of the settings file for options, without line ends.
// REQUIRES: options.Mail.sendmode is 0 or 1 (SaveOptions makes it so).
std::vector<std::string> OptionsToLines(const TOptions& options);

}  // namespace qovra
