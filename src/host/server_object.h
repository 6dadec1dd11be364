// ServerObject: one virtual server, a named set of settings from its
// configuration section plus, while it runs, its UDP socket, packet buffer,
// listener and sender threads, player list and channel list. Started,
// stopped and found through VirtualServerList.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/udp_socket.h"
#include "protocol/channels.h"
#include "protocol/client_list.h"
#include "protocol/server_data.h"
#include "protocol/udp_listener.h"
#include "transport/packet_buffer.h"
#include "transport/udp_sender.h"

namespace voxhall::host {

// A number never handed out before (1, 2, ...); any thread.
std::uint64_t NextServerSerial();

struct ServerObject {
  ServerObject() = default;
  ~ServerObject() { ReleaseParts(); }
  ServerObject(const ServerObject&) = delete;
  ServerObject& operator=(const ServerObject&) = delete;

  // Unique among every server object the process ever creates, so that a
  // holder of an old reference (the query interface's snapshots) can tell a
  // server it knew from a new one that took its place or its address.
  const std::uint64_t Serial = NextServerSerial();
  // The configuration section name, e.g. "server_cfg Default"; unique in the list.
  std::string Key;
  protocol::ServerData Data;

  // Run-time parts, present while the server runs. Destroyed in reverse
  // order of declaration only after StopServer has joined every thread.
  std::unique_ptr<protocol::ClientList> Clients;
  std::unique_ptr<protocol::Channels> Channels;
  std::unique_ptr<transport::PacketBuffer> PacketBuffer;
  std::unique_ptr<UdpSocket> UDPServer;
  std::unique_ptr<protocol::VHUDPListener> ListenerThread;
  std::unique_ptr<transport::VHUDPSender> SenderThread;

  // Stops the buffer, joins the listener, the sender and the socket's
  // reading thread, and frees them with the socket and the buffer. The
  // player and channel lists stay. No datagram reaches the buffer after the
  // socket's reading thread has ended, so the buffer is freed only then.
  void StopThreads();
  // StopThreads, then frees the player and channel lists too, without
  // telling players or storing channels (that is StopServer's job).
  void ReleaseParts();

  bool Running() const { return UDPServer != nullptr && UDPServer->Active(); }

  // The socket's read handler, on its reading thread: wraps the datagrams in
  // packets and hands them to the packet buffer together. Datagrams that
  // arrive while the server is stopping, and every error, are dropped
  // silently.
  void HandleDatagrams(std::span<UdpSocket::Datagram> datagrams);
};

// The default welcome message of a new server section.
extern const char* const kDefaultWelcomeMessage;

}  // namespace voxhall::host
