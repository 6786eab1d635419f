// The AgentX subagent: its thread, its attachment to the master, its log lines and the
// notifications it sends; every call of net-snmp's agent library on that one thread.
#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "snmp/AgentImpl.h"

namespace kestrel::snmp {

std::string ParseMasterAddress(const std::string& text, std::string& error) {
    if (text == "on" || text == "yes" || text == "true") {
        return kDefaultMaster;
    }
    const bool path = !text.empty() && text.front() == '/';
    const bool unixPath = text.rfind("unix:/", 0) == 0;
    bool tcp = false;
    if (text.rfind("tcp:", 0) == 0) {
        // tcp:HOST:PORT, the host a name or an address, the port a number.
        const auto colon = text.rfind(':');
        const std::string port = text.substr(colon + 1);
        tcp = colon > 4 && !port.empty() && port.size() <= 5 &&
              std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
              std::stoi(port) > 0 && std::stoi(port) < 65536;
    }
    const bool printable = std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return c > ' ' && c < 127;
    });
    if ((path || unixPath || tcp) && printable && text.size() < 256) {
        return text;
    }
    error.assign(1, '\'').append(printable ? text : "(unprintable)");
    error.append("' is not an AgentX address (on, a socket path, unix:PATH or tcp:HOST:PORT)");
    return {};
}

std::optional<Interfaces> ParseInterfaces(const std::string& text, std::string& error) {
    if (text == "all") {
        return Interfaces::All;
    }
    if (text == "e3") {
        return Interfaces::E3;
    }
    if (text == "none") {
        return Interfaces::None;
    }
    error.assign(1, '\'').append(text.substr(0, 64)).append("': all, e3 or none");
    return std::nullopt;
}

namespace {

const Oid kSnmpTrapOid{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const Oid kDs3LineStatusChange{1, 3, 6, 1, 2, 1, 10, 30, 15, 0, 1};
const Oid kDs1LineStatusChange{1, 3, 6, 1, 2, 1, 10, 18, 15, 0, 1};
const Oid kLinkDown{1, 3, 6, 1, 6, 3, 1, 1, 5, 3};
const Oid kLinkUp{1, 3, 6, 1, 6, 3, 1, 1, 5, 4};
const Oid kDs3ConfigEntry{1, 3, 6, 1, 2, 1, 10, 30, 5, 1};
const Oid kDs1ConfigEntry{1, 3, 6, 1, 2, 1, 10, 18, 6, 1};
const Oid kIfEntry{1, 3, 6, 1, 2, 1, 2, 2, 1};

Oid Column(const Oid& entry, SubId column, SubId index) {
    Oid o = entry;
    o.push_back(column);
    o.push_back(index);
    return o;
}

// The library frees the argument given with a callback when it shuts down, so its callbacks
// find the agent here instead: one agent runs in a process, and only its thread reads this.
void* running = nullptr;

}  // namespace

void SnmpAgent::Impl::Notify() {
    std::vector<Notification> due;
    {
        std::lock_guard lock(mutex);
        due.swap(notifications);
    }
    for (const Notification& n : due) {
        netsnmp_variable_list* vars = nullptr;
        auto add = [&vars](const Oid& name, u_char type, const void* value, std::size_t size) {
            snmp_varlist_add_variable(&vars, name.data(), name.size(), type, value, size);
        };
        const u_long changed = View().Stamp(n.changedMs);
        const long status = n.status;
        switch (n.kind) {
        case Notification::Kind::Ds3Status:
        case Notification::Kind::Ds1Status: {
            const bool ds3 = n.kind == Notification::Kind::Ds3Status;
            const Oid& trap = ds3 ? kDs3LineStatusChange : kDs1LineStatusChange;
            const Oid& entry = ds3 ? kDs3ConfigEntry : kDs1ConfigEntry;
            add(kSnmpTrapOid, ASN_OBJECT_ID, trap.data(), trap.size() * sizeof(oid));
            add(Column(entry, 10, n.line), ASN_INTEGER, &status, sizeof status);
            add(Column(entry, ds3 ? 14 : 16, n.line), ASN_TIMETICKS, &changed, sizeof changed);
            break;
        }
        case Notification::Kind::LinkDown:
        case Notification::Kind::LinkUp: {
            const Oid& trap = n.kind == Notification::Kind::LinkDown ? kLinkDown : kLinkUp;
            const long index = static_cast<long>(n.line), admin = kIfUp;
            add(kSnmpTrapOid, ASN_OBJECT_ID, trap.data(), trap.size() * sizeof(oid));
            add(Column(kIfEntry, 1, n.line), ASN_INTEGER, &index, sizeof index);
            add(Column(kIfEntry, 7, n.line), ASN_INTEGER, &admin, sizeof admin);
            add(Column(kIfEntry, 8, n.line), ASN_INTEGER, &status, sizeof status);
            break;
        }
        }
        // While the master is away a notification has nowhere to go: the library drops it,
        // and the manager learns the lines' state from the tables once it polls again.
        send_v2trap(vars);
        snmp_free_varbind(vars);
    }
}

void SnmpAgent::Impl::OnWake(int fd, void* self) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    static_cast<Impl*>(self)->Notify();
}

