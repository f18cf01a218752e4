// The process endpoint takes datagrams only from endpoints of its own device and survives
// anything a raw sender puts on its socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/Endpoint.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

// Sends raw bytes to an endpoint's abstract address from a socket of its own, as any local
// process could.
class RawSender {
 public:
  RawSender(Device& device, int pid) : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    auto st = device.store().Prepare("SELECT address FROM endpoints WHERE pid=?");
    st.Bind(1, pid);
    if (st.Step())
      address_ = st.Text(0);
  }
  ~RawSender() { close(fd_); }
  bool Found() const { return fd_ >= 0 && !address_.empty(); }

  bool Send(const std::vector<std::uint8_t>& bytes) const {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, address_.data(), address_.size());
    auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address_.size());
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), len) ==
           static_cast<ssize_t>(bytes.size());
  }

 private:
  int fd_;
  std::string address_;
};

std::vector<std::uint8_t> Datagram(PacketKind kind, const std::vector<std::uint8_t>& payload) {
  Packer p;
  p.U32(static_cast<std::uint32_t>(kind));
  std::vector<std::uint8_t> out = p.Data();
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

TEST(EndpointTest, MalformedDatagramsAreDroppedAndTheEndpointKeepsHearing) {
  TestDevice dev;
  Endpoint& endpoint = dev.device().endpoint();
  std::atomic<int> delivered{0};
  std::atomic<std::uint64_t> lastEvent{0};
  endpoint.SetHandler(PacketKind::kRegistryChange, [&](const std::vector<std::uint8_t>& payload) {
    Unpacker in(payload);
    lastEvent = in.U32();
    ++delivered;
  });
  endpoint.SetHandler(PacketKind::kWakeRunner,
                      [](const std::vector<std::uint8_t>&) { throw std::runtime_error("boom"); });
  RawSender raw(dev.device(), endpoint.Pid());
  ASSERT_TRUE(raw.Found());

  Packer registryChange;
  registryChange.U32(7).U32(1).Bytes({1, 2, 3});
  std::vector<std::uint8_t> tooLong = registryChange.Data();
  tooLong.push_back(0);
  Packer lengthPastEnd;
  lengthPastEnd.U32(7).U32(1).U32(1000);
  const std::vector<std::vector<std::uint8_t>> garbage = {
      {0xFF, 0xFF, 0, 0},                              // four bytes of a kind nobody handles
      {1, 0},                                          // shorter than a kind
      {},                                              // empty
      Datagram(PacketKind::kWindowMessage, {}),        // a kind without its fields
      Datagram(PacketKind::kRegistryChange, tooLong),  // trailing bytes
      Datagram(PacketKind::kRegistryChange, lengthPastEnd.Data()),  // length past the end
      Datagram(static_cast<PacketKind>(99), {1, 2, 3, 4}),          // unknown kind
      Datagram(PacketKind::kWakeRunner, {}),                        // well formed, handler throws
  };
  for (const auto& bytes : garbage)
    ASSERT_TRUE(raw.Send(bytes));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return endpoint.Dropped() == garbage.size(); }));
  EXPECT_EQ(delivered, 0);

  // A well-formed datagram after all of it still arrives, from a raw socket and from Send.
  ASSERT_TRUE(raw.Send(Datagram(PacketKind::kRegistryChange, registryChange.Data())));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return delivered == 1; }));
  Packer second;
  second.U32(8).U32(1).Bytes({});
  ASSERT_TRUE(endpoint.Send(endpoint.Pid(), PacketKind::kRegistryChange, second.Data()));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return delivered == 2; }));
  EXPECT_EQ(lastEvent, 8u);
  EXPECT_EQ(endpoint.Dropped(), garbage.size());
}

TEST(EndpointTest, DatagramsFromAProcessThatIsNoEndpointOfTheDeviceAreDropped) {
  TestDevice dev;
  Endpoint& endpoint = dev.device().endpoint();
  std::atomic<int> delivered{0};
  endpoint.SetHandler(PacketKind::kWakeRunner,
                      [&](const std::vector<std::uint8_t>&) { ++delivered; });
  RawSender raw(dev.device(), endpoint.Pid());
  ASSERT_TRUE(raw.Found());

  // A forked child shares the socket's address and the user but never opened the device.
  pid_t child = fork();
  if (child == 0)
    _exit(raw.Send(Datagram(PacketKind::kWakeRunner, {})) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return endpoint.Dropped() == 1; }));
  EXPECT_EQ(delivered, 0);

  // The same datagram from this process, an endpoint of the device, is handled.
  ASSERT_TRUE(raw.Send(Datagram(PacketKind::kWakeRunner, {})));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return delivered == 1; }));
}

TEST(EndpointTest, DatagramsOfAProcessThatClosedItsEndpointSinceAreHandled) {
  TestDevice dev;
  Endpoint& endpoint = dev.device().endpoint();
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Peers", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  std::atomic<int> changes{0};
  HREGNOTIFY watch = 0;
  ASSERT_EQ(RegistryNotifyCallback(
                HKEY_LOCAL_MACHINE, "Peers", "v",
                [&](HREGNOTIFY, DWORD, const BYTE*, UINT) { ++changes; }, 0, nullptr, &watch),
            S_OK);
  // Hold the endpoint thread until the console, which notifies this process of its write, has
  // exited and taken its endpoint out of the list.
  std::atomic<bool> entered{false}, release{false};
  endpoint.SetHandler(PacketKind::kWakeRunner, [&](const std::vector<std::uint8_t>&) {
    entered = true;
    while (!release)
      std::this_thread::yield();
  });
  ASSERT_TRUE(endpoint.Send(endpoint.Pid(), PacketKind::kWakeRunner, {}));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return entered.load(); }));
  EXPECT_EQ(dev.Console({"reg", "set", "HKLM", "Peers", "v", "dword", "1"}), 0);
  release = true;
  EXPECT_TRUE(testsupport::WaitUntil([&] { return changes == 1; }));
  EXPECT_EQ(endpoint.Dropped(), 0u);
  RegistryCloseNotification(watch);
}

}  // namespace
