#include "platform/linux/SystemBus.h"

#include <memory>
#include <mutex>

#include "platform/Diagnostics.h"

namespace platform::linuxphone {

namespace {

constexpr auto kCallTimeout = std::chrono::seconds(20);

struct Connection {
  std::mutex mutex;
  std::unique_ptr<sdbus::IConnection> bus;
};
Connection g_system;
Connection g_session;

}  // namespace

bool WithBus(const std::function<void(sdbus::IConnection&)>& calls, std::string* errorName,
             BusKind kind) {
  Connection& c = kind == BusKind::kSystem ? g_system : g_session;
  std::lock_guard lock(c.mutex);
  std::unique_ptr<sdbus::IConnection>& bus = c.bus;
  try {
    if (!bus) {
      bus = kind == BusKind::kSystem ? sdbus::createSystemBusConnection()
                                     : sdbus::createSessionBusConnection();
    }
    calls(*bus);
    return true;
  } catch (const sdbus::Error& e) {
    if (errorName)
      *errorName = e.getName();
    Diagnostic("system bus: %s", e.what());
    // A broken connection is made anew by the next call; an error reply leaves it usable.
    if (e.getName().rfind("System.Error.", 0) == 0)
      bus.reset();
    return false;
  }
}

bool HasOwner(sdbus::IConnection& bus, const std::string& service) {
  auto proxy = sdbus::createProxy(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bool owned = false;
  proxy->callMethod("NameHasOwner")
      .onInterface("org.freedesktop.DBus")
      .withTimeout(kCallTimeout)
      .withArguments(service)
      .storeResultsTo(owned);
  return owned;
}

Properties GetAll(sdbus::IConnection& bus, const std::string& service, const std::string& path,
                  const std::string& interface) {
  auto proxy = sdbus::createProxy(bus, service, path);
  Properties properties;
  proxy->callMethod("GetAll")
      .onInterface(kPropertiesInterface)
      .withTimeout(kCallTimeout)
      .withArguments(interface)
      .storeResultsTo(properties);
  return properties;
}

sdbus::Variant GetProperty(sdbus::IConnection& bus, const std::string& service,
                           const std::string& path, const std::string& interface,
                           const std::string& name) {
  auto proxy = sdbus::createProxy(bus, service, path);
  sdbus::Variant value;
  proxy->callMethod("Get")
      .onInterface(kPropertiesInterface)
      .withTimeout(kCallTimeout)
      .withArguments(interface, name)
      .storeResultsTo(value);
  return value;
}

void SetProperty(sdbus::IConnection& bus, const std::string& service, const std::string& path,
                 const std::string& interface, const std::string& name,
                 const sdbus::Variant& value) {
  auto proxy = sdbus::createProxy(bus, service, path);
  proxy->callMethod("Set")
      .onInterface(kPropertiesInterface)
      .withTimeout(kCallTimeout)
      .withArguments(interface, name, value);
}

ManagedObjects GetManagedObjects(sdbus::IConnection& bus, const std::string& service,
                                 const std::string& path) {
  auto proxy = sdbus::createProxy(bus, service, path);
  ManagedObjects objects;
  proxy->callMethod("GetManagedObjects")
      .onInterface(kObjectManagerInterface)
      .withTimeout(kCallTimeout)
      .storeResultsTo(objects);
  return objects;
}

}  // namespace platform::linuxphone