void SnmpAgent::Impl::Attach(bool now) {
    if (stop) {
        return;
    }
    const bool was = attached.exchange(now);
    const std::string at = std::string(" the master agent at ").append(options.master);
    const std::string retry = std::string("; trying again every ")
                                  .append(std::to_string(options.ping.count()))
                                  .append(" s, monitoring goes on");
    if (now && !was) {
        log(false, std::string("snmp: attached to").append(at).append(": ")
                       .append(std::to_string(options.muxes)).append(" MUXes, ")
                       .append(std::to_string(options.muxes * kLinesPerMux)).append(" lines"));
        absenceTold = false;
    } else if (!now && was) {
        log(true, std::string("snmp: lost").append(at).append(retry));
        absenceTold = true;
    } else if (!now && !absenceTold) {
        log(true, std::string("snmp: no master agent at ").append(options.master).append(retry));
        absenceTold = true;
    }
}

int SnmpAgent::Impl::OnIndexStart(int, int, void*, void*) {
    static_cast<Impl*>(running)->Attach(true);
    return 0;
}

int SnmpAgent::Impl::OnIndexStop(int, int, void*, void*) {
    static_cast<Impl*>(running)->Attach(false);
    return 0;
}

void SnmpAgent::Impl::Told(int priority, std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    // The library says again at every try what the attachment state already said once.
    if (message.empty() || priority > LOG_WARNING ||
        message.find("agentx master agent") != std::string::npos ||
        message.find("AgentX master agent") != std::string::npos) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (message == lastLibraryLine && now - lastLibraryAt < std::chrono::minutes(1)) {
        return;
    }
    lastLibraryLine = message;
    lastLibraryAt = now;
    log(priority <= LOG_ERR, std::string("snmp: ").append(message));
}

int SnmpAgent::Impl::OnLog(int, int, void* message, void*) {
    const auto* m = static_cast<const snmp_log_message*>(message);
    if (m != nullptr && m->msg != nullptr && running != nullptr) {
        static_cast<Impl*>(running)->Told(m->priority, m->msg);
    }
    return 0;
}

void SnmpAgent::Impl::Run() {
    running = this;
    snmp_disable_log();
    snmp_enable_calllog();
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, &Impl::OnLog, nullptr);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                          options.master.c_str());
    // No SIGALRM in a program of many threads: the library's alarms run in its loop. No
    // configuration files, no persistent state: this agent has nothing to keep of its own.
    for (int flag : {NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, NETSNMP_DS_LIB_DONT_READ_CONFIGS,
                     NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE,
                     NETSNMP_DS_LIB_DONT_PERSIST_STATE}) {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, flag, 1);
    }
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START,
                           &Impl::OnIndexStart, nullptr);
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_STOP,
                           &Impl::OnIndexStop, nullptr);
    init_agent("kestrel");
    // init_agent() sets the ping interval to its default, so it is set after.
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL,
                       static_cast<int>(options.ping.count()));
    // The library finds the registration of every name a request carries by going along its
    // list of subtrees from the start; the IF-MIB rows make that list thousands long. Its
    // cache of recent places in the list, off by default, makes a walk five times cheaper.
    netsnmp_set_lookup_cache_size(32);
    Register();
    init_snmp("kestrel");
    if (!attached) {
        Attach(false);
    }
    register_readfd(wake[0], &Impl::OnWake, this);
    while (!stop) {
        agent_check_and_process(1);
    }
    unregister_readfd(wake[0]);
    snmp_shutdown("kestrel");
    running = nullptr;
}

SnmpAgent::SnmpAgent(std::unique_ptr<Impl> i) : impl(std::move(i)) {}

std::unique_ptr<SnmpAgent> SnmpAgent::Start(Options options, Log log) {
    auto impl = std::make_unique<Impl>(std::move(options), std::move(log));
    if (::pipe2(impl->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        impl->log(true, std::string("snmp: cannot start: ").append(std::strerror(errno)));
        return nullptr;
    }
    // The library would read MIB files at its start, which a subagent that speaks in numbers
    // does not need; the environment is set while no other thread reads it.
    ::setenv("MIBS", "", 1);
    Impl* agent = impl.get();
    impl->thread = std::thread([agent] { agent->Run(); });
    return std::unique_ptr<SnmpAgent>(new SnmpAgent(std::move(impl)));
}

SnmpAgent::~SnmpAgent() {
    impl->stop = true;
    impl->Wake();
    if (impl->thread.joinable()) {
        impl->thread.join();
    }
    ::close(impl->wake[0]);
    ::close(impl->wake[1]);
}

void SnmpAgent::Publish(std::shared_ptr<const Snapshot> snapshot,
                        std::vector<Notification> notifications) {
    impl->published.store(
        std::make_shared<const Published>(Published{std::move(snapshot), impl->writesTaken}));
    if (notifications.empty()) {
        return;
    }
    {
        std::lock_guard lock(impl->mutex);
        auto& to = impl->notifications;
        to.insert(to.end(), notifications.begin(), notifications.end());
    }
    impl->Wake();
}

std::vector<TrapEnableWrite> SnmpAgent::TakeWrites() {
    std::vector<TrapEnableWrite> taken;
    std::lock_guard lock(impl->mutex);
    taken.swap(impl->writes);
    impl->writesTaken = impl->writesMade;
    return taken;
}

bool SnmpAgent::Attached() const {
    return impl->attached;
}

}  // namespace kestrel::snmp
