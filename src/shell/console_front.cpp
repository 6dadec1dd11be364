#include "shell/console_front.h"

#include <cstdio>

#include "host/settings.h"
#include "host/version.h"

namespace voxhall::shell {

std::string StartBlockText() {
  const host::MainConfig& config = host::Config();
  std::string text = "Voxhall Server\n" + host::VersionText() + "\n";
  if (config.HTTPServerEnabled && config.HTTPServerPort > 0) {
    text += "Administration: http://127.0.0.1:" + std::to_string(config.HTTPServerPort) + "/\n";
  } else {
    text += "Administration: off\n";
  }
  text += "Log: " + host::ProcessSettings().LogPath + "\n";
  return text;
}

std::string AddressListText(const masterlist::AddressList& list) {
  std::string text = "Your Ip's:\n";
  for (const std::string& address : list.local) text += "Local IP: " + address + "\n";
  if (list.show_external) text += "External IP: " + list.external + "\n";
  return text;
}

ConsoleFront::ConsoleFront()
    : runner_([this](const masterlist::AddressList& list) { Print(AddressListText(list)); }) {}

void ConsoleFront::PrintStartBlock() { Print(StartBlockText()); }

void ConsoleFront::UpdateIps() { runner_.Start(masterlist::IpCheckRequestFromConfig()); }

void ConsoleFront::Print(const std::string& text) {
  std::lock_guard<std::mutex> lock(print_mu_);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace voxhall::shell
