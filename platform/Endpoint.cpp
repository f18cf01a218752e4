#include "platform/Endpoint.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <span>

#include "platform/Device.h"
#include "platform/Diagnostics.h"

namespace platform {

namespace {

constexpr std::size_t kMaxDatagram = 65536;
constexpr std::size_t kKindSize = 4;
// How long a peer found in the store is trusted before it is looked up again.
constexpr auto kPeerRecheck = std::chrono::seconds(5);

// Endpoints closed or pruned lately. A short-lived process (the device console) may have
// closed its endpoint before the receiver reads what it sent; its datagrams are still taken
// for this long after.
const char* kSchema =
    "CREATE TABLE IF NOT EXISTS endpoints_gone(pid INTEGER PRIMARY KEY, gone INTEGER NOT NULL)";
constexpr int kGoneGraceSeconds = 30;

// A payload field: a fixed number of bytes, or a 32-bit length followed by that many bytes
// (Packer::Str and Packer::Bytes).
constexpr std::size_t kCounted = 0;

// The payload layout of each datagram kind, as Window.cpp, Registry.cpp, NotificationRunner.cpp
// and HardwareEvents.cpp pack it. Null for a kind this endpoint does not know.
std::span<const std::size_t> Layout(PacketKind kind) {
  static constexpr std::array<std::size_t, 4> kWindow{8, 4, 8, 8};  // hwnd, msg, wParam, lParam
  static constexpr std::array<std::size_t, 3> kRegistry{4, 4, kCounted};  // handle, type, data
  static constexpr std::array<std::size_t, 0> kWake{};
  static constexpr std::array<std::size_t, 2> kHardware{kCounted, kCounted};  // event, data
  switch (kind) {
    case PacketKind::kWindowMessage:
      return kWindow;
    case PacketKind::kRegistryChange:
      return kRegistry;
    case PacketKind::kWakeRunner:
      return kWake;
    case PacketKind::kHardwareEvent:
      return kHardware;
  }
  return {};
}

bool KnownKind(PacketKind kind) {
  switch (kind) {
    case PacketKind::kWindowMessage:
    case PacketKind::kRegistryChange:
    case PacketKind::kWakeRunner:
    case PacketKind::kHardwareEvent:
      return true;
  }
  return false;
}

// True when `payload` holds exactly the fields of `layout`, counted lengths included.
bool MatchesLayout(std::span<const std::size_t> layout, const std::uint8_t* payload,
                   std::size_t size) {
  std::size_t pos = 0;
  for (std::size_t field : layout) {
    std::size_t width = field;
    if (field == kCounted) {
      if (size - pos < 4)
        return false;
      std::uint32_t n;
      std::memcpy(&n, payload + pos, 4);
      pos += 4;
      width = n;
    }
    if (size - pos < width)
      return false;
    pos += width;
  }
  return pos == size;
}

sockaddr_un MakeAddress(const std::string& name, socklen_t* len) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL byte, then the name (not NUL-terminated).
  std::size_t n = std::min(name.size(), sizeof(addr.sun_path) - 1);
  std::memcpy(addr.sun_path + 1, name.data(), n);
  *len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  return addr;
}

}  // namespace

Endpoint::Endpoint(Device& device) : device_(device), pid_(static_cast<int>(getpid())) {
  address_ = AddressFor(pid_);
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    throw StoreError("cannot create the process endpoint socket");
  socklen_t len;
  sockaddr_un addr = MakeAddress(address_, &len);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    close(fd_);
    throw StoreError("cannot bind the process endpoint " + address_ + ": " + strerror(errno));
  }
  // A receiver that stops reading must not block a sender forever.
  timeval tv{2, 0};
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int size = 1 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  // Received datagrams carry their sender's credentials; and since this socket is also the one
  // that sends, the kernel attaches ours to every datagram we send, whatever the receiver's
  // setting.
  int on = 1;
  if (setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    close(fd_);
    throw StoreError("cannot ask for sender credentials on the process endpoint");
  }

  Store& store = device_.store();
  store.Exec(kSchema);
  PruneDead(device_);
  store.Transaction([&] {
    // A previous process with the same pid left nothing that still belongs to us.
    Prune(device_, pid_);
    store.Prepare("INSERT INTO endpoints(pid,address,role,started) VALUES(?,?,'',datetime('now'))")
        .Bind(1, pid_)
        .Bind(2, address_)
        .Run();
  });
  thread_ = std::thread([this] { Run(); });
}

