#include "host/server_object.h"

#include <atomic>
#include <exception>
#include <span>

namespace voxhall::host {

const char* const kDefaultWelcomeMessage =
    "[Welcome to Voxhall Server - news and updates at http://www.voxhall.example/]";

std::uint64_t NextServerSerial() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

void ServerObject::StopThreads() {
  if (ListenerThread) ListenerThread->Terminate();
  if (SenderThread) SenderThread->Terminate();
  if (PacketBuffer) PacketBuffer->StopBuffer();
  // Join before anything the threads use is freed.
  if (ListenerThread) ListenerThread->Join();
  if (SenderThread) SenderThread->Join();
  if (UDPServer) UDPServer->Close();
  SenderThread.reset();
  ListenerThread.reset();
  UDPServer.reset();
  PacketBuffer.reset();
}

void ServerObject::ReleaseParts() {
  StopThreads();
  Channels.reset();
  Clients.reset();
}

void ServerObject::HandleDatagram(const std::uint8_t* data, std::size_t size,
                                  const std::string& peer_address, std::uint16_t peer_port) {
  try {
    transport::PacketBuffer* buffer = PacketBuffer.get();
    if (!buffer || buffer->Stopping() || !UDPServer || !UDPServer->Active()) return;
    // Longer than any datagram of the protocol: not even copied.
    if (size > transport::kMaxDatagramLength) return;
    buffer->ReceivePacket(std::make_unique<transport::Packet>(
        std::span<const std::uint8_t>(data, size), peer_address, peer_port));
  } catch (const std::exception&) {
    // The datagram is lost; a peer never learns why.
  }
}

}  // namespace voxhall::host
