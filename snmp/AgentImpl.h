// The subagent's inside, shared by its files: what the host's thread and the agent's thread
// hand each other, and the agent's own state. net-snmp's types appear here, so only the
// subagent's own files include it.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "snmp/SnmpAgent.h"

// net-snmp's headers after the standard ones: they define macros of their own.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/agent_callbacks.h>

namespace kestrel::snmp {

// What a snapshot holds: the lines, and how many of the managers' SETs were taken into it.
struct Published {
    std::shared_ptr<const Snapshot> snapshot;
    std::uint64_t writesTaken = 0;
};

class SnmpAgent::Impl {
public:
    Impl(Options o, Log l) : options(std::move(o)), log(std::move(l)) {}

    struct Registration {
        Impl* agent;
        const Table* table;
        int column;  // 0: every column of the table
    };

    void Run();
    void Wake() {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake[1], &c, 1);
    }
    static int Handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* reg,
                      netsnmp_agent_request_info* info, netsnmp_request_info* requests);

    Options options;
    Log log;
    int wake[2] = {-1, -1};
    std::atomic<bool> stop{false};
    std::atomic<bool> attached{false};
    std::thread thread;

    std::atomic<std::shared_ptr<const Published>> published{std::make_shared<Published>()};
    std::mutex mutex;  // held only to hand the lists below over
    std::vector<Notification> notifications;
    std::vector<TrapEnableWrite> writes;
    std::uint64_t writesMade = 0;   // under mutex
    std::uint64_t writesTaken = 0;  // the host's thread only

private:
    void Register();
    void Notify();
    void Attach(bool now);
    void Told(int priority, std::string message);
    const MibView& View();
    static void OnWake(int fd, void* self);
    static int OnIndexStart(int, int, void*, void*);
    static int OnIndexStop(int, int, void*, void*);
    static int OnLog(int, int, void* message, void*);

    // The agent's thread only.
    std::vector<std::unique_ptr<Registration>> registrations;
    std::shared_ptr<const Published> viewOf;
    std::unique_ptr<MibView> view;
    struct Pending {
        bool value;
        std::uint64_t seq;  // the write's place among those made
    };
    std::map<SubId, Pending> pending;
    std::map<SubId, bool> pendingValues;
    bool absenceTold = false;
    std::string lastLibraryLine;
    std::chrono::steady_clock::time_point lastLibraryAt{};
};

}  // namespace kestrel::snmp
