#include "net/socket_bio.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace qp {
namespace {

int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

bool IsTransient(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

int WriteSocket(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = send(SocketOf(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && IsTransient(errno)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int ReadSocket(BIO* bio, char* buffer, int capacity) {
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = recv(SocketOf(bio), buffer, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && IsTransient(errno)) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long ControlSocket(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;  // nothing is buffered here
}

int CreateSocket(BIO* bio) {
  BIO_set_init(bio, 0);
  return 1;
}

const BIO_METHOD* SocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qp socket");
    if (!m) return m;
    BIO_meth_set_write(m, WriteSocket);
    BIO_meth_set_read(m, ReadSocket);
    BIO_meth_set_ctrl(m, ControlSocket);
    BIO_meth_set_create(m, CreateSocket);
    return m;
  }();
  return method;
}

}  // namespace

BIO* NewSocketBio(int fd) {
  const BIO_METHOD* method = SocketMethod();
  if (!method) return nullptr;
  BIO* bio = BIO_new(method);
  if (!bio) return nullptr;
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  BIO_set_init(bio, 1);
  return bio;
}

}  // namespace qp
