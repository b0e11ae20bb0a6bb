// The address the main window's update link opens.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qovra::ui {

// url + "?ver=" + version_code in decimal, when url is an http or https
// address with a host; nothing for any other address (a local file, a
// script, a program), which is never opened.
std::optional<std::string> UpdatePageAddress(const std::string& url, uint32_t version_code);

}  // namespace qovra::ui
