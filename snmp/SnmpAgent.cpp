// The AgentX subagent: net-snmp's agent library, every call of it on one thread.
#include "snmp/SnmpAgent.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

// net-snmp's headers after the standard ones: they define macros of their own.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/agent_callbacks.h>

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

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a snapshot holds: the lines, and how many of the managers' SETs were taken into it.
struct Published {
    std::shared_ptr<const Snapshot> snapshot;
    std::uint64_t writesTaken = 0;
};

Oid Column(const Oid& entry, SubId column, SubId index) {
    Oid o = entry;
    o.push_back(column);
    o.push_back(index);
    return o;
}

void SetValue(netsnmp_variable_list* vb, const Value& v) {
    switch (v.type) {
    case Value::Type::Integer: {
        const long n = static_cast<long>(v.number);
        snmp_set_var_typed_value(vb, ASN_INTEGER, &n, sizeof n);
        return;
    }
    case Value::Type::Gauge32:
    case Value::Type::Counter32:
    case Value::Type::TimeTicks: {
        const u_long n = static_cast<u_long>(v.number);
        const u_char type = v.type == Value::Type::Gauge32     ? ASN_GAUGE
                            : v.type == Value::Type::Counter32 ? ASN_COUNTER
                                                               : ASN_TIMETICKS;
        snmp_set_var_typed_value(vb, type, &n, sizeof n);
        return;
    }
    case Value::Type::OctetString:
        snmp_set_var_typed_value(vb, ASN_OCTET_STR, v.text.data(), v.text.size());
        return;
    case Value::Type::ObjectId:
        snmp_set_var_typed_value(vb, ASN_OBJECT_ID, v.oid.data(), v.oid.size() * sizeof(oid));
        return;
    }
}

// A manager's value as the model takes it: only integers can be right for a SET here.
Value ValueOfRequest(const netsnmp_variable_list* vb) {
    Value v;
    if (vb->type == ASN_INTEGER && vb->val.integer != nullptr) {
        v.number = *vb->val.integer;
    } else {
        v.type = Value::Type::OctetString;
    }
    return v;
}

// The library frees the argument given with a callback when it shuts down, so its callbacks
// find the agent here instead: one agent runs in a process, and only its thread reads this.
void* running = nullptr;

}  // namespace

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
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

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

const MibView& SnmpAgent::Impl::View() {
    auto now = published.load();
    if (now != viewOf) {
        viewOf = now;
        view = std::make_unique<MibView>(now->snapshot ? now->snapshot
                                                       : std::make_shared<const Snapshot>());
        // SETs the host has taken into this snapshot read from it from now on.
        std::erase_if(pending, [&](const auto& p) { return p.second.seq <= now->writesTaken; });
    }
    pendingValues.clear();
    for (const auto& [line, p] : pending) {
        pendingValues[line] = p.value;
    }
    view->OverrideTrapEnable(&pendingValues);
    view->SetClock(static_cast<std::uint32_t>(netsnmp_get_agent_uptime()), NowMs());
    return *view;
}

