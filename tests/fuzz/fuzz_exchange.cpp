// Fuzzes the reply side of the exchange and the read decoding: the first bytes
// choose a read request (memory type, width, bit, count, options); the rest is
// what the PLC sends back once the request has arrived, after which it closes
// its side. The PLC is a thread on the other end of a socket pair.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "access/read_path.h"
#include "driver/instance.h"
#include "transport/exchange.h"

namespace {

constexpr int kStation = 1;

toldex::InstanceRecord& Instance() {
  static std::unique_ptr<toldex::InstanceRecord> instance = [] {
    auto record = std::make_unique<toldex::InstanceRecord>();
    std::memset(record.get(), 0, sizeof *record);
    toldex::InitRuntimeState(*record);
    std::strcpy(record->stations[kStation].ip, "127.0.0.1");
    record->stations[kStation].force_address = -1;
    return record;
  }();
  return *instance;
}

// Answers one connection: waits for the first request, sends the reply bytes,
// closes its sending side.
class Peer {
 public:
  Peer() : thread_([this] { Run(); }) { thread_.detach(); }

  void Serve(int socket, const uint8_t* reply, size_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    socket_ = socket;
    reply_ = reply;
    size_ = size;
    done_ = false;
    wake_.notify_all();
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return done_; });
  }

 private:
  void Run() {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return socket_ >= 0; });
      uint8_t request[300];
      if (recv(socket_, request, sizeof request, 0) > 0 && size_ > 0) {
        send(socket_, reply_, size_, MSG_NOSIGNAL);
      }
      shutdown(socket_, SHUT_WR);
      socket_ = -1;
      done_ = true;
      wake_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  int socket_ = -1;
  const uint8_t* reply_ = nullptr;
  size_t size_ = 0;
  bool done_ = true;
  std::thread thread_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const int32_t kMemoryTypes[] = {0, 1, 3, 4, 5, 6, 7, 8, 260, 516};
  toldex::InstanceRecord& instance = Instance();
  instance.options = static_cast<uint16_t>(data[0] & 0x0E);
  instance.receivedFramesChecking = data[0] & 1;
  instance.parityAddrChecking = (data[0] >> 4) & 1;

  toldex::GateIo io{};
  io.address = "fuzz";
  io.plcNumber = kStation;
  io.memoryType = kMemoryTypes[data[1] % 10];
  io.bitWidth = (io.memoryType >= 5 && io.memoryType <= 8) ? 32 : (io.memoryType <= 1 ? 1 : 16);
  io.bitNumber = (data[2] & 0x80) ? (data[2] & 15) : -1;
  io.registerAddress = data[3];
  const int maxElements = io.bitWidth == 1 ? 2000 : (io.bitWidth == 16 ? 125 : 62);
  io.elementCount = 1 + (data[4] | (data[5] << 8)) % maxElements;
  uint8_t value[256] = {};
  io.value = value;
  const int mode = (data[2] & 0x40) ? 2 : 1;

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  // Never destroyed: its thread waits on it until the process ends.
  static Peer& peer = *new Peer;
  peer.Serve(pair[1], data + 6, size - 6);
  instance.stations[kStation].socket = pair[0];

  uint8_t request[8];
  int length = toldex::BuildReadRequest(io, request, instance, kStation);
  uint8_t frame[toldex::kMaxFrameSize];
  if (toldex::BuildTcpFrame(request, &length, frame) == 0) {
    toldex::ExchangeResult result{};
    toldex::VpiTcpSendRcv(instance, kStation, frame, length, toldex::Flavour::kRead, "fuzz",
                          io.elementCount, result);
    if (result.status == 0 && !result.aborted) {
      toldex::DecodeReadReply(io, result.reply + toldex::kMbapHeaderSize, instance.options, mode);
    }
  }
  shutdown(pair[0], SHUT_WR);  // a peer still waiting for the request gives up
  peer.Wait();
  instance.stations[kStation].socket = -1;
  close(pair[0]);
  close(pair[1]);
  return 0;
}
