// The journal table: rows kept in step with the memory by id, their texts, marks and filter.
#include "views/JournalModel.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QStyle>
#include <algorithm>

#include "views/LineTexts.h"

namespace kestrel {

namespace {

// Active and nobody has seen it yet: what the user is to look at first.
bool Marked(const JournalEntry& e) {
    return !e.end && !e.acknowledged;
}

}  // namespace

JournalModel::JournalModel(LineSource source, QObject* parent)
    : QAbstractTableModel(parent),
      source(std::move(source)),
      unacknowledgedIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)) {}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

std::size_t JournalModel::IndexOf(int row) const {
    return entries.size() - 1 - static_cast<std::size_t>(row);
}

int JournalModel::RowOf(std::size_t index) const {
    return static_cast<int>(entries.size() - 1 - index);
}

const JournalEntry& JournalModel::Entry(int row) const {
    return entries[IndexOf(row)];
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) {
        return {};
    }
    const JournalEntry& e = Entry(index.row());
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case SeverityColumn:
                    return SeverityText(e.GetSeverity());
                case ObjectColumn:
                    return JournalEntryText(e);
                case StartColumn:
                    return LocalTimeText(e.start);
                case EndColumn:
                    return JournalEndText(e);
                case DurationColumn:
                    return JournalDurationText(e, now);
                case AcknowledgedColumn:
                    return e.acknowledged ? LocalTimeText(*e.acknowledged) : QString();
                default:
                    return {};
            }
        case Qt::DecorationRole:
            if (column == SeverityColumn) {
                return SeverityColour(e.GetSeverity());
            }
            if (column == ObjectColumn && Marked(e)) {
                return unacknowledgedIcon;
            }
            return {};
        case Qt::FontRole:
            if (Marked(e)) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole:
            // An end the monitor did not see, explained where it is shown.
            if (column == EndColumn && !e.end && e.unknownSince) {
                return QStringLiteral(
                           "On when the monitor lost sight of the line at %1 (no data, MUX not "
                           "connected or port closed); whether it still is, is not known")
                    .arg(LocalTimeText(*e.unknownSince));
            }
            if (column == EndColumn && e.endedUnseen) {
                return QStringLiteral(
                           "Gone when the monitor saw the line again: it ended after %1, while "
                           "the monitor could not see the line")
                    .arg(LocalTimeText(*e.end));
            }
            // The bold type and the icon, in words.
            return e.acknowledged
                       ? QStringLiteral("Acknowledged %1").arg(LocalTimeText(*e.acknowledged))
                       : QStringLiteral("Not acknowledged");
        case IdRole:
            return static_cast<qlonglong>(e.id);
        default:
            return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char* const kTitles[Columns] = {"Severity", "Object",   "Start",
                                                 "End",      "Duration", "Acknowledged"};
    return section >= 0 && section < Columns ? QString::fromLatin1(kTitles[section]) : QVariant();
}

void JournalModel::Refresh() {
    // Read in place: a copy of ten thousand entries every second would be the most of it.
    const std::deque<JournalEntry>& fresh = source.memory().JournalInMemory();
    const std::time_t before = now;
    now = source.now();
    const bool sameIds =
        entries.size() == fresh.size() &&
        std::equal(entries.begin(), entries.end(), fresh.begin(),
                   [](const JournalEntry& a, const JournalEntry& b) { return a.id == b.id; });
    if (!sameIds) {
        RemoveGone(fresh);
        InsertNew(fresh);
    }
    // Every entry is now in both, in the same order; what differs is a change, and a
    // duration that runs to now changes with the clock.
    std::vector<int> changed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!(entries[i] == fresh[i])) {
            entries[i] = fresh[i];
            changed.push_back(RowOf(i));
        } else if (!entries[i].end && !entries[i].unknownSince && now != before) {
            changed.push_back(RowOf(i));
        }
    }
    // Rows come out in descending order; one signal per run of neighbours.
    for (std::size_t k = 0; k < changed.size();) {
        std::size_t j = k;
        while (j + 1 < changed.size() && changed[j + 1] == changed[j] - 1) {
            ++j;
        }
        emit dataChanged(index(changed[j], 0), index(changed[k], Columns - 1));
        k = j + 1;
    }
}

void JournalModel::RemoveGone(const std::deque<JournalEntry>& fresh) {
    std::vector<bool> gone(entries.size());
    std::size_t f = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        while (f < fresh.size() && fresh[f].id < entries[i].id) {
            ++f;
        }
        gone[i] = f == fresh.size() || fresh[f].id != entries[i].id;
    }
    // From the newest down, so that the indices still to look at stay where they are.
    for (std::size_t end = entries.size(); end > 0;) {
        if (!gone[end - 1]) {
            --end;
            continue;
        }
        std::size_t begin = end - 1;
        while (begin > 0 && gone[begin - 1]) {
            --begin;
        }
        beginRemoveRows({}, RowOf(end - 1), RowOf(begin));
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(begin),
                      entries.begin() + static_cast<std::ptrdiff_t>(end));
        endRemoveRows();
        end = begin;
    }
}

void JournalModel::InsertNew(const std::deque<JournalEntry>& fresh) {
    // Every entry kept is in `fresh`: whatever in `fresh` comes before the next kept one is new.
    std::size_t i = 0;
    for (std::size_t f = 0; f < fresh.size();) {
        if (i < entries.size() && entries[i].id == fresh[f].id) {
            ++i;
            ++f;
            continue;
        }
        std::size_t g = f;
        while (g < fresh.size() && (i == entries.size() || fresh[g].id != entries[i].id)) {
            ++g;
        }
        const int count = static_cast<int>(g - f);
        const int first = static_cast<int>(entries.size() - i);
        beginInsertRows({}, first, first + count - 1);
        entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(i),
                       fresh.begin() + static_cast<std::ptrdiff_t>(f),
                       fresh.begin() + static_cast<std::ptrdiff_t>(g));
        endInsertRows();
        i += g - f;
        f = g;
    }
}

ObjectKind ObjectKindOf(int state) {
    if (state < kAlarmStates) {
        return ObjectKind::Line;
    }
    return state < kFirstLinkState ? ObjectKind::Tributaries : ObjectKind::Link;
}

JournalFilter::JournalFilter(JournalModel& model, QObject* parent)
    : QSortFilterProxyModel(parent), model(model) {
    setSourceModel(&model);
}

void JournalFilter::SetCriteria(const Criteria& c) {
    criteria = c;
    invalidateFilter();
}

const JournalEntry& JournalFilter::Entry(int row) const {
    return model.Entry(mapToSource(index(row, 0)).row());
}

bool JournalFilter::filterAcceptsRow(int sourceRow, const QModelIndex& /*sourceParent*/) const {
    const JournalEntry& e = model.Entry(sourceRow);
    // Severities run from Critical (0) to Minor (2): "at least" is "not above".
    return !(criteria.activeOnly && e.end) && !(criteria.unacknowledgedOnly && e.acknowledged) &&
           static_cast<int>(e.GetSeverity()) <= static_cast<int>(criteria.atLeast) &&
           (criteria.kind == ObjectKind::All || ObjectKindOf(e.state) == criteria.kind);
}

}  // namespace kestrel