int SnmpAgent::Impl::Handle(netsnmp_mib_handler* handler, netsnmp_handler_registration*,
                            netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
    const auto& r = *static_cast<Registration*>(handler->myvoid);
    Impl& agent = *r.agent;
    const MibView& view = agent.View();
    for (netsnmp_request_info* req = requests; req != nullptr; req = req->next) {
        if (req->processed) {
            continue;
        }
        netsnmp_variable_list* vb = req->requestvb;
        const Oid name(vb->name, vb->name + vb->name_length);
        switch (info->mode) {
        case MODE_GET: {
            const bool inColumn = r.column == 0 || (name.size() > r.table->entry.size() &&
                                                    name[r.table->entry.size()] ==
                                                        static_cast<SubId>(r.column));
            const auto value = inColumn ? view.Get(*r.table, name) : std::nullopt;
            if (value) {
                SetValue(vb, *value);
            } else {
                netsnmp_set_request_error(info, req, SNMP_NOSUCHINSTANCE);
            }
            break;
        }
        case MODE_GETNEXT: {
            // The master may ask from a name included (the start of one of its subtrees), and
            // only up to the end of its search range: nothing in it leaves the request to the
            // next registration.
            std::optional<std::pair<Oid, Value>> next;
            if (req->inclusive != 0) {
                if (auto value = view.Get(*r.table, name)) {
                    next.emplace(name, std::move(*value));
                }
            }
            if (!next) {
                next = view.GetNext(*r.table, name, r.column);
            }
            if (next && req->range_end_len > 0 &&
                snmp_oid_compare(next->first.data(), next->first.size(), req->range_end,
                                 req->range_end_len) >= 0) {
                next.reset();
            }
            if (next) {
                snmp_set_var_objid(vb, next->first.data(), next->first.size());
                SetValue(vb, next->second);
            }
            break;
        }
        case MODE_SET_RESERVE1: {
            TrapEnableWrite write;
            const SetError e = view.CheckSet(*r.table, name, ValueOfRequest(vb), write);
            const int code = e == SetError::None         ? SNMP_ERR_NOERROR
                             : e == SetError::NoCreation ? SNMP_ERR_NOCREATION
                             : e == SetError::WrongType  ? SNMP_ERR_WRONGTYPE
                             : e == SetError::WrongValue ? SNMP_ERR_WRONGVALUE
                                                         : SNMP_ERR_NOTWRITABLE;
            if (code != SNMP_ERR_NOERROR) {
                netsnmp_set_request_error(info, req, code);
            }
            break;
        }
        case MODE_SET_ACTION: {
            // Nothing changes before the commit, so an undo has nothing to take back and no
            // other manager reads a value that may not stay.
            TrapEnableWrite write;
            if (view.CheckSet(*r.table, name, ValueOfRequest(vb), write) != SetError::None) {
                netsnmp_set_request_error(info, req, SNMP_ERR_COMMITFAILED);
            }
            break;
        }
        case MODE_SET_COMMIT: {
            TrapEnableWrite write;
            if (view.CheckSet(*r.table, name, ValueOfRequest(vb), write) != SetError::None) {
                break;
            }
            std::lock_guard lock(agent.mutex);
            agent.writes.push_back(write);
            agent.pending[write.line] = {write.enable, ++agent.writesMade};
            break;
        }
        default:  // RESERVE2, UNDO and FREE: nothing held
            break;
        }
    }
    return SNMP_ERR_NOERROR;
}

void SnmpAgent::Impl::Register() {
    auto add = [this](const Table& table, int column, Oid root, int rangeSubId, SubId upper) {
        // The handler carries what it serves: the library copies a handler with its data
        // into every subtree of a range, but not the registration's own.
        netsnmp_mib_handler* handler = netsnmp_create_handler(table.name, &Impl::Handle);
        if (handler == nullptr) {
            return;
        }
        registrations.push_back(std::make_unique<Registration>(Registration{this, &table, column}));
        handler->myvoid = registrations.back().get();
        auto* reg = netsnmp_handler_registration_create(
            table.name, handler, root.data(), root.size(),
            table.writable ? HANDLER_CAN_RWRITE : HANDLER_CAN_RONLY);
        if (reg == nullptr) {
            return;
        }
        if (rangeSubId != 0) {
            reg->range_subid = rangeSubId;
            reg->range_ubound = upper;
        }
        if (netsnmp_register_handler(reg) != MIB_REGISTERED_OK) {
            Told(LOG_ERR, std::string("cannot register ") + table.name);
        }
    };
    struct Root {
        const Table* table;
        int column;
        Oid oid;
        int rangeSubId;
        SubId upper;
    };
    std::vector<Root> roots;
    for (const Table& table : Tables()) {
        if (!table.perColumn) {
            roots.push_back({&table, 0, table.entry, 0, 0});
            continue;
        }
        if (options.interfaces == Interfaces::None) {
            continue;
        }
        // The host's own interfaces stay with the master: each column claims only the rows
        // of the MUXes' lines, one range a MUX (the master keeps a subtree for every row of a
        // range, so a range across the gaps between MUXes would cost it more).
        for (int position = 1; position <= options.muxes; ++position) {
            for (int column : table.columns) {
                Oid root = table.entry;
                root.push_back(static_cast<SubId>(column));
                root.push_back(FirstIndexOf(position));
                const bool range = options.interfaces == Interfaces::All;
                roots.push_back({&table, column, root, range ? static_cast<int>(root.size()) : 0,
                                 range ? FirstIndexOf(position) + kLinesPerMux - 1 : 0});
            }
        }
    }
    // The library keeps the subtrees in a list in name order and finds each one's place from
    // the start: registered last name first, each place is found at once.
    std::sort(roots.begin(), roots.end(), [](const Root& a, const Root& b) {
        return std::lexicographical_compare(b.oid.begin(), b.oid.end(), a.oid.begin(),
                                            a.oid.end());
    });
    for (const Root& r : roots) {
        add(*r.table, r.column, r.oid, r.rangeSubId, r.upper);
    }
}

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
