#include "masterlist/ip_check.h"

#include <algorithm>
#include <utility>

#include "host/settings.h"
#include "log/log.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace voxhall::masterlist {

namespace {

std::string DottedText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
  return text;
}

void AddAddress(std::vector<std::string>& list, std::string address) {
  if (address.empty() || list.size() >= kMaxLocalAddresses) return;
  if (std::find(list.begin(), list.end(), address) != list.end()) return;
  list.push_back(std::move(address));
}

}  // namespace

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> list;

  char host_name[65] = {};
  if (gethostname(host_name, 64) == 0) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* found = nullptr;
    if (getaddrinfo(host_name, nullptr, &hints, &found) == 0) {
      for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
        AddAddress(list, DottedText(reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr));
      }
      freeaddrinfo(found);
    }
  }

#ifndef _WIN32
  // Many hosts resolve their own name to a loopback alias only, so the
  // interfaces' own addresses follow.
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) == 0) {
    for (ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
      if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
      AddAddress(list, DottedText(reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr));
    }
    freeifaddrs(interfaces);
  }
#endif
  return list;
}

WebCheckRequest IpCheckRequestFromConfig() {
  const host::MainConfig& config = host::Config();
  WebCheckRequest request;
  request.address = config.ExternalIPCheckURL;
  request.enabled = config.ExternalIPDetection && !request.address.empty();
  request.http.bound_ip = config.BoundToIp;
  if (config.ProxyEnabled) {
    request.http.proxy_host = config.ProxyHost;
    request.http.proxy_port = config.ProxyPort;
    request.http.proxy_user = config.ProxyUser;
    request.http.proxy_password = config.ProxyPassword;
    request.http.proxy_basic_auth = !config.ProxyUser.empty();
  }
  return request;
}

AddressList RunIpCheck(const WebCheckRequest& request) {
  const WebCheckAnswer answer = WebCheck(request);
  AddressList list;
  list.local = LocalIPv4Addresses();
  switch (answer.outcome) {
    case WebCheckAnswer::Outcome::Disabled:
      break;
    case WebCheckAnswer::Outcome::Answered:
      list.show_external = true;
      list.external = ExternalAddressOf(answer.lines);
      break;
    case WebCheckAnswer::Outcome::Failed:
      list.failed = true;
      log::Log(log::lmtError, log::lmdAll, "frmMain", "unable to detect external ip");
      break;
  }
  return list;
}

IpCheckRunner::IpCheckRunner(ResultHandler on_result) : on_result_(std::move(on_result)) {}

IpCheckRunner::~IpCheckRunner() {
  std::lock_guard<std::mutex> lock(mu_);
  if (thread_.joinable()) thread_.join();
}

bool IpCheckRunner::Start(WebCheckRequest request) {
  std::lock_guard<std::mutex> lock(mu_);
  if (running_.load()) return false;
  if (thread_.joinable()) thread_.join();  // the previous check has ended
  running_ = true;
  thread_ = std::thread([this, request = std::move(request)] {
    AddressList list = RunIpCheck(request);
    if (on_result_) on_result_(list);
    running_ = false;
  });
  return true;
}

}  // namespace voxhall::masterlist
