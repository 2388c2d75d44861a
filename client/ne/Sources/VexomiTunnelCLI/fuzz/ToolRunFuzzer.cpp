// Runs a whole vxm-tunnel command in-process against the fakes and checks the
// process contract on every input:
//  - standard output is empty or one line holding a JSON object with a
//    boolean "ok";
//  - every run ends, and the exit status is 0 exactly when "ok" is true (wait
//    ends with 0 and prints nothing), or 1 when the response could not be
//    written whole;
//  - standard error holds nothing but the usage or unknown-command message;
//  - the document's private key never appears on either stream.
//
// Input: a flags byte (store contents, failures, delivery), a byte for
// standard output (0: no limit; n: room for n - 1 bytes), then the arguments
// one per line, then a line "--", then the document, which is both standard
// input and the file "/doc".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "TunnelManager.h"
#include "Types.h"
#include "platform/fake/FakeMainQueue.h"
#include "platform/fake/FakeProcess.h"
#include "platform/fake/FakeVPNStore.h"

namespace {

using namespace vxm;
using platform::FakeVPNStore;
using platform::VPNStatus;

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

struct Input {
    std::uint8_t flags = 0;
    std::uint8_t output = 0;
    std::vector<std::string> args{"vxm-tunnel"};
    std::string document;
};

Input parse(std::string_view data) {
    Input input;
    for (std::uint8_t* byte : {&input.flags, &input.output}) {
        if (!data.empty()) {
            *byte = static_cast<std::uint8_t>(data.front());
            data.remove_prefix(1);
        }
    }
    const std::size_t split = data.find("\n--\n");
    std::string_view words = data.substr(0, split);
    if (split != std::string_view::npos) {
        input.document = std::string(data.substr(split + 4));
    }
    while (!words.empty()) {
        const std::size_t end = words.find('\n');
        input.args.emplace_back(words.substr(0, end));
        words.remove_prefix(end == std::string_view::npos ? words.size() : end + 1);
    }
    return input;
}

void seed(FakeVPNStore& store, std::uint8_t flags) {
    for (int i = 0; i < (flags & 3); ++i) {
        platform::TunnelProviderProtocol protocol;
        protocol.providerBundleIdentifier = tunnel::TunnelManager::providerBundleIdentifier();
        protocol.providerConfiguration = platform::ProviderConfiguration{{"address", "10.0.0.9/32"}};
        const auto status = static_cast<VPNStatus>((flags >> (2 + i)) % 6);
        store.add({0, tunnel::TunnelManager::displayName(i == 0 ? "home" : "work"), protocol, true, status});
    }
    if ((flags & 0x20) != 0) {
        store.failures[FakeVPNStore::Operation::loadAll] = platform::Error{"the store is unavailable"};
    }
    if ((flags & 0x40) != 0) {
        for (const auto operation : {FakeVPNStore::Operation::save, FakeVPNStore::Operation::remove,
                                     FakeVPNStore::Operation::stopTunnel}) {
            store.failures[operation] = platform::Error{"the disk is full"};
        }
    }
    store.delivery = (flags & 0x80) != 0 ? FakeVPNStore::Delivery::held : FakeVPNStore::Delivery::immediately;
}

// Lets every held completion and queued item run, then takes every tunnel
// down so that a waiting `wait` gets its chance to end.
void settle(platform::FakeMainQueue& queue, FakeVPNStore& store) {
    for (int round = 0; round < 2; ++round) {
        do {
            queue.runReady();
        } while (!queue.stopped() && (store.releaseHeld() > 0 || queue.pendingCount() > 0));
        if (queue.stopped()) {
            return;
        }
        for (const auto& entry : store.stored()) {
            store.setStatus(entry.key, VPNStatus::disconnected);
        }
    }
}

void checkStandardError(const std::string& standardError, const Input& input) {
    if (standardError.empty()) {
        return;
    }
    const bool usage = standardError == "Usage: vxm-tunnel <start|stop|status|wait|remove> [options]\n";
    const bool unknown = input.args.size() > 1 && standardError == "Unknown command: " + input.args[1] + "\n";
    check(usage || unknown);
}

void checkNoSecret(const std::string& output, const Input& input) {
    auto config = tunnel::decodeTunnelConfig(input.document);
    if (!config.ok() || config.value().privateKey.size() < 8) {
        return;
    }
    const std::string& key = config.value().privateKey;
    // Texts a response may rightly repeat: the site's name, the address and
    // the arguments (a path, say).
    std::string allowed = config.value().siteName.value_or("") + "\n" + config.value().address;
    for (const std::string& arg : input.args) {
        allowed += "\n" + arg;
    }
    check(allowed.find(key) != std::string::npos || output.find(key) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Input input = parse(std::string_view(reinterpret_cast<const char*>(data), size));
    platform::FakeMainQueue queue;
    platform::FakeProcess process;
    FakeVPNStore store{queue};
    process.onExit = [&] { queue.stop(); };
    process.standardInput = input.document;
    process.files["/doc"] = input.document;
    if (input.output != 0) {
        process.standardOutputRoom = input.output - 1U;
    }
    seed(store, input.flags);

    tunnel::runTool(input.args, {queue, store, process});
    settle(queue, store);

    const std::string out = process.standardOutput();
    const std::string err = process.standardError();
    check(!process.actedAfterExit());
    check(process.exitStatus().has_value());
    checkStandardError(err, input);
    checkNoSecret(out + err, input);
    if (process.standardOutputFailed()) {
        check(process.exitStatus() == 1);
        return 0;
    }
    if (out.empty()) {
        check(!err.empty() || process.exitStatus() == 0);
        return 0;
    }
    check(out.back() == '\n' && out.find('\n') == out.size() - 1);
    auto response = tunnel::decodeHelperResponse(std::string_view(out).substr(0, out.size() - 1));
    check(response.ok());
    check(process.exitStatus() == (response.value().ok ? 0 : 1));
    return 0;
}
