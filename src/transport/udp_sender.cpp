#include "transport/udp_sender.h"

#include <exception>

#include "common/class_name.h"
#include "log/log.h"

namespace voxhall::transport {

VHUDPSender::VHUDPSender(PacketBuffer& buffer, SendFunction send)
    : buffer_(buffer), send_(std::move(send)) {
  batch_.reserve(kBatch);
}

VHUDPSender::~VHUDPSender() {
  Terminate();
  Join();
}

void VHUDPSender::Start() { thread_ = std::thread([this] { Execute(); }); }

void VHUDPSender::Join() {
  if (thread_.joinable()) thread_.join();
}

void VHUDPSender::WriteBatch() {
  const std::span<const std::unique_ptr<Packet>> all(batch_);
  for (std::size_t done = 0; done < all.size();) {
    try {
      done += send_(all.subspan(done));
    } catch (const std::exception& e) {
      ++done;  // that datagram is lost; the rest of the batch still goes
      log::LogFmt(log::lmtError, log::lmdAll, "TVHUDPSender.Execute", "Exception %1 : %2",
                  common::ClassName(e), e.what());
    }
  }
  buffer_.Pool().Give(batch_);  // written or not, the packets go back for reuse
}

void VHUDPSender::WriteReady() {
  std::lock_guard lock(write_mu_);
  while (!buffer_.Stopping() && buffer_.PollOutgoing(batch_, kBatch) > 0) WriteBatch();
}

void VHUDPSender::Execute() {
  // The thread leaves once the buffer is stopping, whether or not
  // Terminate came first: nothing is written after StopBuffer.
  while (!buffer_.Stopping()) {
    std::int32_t wait = PacketBuffer::kMaxWaitMs;
    std::size_t taken;
    {
      std::lock_guard lock(write_mu_);
      taken = buffer_.PollOutgoing(batch_, kBatch, &wait);
      if (taken > 0) WriteBatch();
    }
    if (taken == 0) buffer_.WaitOutgoing(wait);
  }
  buffer_.ThreadStopped(PacketBuffer::kSenderStoppedBit);
}

}  // namespace voxhall::transport
