#include "protocol/handler_context.h"

#include "log/log.h"

namespace voxhall::protocol {

namespace {
std::uint64_t SourceOf(const HandlerContext& ctx) {
  return ctx.sender ? static_cast<std::uint32_t>(ctx.sender->PlayerId) : 0;
}
}  // namespace

void HandlerContext::LogListenerError(std::string_view text) {
  const std::string message = "SP: " + std::to_string(server.UDPPort) + " " + std::string(text);
  if (auto line = log_limiter.Admit(SourceOf(*this), message, clock.Now())) {
    log::LogFmt(log::lmtError, log::lmdAll, "UDP Listener", *line);
  }
}

void HandlerContext::LogListenerError(std::string_view operation, const std::exception& e) {
  LogListenerError(std::string(operation) + " Exception: " + e.what());
}

void HandlerContext::LogVoiceWarning(std::string_view text) {
  if (auto line = log_limiter.Admit(SourceOf(*this), text, clock.Now())) {
    log::Log(log::lmtWarning, log::lmdAll, "UDP VOICE", *line);
  }
}

}  // namespace voxhall::protocol
