#include "transport/udp_sender.h"

#include <exception>
#include "common/class_name.h"
#include "log/log.h"

namespace voxhall::transport {

VHUDPSender::VHUDPSender(PacketBuffer& buffer, SendFunction send)
    : buffer_(buffer), send_(std::move(send)) {}

VHUDPSender::~VHUDPSender() {
  Terminate();
  Join();
}

void VHUDPSender::Start() { thread_ = std::thread([this] { Execute(); }); }

void VHUDPSender::Join() {
  if (thread_.joinable()) thread_.join();
}

void VHUDPSender::Execute() {
  while (!(terminated_ && buffer_.Stopping())) {
    try {
      std::unique_ptr<Packet> packet = buffer_.GetNextOutgoing();
      if (!packet) break;
      // The packet is freed when it goes out of scope, sent or not.
      send_(*packet);
    } catch (const std::exception& e) {
      log::LogFmt(log::lmtError, log::lmdAll, "TVHUDPSender.Execute", "Exception %1 : %2",
                  common::ClassName(e), e.what());
    }
  }
  buffer_.ThreadStopped(PacketBuffer::kSenderStoppedBit);
}

}  // namespace voxhall::transport
