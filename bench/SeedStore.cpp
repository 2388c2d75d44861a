// SPDX-License-Identifier: Apache-2.0
// vxm-bench-seed <store> <count> <document> [--connect-last]
//
// Fills a new VPN configuration store with <count> sites of the client, named
// "bench-1" to "bench-<count>", through the store and tunnel manager code that
// vxm-tunnel itself runs: each site's configuration is made as `start` makes a
// new one, then started with the document's values and stopped again, so the
// file holds exactly what as many runs of `start` and `stop` would leave. With
// --connect-last the last site stays connected. The store is closed at the
// end, which folds its write-ahead log into the file.
//
// Exits 0 when every site was stored, 1 on any failure, 2 on a usage error.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TunnelManager.h"
#include "Types.h"
#include "platform/linux/AsioMainQueue.h"
#include "platform/posix/PosixProcess.h"
#include "platform/embedded/SqliteVPNStore.h"

using namespace vxm;

namespace {

struct Seeding {
    platform::AsioMainQueue queue;
    std::optional<platform::SqliteVPNStore> store;
    long count = 0;
    long finished = 0;
    bool connectLast = false;
    bool failed = false;

    void done(const std::optional<platform::Error>& error) {
        if (error) {
            (void)std::fprintf(stderr, "vxm-bench-seed: %s\n", error->localizedDescription.c_str());
            failed = true;
        }
        if (++finished == count) {
            queue.stop();
        }
    }
};

platform::ManagerRef newSite(platform::VPNConfigurationStore& store, std::string_view siteName) {
    platform::ManagerRef manager = store.makeManager();
    manager->localizedDescription = tunnel::TunnelManager::displayName(siteName);
    platform::TunnelProviderProtocol protocol;
    protocol.providerBundleIdentifier = tunnel::TunnelManager::providerBundleIdentifier();
    protocol.serverAddress = "Vexomi";
    manager->protocolConfiguration = std::move(protocol);
    return manager;
}

int seed(int argc, char** argv) {
    const std::string_view flag = argc == 5 ? argv[4] : "";
    char* end = nullptr;
    const long count = argc >= 4 ? std::strtol(argv[2], &end, 10) : 0;
    if (argc < 4 || argc > 5 || count < 1 || *end != '\0' || (argc == 5 && flag != "--connect-last")) {
        (void)std::fputs("Usage: vxm-bench-seed <store> <count> <document> [--connect-last]\n", stderr);
        return 2;
    }
    platform::PosixProcess process;
    const std::optional<std::string> document = process.readFile(argv[3], tunnel::kMaxDocumentBytes);
    if (!document) {
        (void)std::fprintf(stderr, "vxm-bench-seed: cannot read %s\n", argv[3]);
        return 1;
    }
    auto decoded = tunnel::decodeTunnelConfig(*document);
    if (!decoded.ok()) {
        (void)std::fprintf(stderr, "vxm-bench-seed: %s\n", decoded.error().localizedDescription.c_str());
        return 1;
    }
    const tunnel::TunnelConfig config = decoded.value();

    auto seeding = std::make_unique<Seeding>();
    seeding->count = count;
    seeding->connectLast = flag == "--connect-last";
    seeding->store.emplace(seeding->queue, argv[1]);
    Seeding& state = *seeding;
    for (long site = 1; site <= count; ++site) {
        platform::ManagerRef manager = newSite(*state.store, "bench-" + std::to_string(site));
        const bool staysUp = state.connectLast && site == count;
        tunnel::TunnelManager::startTunnel(manager, config,
                                           [&state, manager, staysUp](const std::optional<platform::Error>& error) {
                                               if (!error && !staysUp) {
                                                   manager->connection().stopVPNTunnel();
                                               }
                                               state.done(error);
                                           });
    }
    state.queue.run();
    const bool failed = state.failed;
    // Closing the store checkpoints its log into the file.
    seeding.reset();
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return seed(argc, argv);
    } catch (const std::exception& error) {
        (void)std::fprintf(stderr, "vxm-bench-seed: %s\n", error.what());
        return 1;
    }
}
