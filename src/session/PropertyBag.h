// Where the control's named values come from: "NAME=VALUE" pairs and the <param> elements of the
// HTML page that would host the control, and the page's location.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace remcons {

// Named values as a property bag holds them, in the order they were found.
using PropertyBag = std::vector<std::pair<std::string, std::string>>;

// The properties that carry secrets (the login and the session keys): shown only by their length,
// kept out of settings, wiped after use. Names compared without regard to case.
bool IsSecretProperty(std::string_view name);

// The host of a URL ("http://user@10.1.2.3:8080/x" gives "10.1.2.3"); empty when it has none.
std::string UrlHost(std::string_view url);
// True for a dotted IPv4 address: four decimal numbers 0 to 255 of one to three digits each.
bool IsDottedIpv4(std::string_view text);

// Reads a number as the property bag gives it: decimal, or hexadecimal after 0x, with blanks
// around it allowed. False for anything else or a value above max.
bool ParsePropertyNumber(std::string_view text, uint32_t max, uint32_t* value);

// "NAME=VALUE" as given on a command line; false without '=' or with an empty name.
bool ParseParamPair(std::string_view pair, std::string* name, std::string* value);

// The <param name=... value=...> elements inside the <object> element that hosts the control:
// the first <object> whose attribute values mention "RemCons", else the first <object> that
// holds any <param>.
// Tag and attribute names are case-insensitive; values may be quoted with " or ' or not at all;
// character references in values are decoded. Everything else of the page is ignored.
PropertyBag ParseHtmlParams(std::string_view html);

}  // namespace remcons
