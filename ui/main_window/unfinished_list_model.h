#pragma once

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

#include "core/types/currency.h"
#include "core/types/ole_date.h"
#include "ui/main_window/language_conventions.h"
#include "ui/main_window/sortable_rows.h"
#include "ui/main_window/state_icons.h"
#include "ui/main_window/titled_table_model.h"

struct DownloadListState;
struct DownloadRecord;
class TextTable;

// The unfinished downloads (ListView1): one row per entry in the list that is not completed and
// has a file name, keyed by its Url. Each row keeps what its last refresh read from the record,
// so the lists show what was last drawn, as the throttled refresh intends; texts are made only
// for the rows the view asks for.
class UnfinishedListModel : public TitledTableModel, public SortableRows {
    Q_OBJECT
public:
    enum Column { Name, Host, Size, State, Added, TimeLeft, Priority, ColumnCount };
    enum Role {
        KeyRole = Qt::UserRole + 1,  // the row's Url
        IconKeyRole,                 // "stop", "down", "wrong" or "shed"
        PercentRole,                 // the State column's percentage, where it shows one
    };

    explicit UnfinishedListModel(const TextTable& texts, QObject* parent = nullptr);

    // The full refresh: every row anew from the list, in slot order, in one pass.
    void rebuild(const DownloadListState& list);
    // The one-row update a session asks for: only the running or paused form. False when the
    // record has no row.
    bool updateRow(const DownloadRecord& record);
    // Whether the record has left the state its row shows (running, stopped or finished): a
    // change the list draws at once, whatever its refresh throttle says.
    bool stateDiffers(const DownloadRecord& record) const;

    // Why the entry last stopped, in the user's words (empty: it was paused, or is running
    // again). Shown in its state and tooltip while it is not running; kept across rebuilds.
    void setReason(const QString& key, const QString& reason);
    QString reasonOf(const QString& key) const { return reasons_.value(key); }
    // What a running entry does instead of fetching ("Reconnecting (attempt 2): ..."), shown
    // in its state while it runs; empty once bytes come again.
    void setNote(const QString& key, const QString& note);

    int rowOf(const QString& key) const { return index_.value(key, -1); }
    QString keyAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool rowLessThan(int left, int right, int column) const override;

private:
    enum class Word : std::uint8_t { Finished, Running, Paused, Queued, Scheduled, Failed };
    struct Row {
        QString key;
        QString fileName;  // as stored, still encoded
        QString host;
        Currency size;
        OleDate added;
        float remaining = 0;
        float percent = 0;
        std::int32_t priority = 0;
        StateIcon icon = StateIcon::Down;
        Word word = Word::Paused;
        std::int16_t failureCode = 0;  // the stored reason of a failed entry
        bool expired = false;          // its address no longer gives the file
        mutable QString decodedName;
        mutable bool decoded = false;
    };

    static void readCommon(Row& row, const DownloadRecord& record);
    const QString& nameOf(const Row& row) const;
    // Why the row's entry stopped: its stored failure code in the current language, else what
    // the session said in this run.
    QString reasonText(const Row& row) const;
    QString stateText(const Row& row) const;
    // Why a stopped row stopped, as its state and tooltip say it; empty while it runs.
    QString stoppedWords(const Row& row) const;
    QString priorityText(std::int32_t priority) const;
    QString text(const Row& row, int column) const;
    QVariant toolTip(const Row& row, int column) const;
    bool showsPercent(const Row& row) const;

    const TextTable& texts_;
    LocaleCache locale_;
    QVector<Row> rows_;
    QHash<QString, int> index_;
    QHash<QString, QString> reasons_;
    QHash<QString, QString> notes_;
};
