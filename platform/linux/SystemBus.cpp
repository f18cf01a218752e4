#include "platform/linux/SystemBus.h"

#include <memory>

#include "platform/Diagnostics.h"

namespace platform::linuxphone {

namespace {

constexpr auto kCallTimeout = std::chrono::seconds(20);

// One connection per thread and bus: sd-bus connections are used by one thread at a time, and a
// long modem call (enabling takes seconds) on one thread must not hold up another's.
thread_local std::unique_ptr<sdbus::IConnection> t_system;
thread_local std::unique_ptr<sdbus::IConnection> t_session;

}  // namespace

bool WithBus(const std::function<void(sdbus::IConnection&)>& calls, std::string* errorName,
             BusKind kind) {
  std::unique_ptr<sdbus::IConnection>& bus = kind == BusKind::kSystem ? t_system : t_session;
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
    Diagnostic("D-Bus call: %s", e.what());
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
