// A scripted Modbus TCP peer on loopback, for tests of the exchange and of
// everything built on it.
//
// The peer listens on an address of 127.0.0.0/8 (port 0: the system picks one,
// read it back with port()), accepts one connection at a time and reads whole
// request frames (MBAP header, then as many bytes as its length field says).
// It records every request and answers it with the next queued action, or,
// once the queue is empty, with what the responder returns (by default it
// stays silent). Actions can reply with any bytes, split a reply into pieces
// with pauses, stay silent, close the connection or reset it. Everything goes
// through the platform socket layer, so the peer runs natively and under Wine.
//
//   ScriptedPeer peer;                                   // 127.0.0.1, free port
//   peer.SetResponder(AnswerNormally());                 // a well-behaved PLC
//   peer.Queue(PeerAction::Reply(ExceptionReply(...)));  // ...but not the first time
//   ... connect a station to peer.ip():peer.port() and exchange ...
//   EXPECT_EQ(peer.RequestCount(), 4u);
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/thread.h"

namespace toldex::testing {

using Bytes = std::vector<uint8_t>;

// What the peer does with one request.
struct PeerAction {
  enum class Kind { kReply, kSilence, kClose, kReset };
  Kind kind = Kind::kSilence;
  std::vector<Bytes> pieces;  // kReply: sent one after the other
  int pauseMs = 0;            // kReply: pause before each piece

  // The bytes in one send, after an optional pause.
  static PeerAction Reply(Bytes bytes, int pauseMs = 0);
  // The bytes in pieces, each after a pause.
  static PeerAction Split(std::vector<Bytes> pieces, int pauseMs);
  // No answer; the peer goes on reading the next request.
  static PeerAction Silence();
  // An orderly close of the connection (the client receives 0 bytes).
  static PeerAction Close();
  // A close with a reset (the client's next receive fails with 10054).
  static PeerAction Reset();
};

// Chooses the action for a request frame.
using Responder = std::function<PeerAction(const Bytes& request)>;

class ScriptedPeer {
 public:
  explicit ScriptedPeer(const std::string& ip = "127.0.0.1");
  ~ScriptedPeer();  // stops serving, closes every socket of the peer
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  const std::string& ip() const { return ip_; }
  uint16_t port() const { return port_; }

  // The next requests get these actions, one each, in order...
  void Queue(PeerAction action);
  // ...and every request after the queue ran empty gets the responder's.
  void SetResponder(Responder responder);

  // Sends bytes on the current connection now (a late or unsolicited reply).
  // False when there is no connection.
  bool Inject(const Bytes& bytes);

  std::vector<Bytes> Requests() const;  // every request received, in order
  size_t RequestCount() const;
  // Waits until at least `count` requests have arrived; false after `timeoutMs`.
  bool WaitForRequests(size_t count, int timeoutMs = 5000) const;
  int ConnectionCount() const;  // connections accepted so far

 private:
  static void Serve(void* self);
  void ServeConnection(platform::SocketHandle connection);
  bool ReadRequest(platform::SocketHandle connection, Bytes& request);
  bool Stopping() const;
  PeerAction NextAction(const Bytes& request);
  // Runs a reply; false when the peer is stopping.
  bool Perform(platform::SocketHandle connection, const PeerAction& action);
  void CloseConnection(bool reset);

  std::string ip_;
  uint16_t port_ = 0;
  platform::SocketHandle listener_ = platform::kNoSocket;
  platform::ThreadHandle thread_ = platform::kNoThread;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  platform::SocketHandle connection_ = platform::kNoSocket;  // changed under mutex_
  std::deque<PeerAction> queue_;
  Responder responder_;
  std::vector<Bytes> requests_;
  int connections_ = 0;
  std::mutex sendMutex_;  // one send at a time on the connection
};

// --- Replies built from a request frame ------------------------------------

// The value a normal reply gives holding or input register `address`, and
// the state it gives coil or discrete input `address`.
uint16_t RegisterPattern(uint16_t address);
bool BitPattern(uint16_t address);
// The reply of a well-behaved PLC: reads (function codes 1 to 4) carry the
// patterns above; writes (5, 6, 15, 16) echo address and value or quantity.
Bytes NormalReply(const Bytes& request);
// A 9-byte exception reply with the given code.
Bytes ExceptionReply(const Bytes& request, uint8_t code);
// A responder that answers every request with NormalReply.
Responder AnswerNormally();

// A read request frame as the driver sends it: transaction id, unit id,
// function code, start and quantity.
Bytes ReadFrame(uint8_t transactionId, uint8_t unit, uint8_t function, uint16_t start,
                uint16_t quantity);

// --- A listener that never accepts -------------------------------------------

// Listens and fills its own accept queue, so that a connect to it hangs until
// the client's connect time-out. Drain() accepts the queued connections and
// returns how many (each is a socket of the listener's until it goes; a
// second call accepts nothing): a hanging connect then completes with the
// client's next SYN retry.
class HangingListener {
 public:
  explicit HangingListener(const std::string& ip = "127.0.0.1");
  ~HangingListener();
  HangingListener(const HangingListener&) = delete;
  HangingListener& operator=(const HangingListener&) = delete;

  uint16_t port() const { return port_; }
  int Drain();

 private:
  platform::SocketHandle listener_ = platform::kNoSocket;
  uint16_t port_ = 0;
  std::vector<platform::SocketHandle> fillers_;   // our own connects that fill the queue
  std::vector<platform::SocketHandle> accepted_;  // their accepted ends, after Drain()
};

// A loopback port on which nothing listens (a connect to it is refused).
uint16_t UnusedPort(const std::string& ip = "127.0.0.1");

// Starts the socket library once for the test program (Windows wants it
// before any socket call); the peers and the station helpers call it.
void EnsureSocketLibrary();

}  // namespace toldex::testing
