#include "web/result_boxes.h"

#include <cctype>

namespace voxhall::web {

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isalnum(b) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    }
  }
  return out;
}

namespace {

void RedirectToBox(WebResponse& response, std::string location) {
  response.Redirect(std::move(location));
  response.close_connection = true;
}

}  // namespace

void DisplayError(WebResponse& response, std::string_view title, std::string_view text,
                  std::string_view url) {
  RedirectToBox(response, "error_box.html?error_title=" + PercentEncode(title) +
                              "&error_text=" + PercentEncode(text) +
                              "&error_url=" + PercentEncode(url));
}

void DisplayOK(WebResponse& response, std::string_view title, std::string_view text,
               std::string_view url) {
  RedirectToBox(response, "ok_box.html?ok_title=" + PercentEncode(title) + "&ok_text=" +
                              PercentEncode(text) + "&ok_url=" + PercentEncode(url));
}

void DisplayChoice(WebResponse& response, std::string_view title, std::string_view text,
                   std::string_view yes_url, std::string_view no_url, std::string_view yes_label,
                   std::string_view no_label) {
  RedirectToBox(response, "choice_box.html?choice_title=" + PercentEncode(title) +
                              "&choice_text=" + PercentEncode(text) +
                              "&choice_url_yes=" + PercentEncode(yes_url) +
                              "&choice_url_no=" + PercentEncode(no_url) +
                              "&choice_yes=" + PercentEncode(yes_label) +
                              "&choice_no=" + PercentEncode(no_label));
}

}  // namespace voxhall::web
