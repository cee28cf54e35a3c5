#include "net/socket_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace qp {
namespace {

constexpr size_t kSpliceBlock = 1 << 20;
constexpr size_t kMaxTlsPiece = 1 << 30;

// Copies `length` bytes from a pipe into `fd`.
bool CopyPipeTo(int pipe, int fd, size_t length) {
  char block[16384];
  while (length > 0) {
    ssize_t n = read(pipe, block, std::min(length, sizeof block));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    length -= static_cast<size_t>(n);
    for (const char* p = block; n > 0;) {
      ssize_t out = write(fd, p, static_cast<size_t>(n));
      if (out < 0 && errno == EINTR) continue;
      if (out <= 0) {
        if (out == 0) errno = ENOSPC;
        return false;
      }
      p += out;
      n -= out;
    }
  }
  return true;
}

}  // namespace

void SocketStream::Start(int fd, Clock::time_point deadline, uint32_t readWaitMs,
                         uint32_t writeWaitMs) {
  fd_ = fd;
  tls_ = nullptr;
  deadline_ = deadline;
  readWaitMs_ = readWaitMs;
  writeWaitMs_ = writeWaitMs;
  expired_ = false;
  ended_ = false;
}

bool SocketStream::Wait(short events, uint32_t waitMs) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point waitEnd =
      waitMs == 0 ? Clock::time_point::max() : start + std::chrono::milliseconds(waitMs);
  const Clock::time_point end = std::min(waitEnd, deadline_);
  for (;;) {
    Clock::time_point now = Clock::now();
    if (now >= end) {
      expired_ = expired_ || now >= deadline_;
      return false;
    }
    int64_t left = end == Clock::time_point::max()
                       ? INT_MAX
                       : std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
    pollfd entry = {fd_, events, 0};
    int ready = poll(&entry, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready > 0) return true;  // readable, writable, or an error the next call reports
  }
}

// Whether a TLS call that returned `result` may be tried again after a wait.
bool SocketStream::WaitForTls(int result, uint32_t readWaitMs, uint32_t writeWaitMs) {
  switch (SSL_get_error(tls_, result)) {
    case SSL_ERROR_WANT_READ: return Wait(POLLIN, readWaitMs);
    case SSL_ERROR_WANT_WRITE: return Wait(POLLOUT, writeWaitMs);
    default: return false;
  }
}

bool SocketStream::Handshake() {
  for (;;) {
    ERR_clear_error();
    int result = SSL_connect(tls_);
    if (result == 1) return true;
    if (!WaitForTls(result, readWaitMs_, writeWaitMs_)) return false;
  }
}

bool SocketStream::Write(const char* data, size_t length) {
  while (length > 0) {
    if (PastDeadline()) return false;
    if (tls_) {
      ERR_clear_error();
      int piece = static_cast<int>(std::min(length, kMaxTlsPiece));
      int sent = SSL_write(tls_, data, piece);
      if (sent > 0) {
        data += sent;
        length -= static_cast<size_t>(sent);
      } else if (!WaitForTls(sent, readWaitMs_, writeWaitMs_)) {
        return false;
      }
      continue;
    }
    ssize_t sent = send(fd_, data, length, MSG_NOSIGNAL);
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
               !Wait(POLLOUT, writeWaitMs_)) {
      return false;
    }
  }
  return true;
}

bool SocketStream::PastDeadline() {
  if (!expired_ && deadline_ != Clock::time_point::max() && Clock::now() >= deadline_) {
    expired_ = true;
  }
  return expired_;
}

// The deadline is looked at before every read, not only in the waits: a
// server that always has more to send never makes the stream wait.
size_t SocketStream::Read(char* space, size_t room) {
  while (!ended_ && room > 0) {
    if (PastDeadline()) {
      ended_ = true;
      break;
    }
    if (tls_) {
      ERR_clear_error();
      int n = SSL_read(tls_, space, static_cast<int>(std::min(room, kMaxTlsPiece)));
      if (n > 0) return static_cast<size_t>(n);
      if (!WaitForTls(n, readWaitMs_, writeWaitMs_)) ended_ = true;
      continue;
    }
    ssize_t n = recv(fd_, space, room, 0);
    if (n > 0) return static_cast<size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, readWaitMs_)) {
      ended_ = true;
    }
  }
  return 0;
}

// socket -> pipe -> file, both moves inside the kernel. The pipe side never
// blocks, so every wait for the socket is one of Wait's.
ByteSource::Move SocketStream::MoveRestTo(int fd) {
  if (tls_ || ended_) return Move::kUnsupported;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return Move::kUnsupported;
  fcntl(pipeFds[1], F_SETPIPE_SZ, kSpliceBlock);  // a smaller pipe only means more calls
  Move outcome = Move::kMoved;
  bool moved = false;  // from the socket into the pipe
  bool wrote = false;  // from the pipe into the file
  while (!ended_) {
    if (PastDeadline()) {
      ended_ = true;
      break;
    }
    ssize_t in = splice(fd_, nullptr, pipeFds[1], nullptr, kSpliceBlock,
                        SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (in < 0 && errno == EINTR) continue;
    if (in < 0 && !moved && (errno == EINVAL || errno == ENOSYS)) {
      outcome = Move::kUnsupported;  // nothing moved: the caller copies
      break;
    }
    if (in < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(POLLIN, readWaitMs_)) ended_ = true;
      continue;
    }
    if (in <= 0) {
      ended_ = true;
      break;
    }
    moved = true;
    while (in > 0) {
      ssize_t out = splice(pipeFds[0], nullptr, fd, nullptr, static_cast<size_t>(in),
                           SPLICE_F_MOVE);
      if (out < 0 && errno == EINTR) continue;
      if (out < 0 && (errno == EINVAL || errno == ENOSYS) && !wrote) {
        // A file the kernel cannot splice into: what the pipe holds goes by
        // copy, and the caller copies the rest.
        outcome = CopyPipeTo(pipeFds[0], fd, static_cast<size_t>(in)) ? Move::kUnsupported
                                                                        : Move::kFileFailed;
        break;
      }
      if (out <= 0) {
        if (out == 0) errno = ENOSPC;
        outcome = Move::kFileFailed;
        break;
      }
      wrote = true;
      in -= out;
    }
    if (outcome != Move::kMoved) break;
  }
  int error = errno;
  close(pipeFds[0]);
  close(pipeFds[1]);
  errno = error;
  return outcome;
}

}  // namespace qp
