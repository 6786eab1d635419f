// The alarm journal as a table, newest entry first, and the filter the journal panel offers.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <deque>

#include "performance/Journal.h"
#include "views/LineSource.h"

namespace kestrel {

// The rows follow the memory's entries by id: Refresh inserts the new ones at the top, drops
// those the memory let go of and changes only the rows whose entry changed, so that views keep
// their selection and their place once a second.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Acknowledged last: the time it was, empty while not, so that an ended entry tells
    // whether anybody saw it without the filter.
    enum Column {
        SeverityColumn,
        ObjectColumn,
        StartColumn,
        EndColumn,
        DurationColumn,
        AcknowledgedColumn,
        Columns
    };
    // The entry's id, for views that act on rows.
    static constexpr int IdRole = Qt::UserRole;

    explicit JournalModel(LineSource source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Reads the memory's entries again; an active entry's duration runs to the source's now,
    // an unknown one's stops where the monitor lost sight of it.
    void Refresh();
    const JournalEntry& Entry(int row) const;
    // The time active durations run to, as of the last refresh.
    std::time_t Now() const { return now; }
    const LineSource& Source() const { return source; }

private:
    std::size_t IndexOf(int row) const;
    int RowOf(std::size_t index) const;
    void RemoveGone(const std::deque<JournalEntry>& fresh);
    void InsertNew(const std::deque<JournalEntry>& fresh);

    LineSource source;
    std::deque<JournalEntry> entries;  // ascending ids: the last is row 0
    std::time_t now = 0;
    QIcon unacknowledgedIcon;
};

// What the object filter tells apart.
enum class ObjectKind { All, Line, Tributaries, Link };
ObjectKind ObjectKindOf(int state);

// Keeps the model's order and lets through the rows the criteria accept.
class JournalFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    struct Criteria {
        bool activeOnly = false;
        bool unacknowledgedOnly = false;
        Severity atLeast = Severity::Minor;
        ObjectKind kind = ObjectKind::All;
    };

    explicit JournalFilter(JournalModel& model, QObject* parent = nullptr);
    void SetCriteria(const Criteria& criteria);
    const Criteria& GetCriteria() const { return criteria; }
    const JournalEntry& Entry(int row) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    JournalModel& model;
    Criteria criteria;
};

}  // namespace kestrel
