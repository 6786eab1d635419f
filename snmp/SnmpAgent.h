// The MUXes' lines in the host's SNMP agent: an AgentX subagent on a thread of its own, which
// answers from the last snapshot the host published and sends the notifications it is handed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "snmp/LineTracker.h"
#include "snmp/MibModel.h"

namespace kestrel::snmp {

// Where the master agent listens when the configuration does not say: net-snmp's own default.
inline constexpr const char* kDefaultMaster = "/var/agentx/master";

// "on" for the default master, a socket path, "unix:PATH", or "tcp:HOST:PORT"; empty with
// `error` set for anything else.
std::string ParseMasterAddress(const std::string& text, std::string& error);

// Which lines get IF-MIB rows. The master keeps a subtree for every row and column a subagent
// registers there, so a few hundred MUXes' tributaries make it slow and large; the DS3-MIB and
// DS1-MIB tables cost it one subtree each whatever the count.
enum class Interfaces { All, E3, None };
// "all", "e3" or "none"; empty with `error` set for anything else.
std::optional<Interfaces> ParseInterfaces(const std::string& text, std::string& error);

class SnmpAgent {
public:
    // One line for the log: `problem` for what an administrator must look at.
    using Log = std::function<void(bool problem, const std::string& line)>;
    struct Options {
        std::string master = kDefaultMaster;
        int muxes = 0;  // MUX positions 1..muxes have lines
        Interfaces interfaces = Interfaces::All;
        // How often the master is asked whether it is still there, and an absent one tried
        // again: a restarted master has the lines back within about this time.
        std::chrono::seconds ping{5};
    };

    // Starts the agent's thread, which attaches to the master and keeps trying while it is
    // absent (said once, and once again when it comes). Only one agent runs in a process. The
    // thread starts here: a host that keeps signals for one thread blocks them before.
    static std::unique_ptr<SnmpAgent> Start(Options options, Log log);
    ~SnmpAgent();
    SnmpAgent(const SnmpAgent&) = delete;
    SnmpAgent& operator=(const SnmpAgent&) = delete;

    // The host's thread: what the agent answers from now on, and the notifications to send.
    // The snapshot holds the writes taken before it (a SET reads back at once all the same).
    void Publish(std::shared_ptr<const Snapshot> snapshot,
                 std::vector<Notification> notifications);
    // The host's thread: the SETs managers made since the last call, in order.
    std::vector<TrapEnableWrite> TakeWrites();
    bool Attached() const;

    class Impl;

private:
    explicit SnmpAgent(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace kestrel::snmp
