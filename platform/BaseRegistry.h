// The registry a new phone comes with: the state values the system publishes, the control
// panel's sound, ring and backlight keys and the connection manager's provider keys.
#pragma once

namespace platform {

class Store;

// Writes the base keys and values into a freshly created store (inside its transaction).
void WriteBaseRegistry(Store& store);

}  // namespace platform
