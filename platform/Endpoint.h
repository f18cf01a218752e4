// A process's endpoint on its device: one Unix-domain datagram socket in the abstract
// namespace, listed in the device store with the process id.
//
// Everything that crosses processes travels as a small datagram to an endpoint: window
// messages, registry-change notifications, wake-ups of the notification runner and hardware
// events. The endpoint's own thread receives them and hands each to the handler registered for
// its kind. Endpoints of processes that have died are pruned from the store, together with
// their windows and registry watches.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class Device;

// Datagram kinds.
enum class PacketKind : std::uint32_t {
  kWindowMessage = 1,
  kRegistryChange = 2,
  kWakeRunner = 3,
  kHardwareEvent = 4,
  kQuit = 0xFFFF,
};

// Little-endian writer and reader for datagram payloads.
class Packer {
 public:
  Packer& U32(std::uint32_t v) { return Raw(&v, 4); }
  Packer& U64(std::uint64_t v) { return Raw(&v, 8); }
  Packer& I64(std::int64_t v) { return Raw(&v, 8); }
  Packer& Str(const std::string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    return Raw(s.data(), s.size());
  }
  Packer& Bytes(const std::vector<std::uint8_t>& b) {
    U32(static_cast<std::uint32_t>(b.size()));
    return Raw(b.data(), b.size());
  }
  const std::vector<std::uint8_t>& Data() const { return data_; }

 private:
  Packer& Raw(const void* p, std::size_t n) {
    auto* b = static_cast<const std::uint8_t*>(p);
    data_.insert(data_.end(), b, b + n);
    return *this;
  }
  std::vector<std::uint8_t> data_;
};

class Unpacker {
 public:
  explicit Unpacker(const std::vector<std::uint8_t>& data) : data_(data) {}
  std::uint32_t U32() { return Get<std::uint32_t>(); }
  std::uint64_t U64() { return Get<std::uint64_t>(); }
  std::int64_t I64() { return Get<std::int64_t>(); }
  std::string Str() {
    std::uint32_t n = U32();
    if (!ok_ || n > data_.size() - pos_) {
      ok_ = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(data_.data() + pos_), n);
    pos_ += n;
    return s;
  }
  std::vector<std::uint8_t> Bytes() {
    std::uint32_t n = U32();
    if (!ok_ || n > data_.size() - pos_) {
      ok_ = false;
      return {};
    }
    std::vector<std::uint8_t> b(data_.begin() + pos_, data_.begin() + pos_ + n);
    pos_ += n;
    return b;
  }
  // False once a read ran past the end: the datagram was malformed and is dropped.
  bool Ok() const { return ok_; }

 private:
  template <class T>
  T Get() {
    T v{};
    if (!ok_ || sizeof(T) > data_.size() - pos_) {
      ok_ = false;
      return v;
    }
    std::memcpy(&v, data_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return v;
  }
  const std::vector<std::uint8_t>& data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

class Endpoint {
 public:
  using Handler = std::function<void(const std::vector<std::uint8_t>& payload)>;

  // Binds the socket, lists it in the store and starts the receiving thread.
  explicit Endpoint(Device& device);
  // Stops the thread and removes this process's endpoint, windows and watches from the store.
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  int Pid() const { return pid_; }

  // Handlers run on the endpoint's thread, one datagram at a time, in arrival order.
  void SetHandler(PacketKind kind, Handler handler);

  // Sends one datagram to the endpoint of `pid` (which may be this process). Returns false when
  // that process has no live endpoint; its rows are then pruned from the store.
  bool Send(int pid, PacketKind kind, const std::vector<std::uint8_t>& payload);

  // Marks this endpoint with a role ("runner") that other processes can look up.
  void SetRole(const std::string& role);
  // The pid of a live endpoint with that role, or 0.
  int FindRole(const std::string& role);

  // Removes every endpoint (and its windows and watches) whose process is gone.
  static void PruneDead(Device& device);
  static bool ProcessAlive(int pid);

 private:
  void Run();
  std::string AddressFor(int pid) const;
  static void Prune(Device& device, int pid);

  Device& device_;
  int pid_;
  int fd_ = -1;
  std::string address_;
  std::mutex handlersMutex_;
  std::map<PacketKind, Handler> handlers_;
  std::thread thread_;
};

}  // namespace platform