Endpoint::~Endpoint() {
  // Shutting the receiving side wakes the thread; no datagram can stop it, so none is needed.
  stopping_ = true;
  shutdown(fd_, SHUT_RD);
  if (thread_.joinable())
    thread_.join();
  try {
    Prune(device_, pid_);
  } catch (const StoreError&) {
    // The store may already be unusable while the process ends; nothing is left to do.
  }
  close(fd_);
}

std::string Endpoint::AddressFor(int pid) const {
  std::size_t h = std::hash<std::string>{}(device_.Folder().string());
  return "telvane." + std::to_string(h) + "." + std::to_string(pid);
}

void Endpoint::SetHandler(PacketKind kind, Handler handler) {
  std::lock_guard lock(handlersMutex_);
  handlers_[kind] = std::move(handler);
}

bool Endpoint::Send(int pid, PacketKind kind, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> packet(4);
  auto k = static_cast<std::uint32_t>(kind);
  std::memcpy(packet.data(), &k, 4);
  packet.insert(packet.end(), payload.begin(), payload.end());
  socklen_t len;
  sockaddr_un addr = MakeAddress(AddressFor(pid), &len);
  for (int attempt = 0; attempt < 3; ++attempt) {
    ssize_t n = sendto(fd_, packet.data(), packet.size(), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&addr), len);
    if (n == static_cast<ssize_t>(packet.size()))
      return true;
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == ENOBUFS))
      continue;
    break;
  }
  if (errno == ECONNREFUSED || errno == ENOENT) {
    try {
      Prune(device_, pid);
    } catch (const StoreError&) {
    }
  }
  return false;
}

void Endpoint::Run() {
  std::vector<std::uint8_t> buf(kMaxDatagram);
  const uid_t uid = getuid();
  while (!stopping_) {
    iovec iov{buf.data(), buf.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd_, &msg, MSG_CMSG_CLOEXEC);
    if (stopping_)
      break;
    if (n < 0) {
      if (errno != EINTR && errno != EAGAIN) {
        Diagnostic("Endpoint::Run: receive failed: %s", strerror(errno));
        // A lasting error must not turn this loop into a busy one.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    const ucred* cred = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET)
        continue;
      if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len == CMSG_LEN(sizeof(ucred))) {
        cred = reinterpret_cast<const ucred*>(CMSG_DATA(c));
      } else if (c->cmsg_type == SCM_RIGHTS) {
        // Descriptors nobody asked for are closed, not kept open in this process.
        std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
          int passed;
          std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
          close(passed);
        }
      }
    }
    int sender = cred ? static_cast<int>(cred->pid) : 0;
    auto size = static_cast<std::size_t>(n);
    if (!cred || cred->uid != uid) {
      Drop("a sender of another user or without credentials", sender, size);
    } else if (sender != pid_ && !IsDevicePeer(sender)) {
      Drop("a process that is no endpoint of this device", sender, size);
    } else if (msg.msg_flags & MSG_TRUNC) {
      Drop("a datagram too long", sender, size);
    } else {
      Dispatch(buf, size, sender);
    }
  }
}

