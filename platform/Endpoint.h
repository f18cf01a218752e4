// A process's endpoint on its device: one Unix-domain datagram socket in the abstract
// namespace, listed in the device store with the process id.
//
// Everything that crosses processes travels as a small datagram to an endpoint: window
// messages, registry-change notifications, wake-ups of the notification runner and hardware
// events. The endpoint's own thread receives them and hands each to the handler registered for
// its kind. Endpoints of processes that have died are pruned from the store, together with
// their windows and registry watches.
//
// The socket's address is public to every local process, so the endpoint trusts nothing it
// receives: a datagram is handled only when the kernel-attached credentials name a process of
// the same user that is itself an endpoint of this device, and its payload matches its kind's
// layout. Anything else is dropped with a diagnostic line; nothing a sender does ends the
// receiving thread. A process that closed its endpoint in the last half minute still counts,
// since a short-lived sender may be gone before its datagram is read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

class Device;

// Datagram kinds. The payload layout of each kind (as its senders pack it) is listed in
// Endpoint.cpp; a datagram that does not match it is dropped before any handler sees it.
enum class PacketKind : std::uint32_t {
  kWindowMessage = 1,
  kRegistryChange = 2,
  kWakeRunner = 3,
  kHardwareEvent = 4,
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
  // that process has no live endpoint; its rows are then pruned from the store. The kernel
  // attaches this process's credentials, which the receiver requires. Any thread.
  bool Send(int pid, PacketKind kind, const std::vector<std::uint8_t>& payload);

  // How many datagrams this endpoint has dropped (foreign sender, malformed payload, unknown
  // kind, a handler that threw). Any thread.
  std::uint64_t Dropped() const { return dropped_.load(); }

  // Marks this endpoint with a role ("runner") that other processes can look up.
  void SetRole(const std::string& role);
  // The pid of a live endpoint with that role, or 0.
  int FindRole(const std::string& role);

  // Removes every endpoint (and its windows and watches) whose process is gone.
  static void PruneDead(Device& device);
  static bool ProcessAlive(int pid);

 private:
  void Run();
  // One received datagram of `n` bytes in `buf`, from an accepted sender: its kind and layout
  // are checked and it is handed to its handler.
  void Dispatch(const std::vector<std::uint8_t>& buf, std::size_t n, int senderPid);
  // True when `pid` has an endpoint on this device. Endpoint thread only.
  bool IsDevicePeer(int pid);
  void Drop(const char* why, int senderPid, std::size_t size);
  std::string AddressFor(int pid) const;
  static void Prune(Device& device, int pid);

  Device& device_;
  int pid_;
  int fd_ = -1;
  std::string address_;
  std::mutex handlersMutex_;
  std::map<PacketKind, Handler> handlers_;
  // Peers found in the store's endpoint list and when; an entry older than a few seconds is
  // looked up again. Endpoint thread only.
  std::unordered_map<int, std::chrono::steady_clock::time_point> peers_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> dropped_{0};
  std::thread thread_;
};

}  // namespace platform
