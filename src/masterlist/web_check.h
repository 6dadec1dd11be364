// The external IP check: one GET of a web service that answers the caller's
// address. The answer is text whose lines are separated by "<br>" (any letter
// case) or line breaks; the line "IP=<address>" carries the address.
// WebCheck blocks for at most a few seconds of network time; fronts run it
// through IpCheckRunner (ip_check.h) so that they never wait for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "masterlist/http_request.h"

namespace voxhall::masterlist {

struct WebCheckRequest {
  bool enabled = false;  // ask the service at all
  std::string address;   // the service's address, e.g. "http://example.net/getip.php"
  HttpOptions http;      // local address and proxy
};

struct WebCheckAnswer {
  enum class Outcome {
    Disabled,  // no request was sent; `lines` is empty
    Answered,  // `lines` holds the answer
    Failed,    // the request failed (no connection, error status, bad address)
  };
  Outcome outcome = Outcome::Disabled;
  std::vector<std::string> lines;
};

// Runs one check. Never throws.
WebCheckAnswer WebCheck(const WebCheckRequest& request);

// The answer's lines: every "<br>" (any letter case) becomes a line break,
// then CR LF, CR or LF end a line. A trailing line break adds no empty line.
std::vector<std::string> SplitAnswerLines(std::string_view body);

// The value of the line "IP=<value>" (the name compared without regard to
// letter case), or empty when no line has that name.
std::string ExternalAddressOf(const std::vector<std::string>& lines);

}  // namespace voxhall::masterlist
