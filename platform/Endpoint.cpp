#include "platform/Endpoint.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

#include "platform/Device.h"

namespace platform {

namespace {

constexpr std::size_t kMaxDatagram = 65536;

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

  PruneDead(device_);
  Store& store = device_.store();
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
  Send(pid_, PacketKind::kQuit, {});
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
  for (;;) {
    ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (n < 4)
      continue;
    std::uint32_t k;
    std::memcpy(&k, buf.data(), 4);
    auto kind = static_cast<PacketKind>(k);
    if (kind == PacketKind::kQuit)
      return;
    std::vector<std::uint8_t> payload(buf.begin() + 4, buf.begin() + n);
    Handler handler;
    {
      std::lock_guard lock(handlersMutex_);
      auto it = handlers_.find(kind);
      if (it != handlers_.end())
        handler = it->second;
    }
    if (handler)
      handler(payload);
  }
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
