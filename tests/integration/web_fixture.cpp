#include "web_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <sys/time.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>


namespace voxhall::testing {

namespace fs = std::filesystem;

namespace {

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i] == '+' ? ' ' : text[i]);
    }
  }
  return out;
}

std::string FormEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isalnum(b)) {
      out.push_back(c);
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  return out;
}

}  // namespace

WebServer::WebServer(const std::map<std::string, std::string>& files,
                     const std::map<std::string, std::string>& server_sections,
                     const std::string& main_config_extra, int port) {
  docs = dir.File("docs");
  for (const auto& [name, text] : files) {
    const fs::path path = fs::path(docs) / name;
    fs::create_directories(path.parent_path());
    WriteFile(path.string(), text);
  }
  fs::create_directories(docs);
  http_port = port != 0 ? port : FreeTcpPort();
  std::string ini = "[Main Config]\nHTTPServer Port=" + std::to_string(http_port) +
                    "\nTCPQueryPort=0\nExternalIPDectection=0\nBoundToIp=127.0.0.1\n" +
                    main_config_extra + "[WebPost]\nEnabled=0\n[Servers]\n";
  int index = 0;
  std::string sections;
  for (const auto& [name, extra] : server_sections) {
    const int port = FreeUdpPort();
    udp_ports[name] = port;
    ini += std::to_string(index++) + "=" + name + "\n";
    sections += "[" + name + "]\nServerUDPPort=" + std::to_string(port) + "\n" + extra;
  }
  WriteFile(dir.File("server.ini"), ini + sections);
  process = std::make_unique<ServerProcess>(
      dir.path(), std::vector<std::string>{"-httpdocs=" + docs,
                                           std::string("-adminpw=") + kAdminPassword});
  if (!WaitForText(dir.File("server.log"), "Server startup finished")) {
    throw std::runtime_error("server did not start: " + process->Stderr());
  }
}

std::string HttpAnswer::Header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return v;
    }
  }
  return {};
}

bool HttpAnswer::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return strcasecmp(h.first.c_str(), name.c_str()) == 0; });
}

HttpAnswer SendRequest(int port, const std::string& method, const std::string& path,
                       const std::string& extra_headers, const std::string& body,
                       const std::string& from) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  std::string raw;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
      ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          extra_headers + "Connection: close\r\n";
    if (!body.empty() || method == "POST") {
      request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n" + body;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      raw.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);

  HttpAnswer answer;
  const std::size_t head_end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) != 0 || head_end == std::string::npos) return answer;
  answer.status = std::stoi(raw.substr(9, 3));
  std::size_t pos = raw.find("\r\n") + 2;
  while (pos < head_end) {
    const std::size_t end = raw.find("\r\n", pos);
    const std::string line = raw.substr(pos, end - pos);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::size_t value = colon + 1;
      while (value < line.size() && line[value] == ' ') ++value;
      answer.headers.emplace_back(line.substr(0, colon), line.substr(value));
    }
    pos = end + 2;
  }
  answer.body = raw.substr(head_end + 4);
  return answer;
}

std::string FormBody(const Params& params) {
  std::string body;
  for (const auto& [name, value] : params) {
    if (!body.empty()) body += '&';
    body += FormEncode(name) + "=" + FormEncode(value);
  }
  return body;
}

HttpAnswer Browser::Send(const std::string& method, const std::string& path,
                         const std::string& body) {
  HttpAnswer answer = SendRequest(
      port_, method, path, cookie.empty() ? "" : "Cookie: IDHTTPSESSIONID=" + cookie + "\r\n", body);
  last_set_cookie = answer.Header("Set-Cookie");
  const std::string prefix = "IDHTTPSESSIONID=";
  if (last_set_cookie.rfind(prefix, 0) == 0 &&
      last_set_cookie.find("Max-Age=0") == std::string::npos) {
    cookie = last_set_cookie.substr(prefix.size(), last_set_cookie.find(';') - prefix.size());
  }
  return answer;
}

HttpAnswer Browser::Get(const std::string& path) { return Send("GET", path, ""); }
HttpAnswer Browser::Head(const std::string& path) { return Send("HEAD", path, ""); }
HttpAnswer Browser::Post(const std::string& path, const Params& params) {
  return Send("POST", path, FormBody(params));
}

std::string Browser::Login(const std::string& user, const std::string& password, int server_port) {
  return Post("/LOGIN.vhcmd", {{"username", user},
                               {"password", password},
                               {"serverport", std::to_string(server_port)}})
      .Header("Location");
}

std::string LocationParam(const std::string& location, const std::string& name) {
  const std::string key = name + "=";
  std::size_t pos = location.find('?');
  while (pos != std::string::npos) {
    ++pos;
    if (location.compare(pos, key.size(), key) == 0) {
      const std::size_t end = location.find('&', pos);
      return PercentDecode(location.substr(
          pos + key.size(), end == std::string::npos ? std::string::npos : end - pos - key.size()));
    }
    pos = location.find('&', pos);
  }
  return {};
}

}  // namespace voxhall::testing
