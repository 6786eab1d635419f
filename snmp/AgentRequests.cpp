// The subagent's answers: its registrations with the master, and GET, GETNEXT and SET of
// the tables from the last snapshot published.
#include <algorithm>

#include "snmp/AgentImpl.h"

namespace kestrel::snmp {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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

}  // namespace

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

}  // namespace kestrel::snmp
