// The UDP socket of one virtual server: bound to its port (and to BoundToIp
// when set), read by a thread of its own that hands the datagrams to the read
// handler in batches, and written through SendBatch by whichever thread is
// writing the server's datagrams. Replies therefore leave from the server's
// own port.
//
// Thread safety: Open and Close are called by the owner (start and stop of
// the server); SendBatch may be called while the reading thread runs, by one
// thread at a time (it writes through the socket's descriptor with a system
// call, never through the Asio socket object the reading thread uses). Close
// joins the reading thread, so the handler is never called after Close
// returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "transport/packet.h"

namespace voxhall::host {

class UdpSocket {
 public:
  // A received datagram; the bytes are valid during the handler's call only.
  struct Datagram {
    std::span<const std::uint8_t> bytes;
    std::string peer_address;  // dotted IPv4 text (IPv4-mapped peers in IPv4 form)
    std::uint16_t peer_port = 0;
  };
  // Called on the reading thread with the datagrams received together (at
  // least one, at most kMaxBatch). Datagrams longer than the longest the
  // protocol accepts are dropped before.
  using ReadHandler = std::function<void(std::span<Datagram> datagrams)>;

  UdpSocket();
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Binds to `bound_ip` (all addresses when empty) and `port` and starts the
  // reading thread. Answers false, with the reason in `error`, when the
  // socket cannot be opened (port in use, address not local, bad address).
  bool Open(const std::string& bound_ip, std::uint16_t port, ReadHandler handler,
            std::string& error);

  // Stops reading, closes the socket and joins the reading thread.
  void Close();

  bool Active() const;

  // Most datagrams read with one system call, and written with one.
  static constexpr std::size_t kMaxBatch = 64;
  static constexpr std::size_t kMaxSendBatch = 256;

  // Sends datagrams from the front of `packets`, each to its packet's peer,
  // in order and with one system call for up to a whole batch where the
  // platform allows. Answers how many went out (at least one); throws
  // std::runtime_error with the reason when the first one cannot be sent.
  std::size_t SendBatch(std::span<const std::unique_ptr<transport::Packet>> packets);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voxhall::host
