#include "host/server_object.h"

#include <atomic>
#include <exception>
#include <span>
#include <vector>

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

void ServerObject::HandleDatagrams(std::span<UdpSocket::Datagram> datagrams) {
  try {
    transport::PacketBuffer* buffer = PacketBuffer.get();
    if (!buffer || buffer->Stopping() || !UDPServer || !UDPServer->Active()) return;
    std::vector<std::unique_ptr<transport::Packet>> packets;
    packets.reserve(datagrams.size());
    for (UdpSocket::Datagram& d : datagrams) {
      // Longer than any datagram of the protocol: not even copied.
      if (d.bytes.size() > transport::kMaxDatagramLength) continue;
      packets.push_back(std::make_unique<transport::Packet>(d.bytes, d.peer_address, d.peer_port));
    }
    // Voice that is next in line is relayed on this thread; the listener is
    // woken only for the rest.
    protocol::VHUDPListener* listener = ListenerThread.get();
    buffer->ReceivePackets(packets, nullptr, listener == nullptr);
    if (listener != nullptr && !listener->RelayReadyVoice()) buffer->WakeListener();
  } catch (const std::exception&) {
    // The datagrams are lost; a peer never learns why.
  }
}

}  // namespace voxhall::host
