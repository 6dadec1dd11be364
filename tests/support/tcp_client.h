// A TCP connection to 127.0.0.1 for integration tests of the line protocols:
// sends request lines and reads CR LF terminated reply lines with a timeout.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxhall::testing {

class TcpClient {
 public:
  // Connects at once; connected() tells whether that worked.
  explicit TcpClient(int port);
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  bool connected() const { return connected_; }

  // Sends the bytes as they are.
  void Send(std::string_view bytes);
  // The next line without its CR LF; nothing on timeout or when the peer
  // closed the connection first.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Sends `line` with CR LF and reads the reply: every line up to and
  // including the first "OK", "ERROR, ..." or "error" line. Ends early (the
  // last line then missing) on timeout.
  std::vector<std::string> Command(std::string_view line,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Reads until the peer closes the connection; the bytes that came first,
  // or nothing when the connection stays open past the timeout.
  std::optional<std::string> ReadUntilClosed(
      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Bytes that arrived and were not yet read as lines.
  const std::string& pending() const { return buffer_; }

 private:
  // Waits for more bytes; false on timeout, error or end of stream.
  bool Fill(std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string buffer_;
};

// "OK" preceded by `lines`: the reply of a successful command.
std::vector<std::string> OkReply(std::vector<std::string> lines = {});

}  // namespace voxhall::testing