void Endpoint::Dispatch(const std::vector<std::uint8_t>& buf, std::size_t n, int senderPid) {
  if (n < kKindSize) {
    Drop("a datagram too short for its kind", senderPid, n);
    return;
  }
  std::uint32_t k;
  std::memcpy(&k, buf.data(), kKindSize);
  auto kind = static_cast<PacketKind>(k);
  if (!KnownKind(kind)) {
    Drop("a datagram of unknown kind", senderPid, n);
    return;
  }
  if (!MatchesLayout(Layout(kind), buf.data() + kKindSize, n - kKindSize)) {
    Drop("a datagram whose payload does not match its kind", senderPid, n);
    return;
  }
  Handler handler;
  {
    std::lock_guard lock(handlersMutex_);
    auto it = handlers_.find(kind);
    if (it != handlers_.end())
      handler = it->second;
  }
  if (!handler)
    return;
  std::vector<std::uint8_t> payload(buf.begin() + kKindSize, buf.begin() + n);
  try {
    handler(payload);
  } catch (const std::exception& e) {
    // A handler's failure belongs to that one datagram; the endpoint keeps receiving.
    Diagnostic("Endpoint::Dispatch: the handler of kind %u failed: %s", k, e.what());
    ++dropped_;
  } catch (...) {
    Diagnostic("Endpoint::Dispatch: the handler of kind %u failed", k);
    ++dropped_;
  }
}

bool Endpoint::IsDevicePeer(int pid) {
  auto now = std::chrono::steady_clock::now();
  if (auto it = peers_.find(pid); it != peers_.end() && now - it->second < kPeerRecheck)
    return true;
  // One read brings in every endpoint, so a burst from several peers costs one query.
  peers_.clear();
  try {
    auto st = device_.store().Prepare(
        "SELECT pid FROM endpoints UNION SELECT pid FROM endpoints_gone "
        "WHERE gone >= CAST(strftime('%s','now') AS INTEGER) - ?");
    st.Bind(1, kGoneGraceSeconds);
    while (st.Step())
      peers_[static_cast<int>(st.Int(0))] = now;
  } catch (const StoreError& e) {
    Diagnostic("Endpoint::IsDevicePeer: cannot read the endpoint list: %s", e.what());
  }
  return peers_.contains(pid);
}

void Endpoint::Drop(const char* why, int senderPid, std::size_t size) {
  ++dropped_;
  Diagnostic("Endpoint::Run: dropped %zu bytes from pid %d: %s", size, senderPid, why);
}

void Endpoint::SetRole(const std::string& role) {
  device_.store()
      .Prepare("UPDATE endpoints SET role=? WHERE pid=?")
      .Bind(1, role)
      .Bind(2, pid_)
      .Run();
}

int Endpoint::FindRole(const std::string& role) {
  std::vector<int> pids;
  {
    auto st =
        device_.store().Prepare("SELECT pid FROM endpoints WHERE role=? ORDER BY started DESC");
    st.Bind(1, role);
    while (st.Step())
      pids.push_back(static_cast<int>(st.Int(0)));
  }
  for (int pid : pids) {
    if (ProcessAlive(pid))
      return pid;
    Prune(device_, pid);
  }
  return 0;
}

bool Endpoint::ProcessAlive(int pid) {
  if (pid <= 0)
    return false;
  if (kill(pid, 0) == 0)
    return true;
  return errno == EPERM;
}

void Endpoint::Prune(Device& device, int pid) {
  Store& store = device.store();
  store.Transaction([&] {
    store
        .Prepare(
            "INSERT OR REPLACE INTO endpoints_gone(pid,gone) "
            "SELECT pid, CAST(strftime('%s','now') AS INTEGER) FROM endpoints WHERE pid=?")
        .Bind(1, pid)
        .Run();
    store
        .Prepare(
            "DELETE FROM endpoints_gone WHERE gone < CAST(strftime('%s','now') AS INTEGER) - ?")
        .Bind(1, kGoneGraceSeconds)
        .Run();
    store.Prepare("DELETE FROM endpoints WHERE pid=?").Bind(1, pid).Run();
    store.Prepare("DELETE FROM windows WHERE pid=?").Bind(1, pid).Run();
    store.Prepare("DELETE FROM reg_watches WHERE pid=?").Bind(1, pid).Run();
  });
}

void Endpoint::PruneDead(Device& device) {
  std::vector<int> dead;
  {
    auto st = device.store().Prepare(
        "SELECT pid FROM endpoints UNION SELECT pid FROM windows UNION SELECT pid FROM "
        "reg_watches");
    while (st.Step()) {
      int pid = static_cast<int>(st.Int(0));
      if (!ProcessAlive(pid))
        dead.push_back(pid);
    }
  }
  for (int pid : dead)
    Prune(device, pid);
}

}  // namespace platform
