// Lets libmodbus's server build a reply without sending it: modbus_reply
// writes into one end of a local socket pair, and the reply is read back from
// the other end, so that chaos can damage it before it goes to the client.
// One builder per connection thread; the register map's lock is the caller's.
#pragma once

#include <cstdint>
#include <mutex>

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace plcsim {

class ReplyBuilder {
 public:
  ReplyBuilder();
  ~ReplyBuilder();
  ReplyBuilder(const ReplyBuilder&) = delete;
  ReplyBuilder& operator=(const ReplyBuilder&) = delete;

  bool Ready() const { return context_ != nullptr; }
  // Executes the request (a whole Modbus TCP frame) on the map under its lock
  // and returns the length of the reply written to `reply` (capacity
  // kMaxAduLength), 0 when libmodbus gave none.
  int Build(const uint8_t* request, int length, modbus_mapping_t* mapping, std::mutex& mappingMutex,
            uint8_t* reply);

 private:
  modbus_t* context_ = nullptr;
  int pair_[2] = {-1, -1};
};

}  // namespace plcsim
