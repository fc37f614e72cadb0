#include "plcsim/reply_builder.h"

#include <modbus.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "plcsim/chaos.h"

namespace plcsim {
namespace {

// libmodbus needs a context to build replies; the address is never used.
constexpr const char* kUnusedAddress = "127.0.0.1";
constexpr int kUnusedPort = 502;
// libmodbus sleeps for the response time-out before some exception replies;
// the shortest time-out it accepts keeps that sleep out of the way.
constexpr uint32_t kShortestTimeoutMicroseconds = 1;

}  // namespace

ReplyBuilder::ReplyBuilder() {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair_) != 0) {
    pair_[0] = pair_[1] = -1;
    return;
  }
  context_ = modbus_new_tcp(kUnusedAddress, kUnusedPort);
  if (context_ == nullptr) return;
  modbus_set_response_timeout(context_, 0, kShortestTimeoutMicroseconds);
  modbus_set_socket(context_, pair_[0]);
}

ReplyBuilder::~ReplyBuilder() {
  if (context_ != nullptr) modbus_free(context_);  // leaves the socket to us
  for (int fd : pair_) {
    if (fd >= 0) close(fd);
  }
}

int ReplyBuilder::Build(const uint8_t* request, int length, modbus_mapping_t* mapping, std::mutex& mappingMutex,
                        uint8_t* reply) {
  if (context_ == nullptr) return 0;
  int rc;
  {
    std::lock_guard<std::mutex> guard(mappingMutex);
    rc = modbus_reply(context_, request, length, mapping);
  }
  if (rc <= 0) return 0;
  // The whole reply went into the pair in one send before modbus_reply returned.
  int total = 0;
  while (total < kMaxAduLength) {
    const ssize_t got = recv(pair_[1], reply + total, static_cast<size_t>(kMaxAduLength - total), MSG_DONTWAIT);
    if (got > 0) {
      total += static_cast<int>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    break;
  }
  return total;
}

}  // namespace plcsim
