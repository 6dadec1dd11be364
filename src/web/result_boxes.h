// The three result boxes of the web administration: redirects to the box
// templates "error_box.html", "ok_box.html" and "choice_box.html", whose
// placeholders the template engine fills from the redirect's parameters.
// Each parameter value is percent-encoded, so that names holding "&", "#",
// "+" or blanks arrive whole. Each box closes the connection after the answer.
#pragma once

#include <string>
#include <string_view>

#include "web/web_request.h"

namespace voxhall::web {

// The text with every byte but letters, digits and "-._~" written as %XX.
std::string PercentEncode(std::string_view text);

void DisplayError(WebResponse& response, std::string_view title, std::string_view text,
                  std::string_view url);
void DisplayOK(WebResponse& response, std::string_view title, std::string_view text,
               std::string_view url);
void DisplayChoice(WebResponse& response, std::string_view title, std::string_view text,
                   std::string_view yes_url, std::string_view no_url, std::string_view yes_label,
                   std::string_view no_label);

}  // namespace voxhall::web
