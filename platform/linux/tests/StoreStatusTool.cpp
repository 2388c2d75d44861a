// vxm-store-status <display name> <status 0-5>
//
// Sets the status of the first stored configuration with that display name,
// in the store that vxm-tunnel would use (VXM_STORE, else under
// XDG_STATE_HOME), as its packet-tunnel provider would: the change is
// signalled like any other, so a waiting vxm-tunnel hears it. Tests use it to
// stand in for the provider's own transitions (connecting, reasserting,
// disconnecting). Exits 0 when set, 1 when it cannot be, 2 on a usage error.

#include <string>

#include "platform/linux/AsioMainQueue.h"
#include "platform/linux/LinuxProcess.h"
#include "platform/linux/SqliteVPNStore.h"
#include "platform/linux/StoreLocation.h"

using namespace vxm::platform;

int main(int argc, char** argv) {
    LinuxProcess process;
    const std::string digit = argc == 3 ? argv[2] : "";
    if (digit.size() != 1 || digit[0] < '0' || digit[0] > '5') {
        process.writeStandardError("Usage: vxm-store-status <display name> <status 0-5>\n");
        process.exit(2);
    }
    const std::string name = argv[1];
    const auto status = static_cast<VPNStatus>(digit[0] - '0');

    AsioMainQueue mainQueue;
    SqliteVPNStore store(mainQueue, storePathFromEnvironment());
    store.loadAllFromPreferences([&](const Result<std::vector<ManagerRef>>& loaded) {
        if (!loaded.ok()) {
            process.writeStandardError(loaded.error().localizedDescription + "\n");
            process.exit(1);
        }
        for (const ManagerRef& manager : loaded.value()) {
            if (manager->localizedDescription == name) {
                const std::optional<Error> error = store.setStatus(*manager, status);
                if (error) {
                    process.writeStandardError(error->localizedDescription + "\n");
                }
                process.exit(error ? 1 : 0);
            }
        }
        process.writeStandardError("no configuration is named " + name + "\n");
        process.exit(1);
    });
    mainQueue.run();
    return 1;
}
