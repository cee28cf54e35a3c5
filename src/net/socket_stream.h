// The connection of one request as a stream of bytes: a connected socket,
// and TLS over it for an https URL. The socket is non-blocking and every wait
// is a poll bounded by the script's per-wait time-out (`timeout`, 0: none)
// and by the whole request's deadline, so that a server can hold neither a
// read, nor a write, nor the handshake past either. The stream owns neither
// the socket nor the TLS connection.
#pragma once

#include <chrono>
#include <cstdint>

#include "net/response_reader.h"

typedef struct ssl_st SSL;

namespace qp {

class SocketStream : public ByteSource {
 public:
  using Clock = std::chrono::steady_clock;

  // A new connection: `deadline` ends every wait of the request (max(): no
  // deadline); the waits for data and for room to write are bounded each by
  // its own time-out in milliseconds (0: none).
  void Start(int fd, Clock::time_point deadline, uint32_t readWaitMs, uint32_t writeWaitMs);
  void SetTls(SSL* tls) { tls_ = tls; }

  // Waits until the socket is ready for `events` (POLLIN, POLLOUT); false on
  // a time-out or the deadline (Expired then says which).
  bool Wait(short events, uint32_t waitMs);
  // The TLS client handshake; false when it fails or runs out of time.
  bool Handshake();
  // Sends all bytes; false once a send failed or could not go on in time.
  bool Write(const char* data, size_t length);

  size_t Read(char* space, size_t room) override;
  bool Expired() const override { return expired_; }
  Move MoveRestTo(int fd) override;

 private:
  bool WaitForTls(int result, uint32_t readWaitMs, uint32_t writeWaitMs);
  bool PastDeadline();

  int fd_ = -1;
  SSL* tls_ = nullptr;
  Clock::time_point deadline_ = Clock::time_point::max();
  uint32_t readWaitMs_ = 0;
  uint32_t writeWaitMs_ = 0;
  bool expired_ = false;
  bool ended_ = false;
};

}  // namespace qp
