#include "ui/main_window/unfinished_list_model.h"

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "engine/address_change/address_change.h"
#include "engine/session/failure_words.h"
#include "ui/language/plain_text.h"

namespace {

// The titles built into the window; the language files have no entries for them.
QStringList DefaultHeaders() {
    return {QStringLiteral("Filename"),      QStringLiteral("Server"),
            QStringLiteral("Size"),          QStringLiteral("Status"),
            QStringLiteral("Download Date"), QStringLiteral("Est. time"),
            QStringLiteral("Priority")};
}

}  // namespace

UnfinishedListModel::UnfinishedListModel(const TextTable& texts, QObject* parent)
    : TitledTableModel(DefaultHeaders(), {Size, TimeLeft}, parent), texts_(texts), locale_(texts) {}

void UnfinishedListModel::setReason(const QString& key, const QString& reason) {
    if (reason.isEmpty()) {
        reasons_.remove(key);
    } else {
        reasons_.insert(key, reason);
    }
    const int r = rowOf(key);
    if (r >= 0) {
        emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    }
}

void UnfinishedListModel::setNote(const QString& key, const QString& note) {
    if (notes_.value(key) == note) {
        return;
    }
    if (note.isEmpty()) {
        notes_.remove(key);
    } else {
        notes_.insert(key, note);
    }
    const int r = rowOf(key);
    if (r >= 0) {
        emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    }
}

void UnfinishedListModel::readCommon(Row& row, const DownloadRecord& record) {
    if (row.fileName != record.FileName) {
        row.fileName = record.FileName;
        row.decoded = false;
    }
    row.host = record.HostName;
    row.size = record.FileSize;
    row.added = record.DateAdded;
    row.remaining = record.RemainingSeconds;
    row.priority = record.Priority;
    row.percent = record.Percent;
    row.failureCode = FailureCodeOf(record);
    row.expired = LinkExpired(record);
}

void UnfinishedListModel::rebuild(const DownloadListState& list) {
    beginResetModel();
    rows_.clear();
    index_.clear();
    const int last = UsedSlots(list);
    rows_.reserve(last);
    index_.reserve(last);
    for (int slot = 1; slot <= last; ++slot) {
        const DownloadRecord& record = list.DownloadList[slot];
        if (record.FileName.isEmpty() || !Unfinished(record)) {
            continue;
        }
        // Keys are unique in the list view: a second entry for the same address gets no row.
        if (index_.contains(record.Url)) {
            continue;
        }
        index_.insert(record.Url, int(rows_.size()));
        Row row;
        row.key = record.Url;
        readCommon(row, record);
        const ListEntryState state = StateOf(record);
        if (state == ListEntryState::Running) {
            row.icon = StateIcon::Stop;
            row.word = Word::Running;
            reasons_.remove(record.Url);  // tried again: the old reason no longer holds
        } else {
            row.icon = LastAttemptFailed(record) ? StateIcon::Wrong : StateIcon::Down;
            if (MarkedForSchedule(record)) {
                row.icon = StateIcon::Shed;
            }
            // What the entry waits for: the queue, its time, or the user after a failure.
            if (state == ListEntryState::Queued) {
                row.word = Word::Queued;
            } else if (state == ListEntryState::Scheduled) {
                row.word = Word::Scheduled;
            } else if (state == ListEntryState::Failed || reasons_.contains(record.Url)) {
                row.word = Word::Failed;
            } else {
                row.word = Word::Paused;
            }
        }
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

bool UnfinishedListModel::updateRow(const DownloadRecord& record) {
    const int r = rowOf(record.Url);
    if (r < 0) {
        return false;
    }
    Row& row = rows_[r];
    readCommon(row, record);
    const ListEntryState state = StateOf(record);
    if (state == ListEntryState::Finished) {
        row.word = Word::Finished;  // the icon stays as it was
    } else if (state == ListEntryState::Running) {
        row.icon = StateIcon::Stop;
        row.word = Word::Running;
        reasons_.remove(record.Url);
    } else {
        row.icon = StateIcon::Down;
        row.word = Word::Paused;
    }
    emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    return true;
}

bool UnfinishedListModel::stateDiffers(const DownloadRecord& record) const {
    const int r = rowOf(record.Url);
    if (r < 0) {
        return false;
    }
    const Word drawn = rows_[r].word;
    switch (StateOf(record)) {
        case ListEntryState::Running:
            return drawn != Word::Running;
        case ListEntryState::Finished:
            return drawn != Word::Finished;
        default:
            return drawn == Word::Running || drawn == Word::Finished;
    }
}

QString UnfinishedListModel::keyAt(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].key : QString();
}

int UnfinishedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int UnfinishedListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const QString& UnfinishedListModel::nameOf(const Row& row) const {
    if (!row.decoded) {
        row.decodedName = DecodeUrl(row.fileName);
        row.decoded = true;
    }
    return row.decodedName;
}

QString UnfinishedListModel::reasonText(const Row& row) const {
    const QString stored = FailureWords(row.failureCode, texts_);
    return stored.isEmpty() ? reasons_.value(row.key) : stored;
}

QString UnfinishedListModel::stateText(const Row& row) const {
    const QString percent = FormatPercent(row.percent, texts_);
    switch (row.word) {
        case Word::Finished:
            return texts_.text(300);
        case Word::Queued:
            return texts_.text(302);
        case Word::Scheduled:
            return texts_.text(116);
        case Word::Running:
            if (const QString note = notes_.value(row.key); !note.isEmpty()) {
                return note;
            }
            return QStringLiteral(" (") + texts_.text(301) + u' ' + percent + QStringLiteral("%)");
        case Word::Failed:
        case Word::Paused:
            break;
    }
    // A stopped entry says why when it is known; one that failed before this run says so.
    if (const QString why = stoppedWords(row); !why.isEmpty()) {
        return why;
    }
    const int word = row.word == Word::Failed ? 111 : 303;
    return QStringLiteral(" (") + texts_.text(word) + u' ' + percent + QStringLiteral("%)");
}

QString UnfinishedListModel::priorityText(std::int32_t priority) const {
    switch (priority) {
        case 0:
            return texts_.text(692);
        case 1:
            return texts_.text(691);
        case 2:
            return texts_.text(690);
        default:
            return {};
    }
}

QString UnfinishedListModel::text(const Row& row, int column) const {
    switch (column) {
        case Name:
            return nameOf(row);
        case Host:
            return row.host;
        case Size:
            return FormatSize(row.size, texts_);
        case State:
            return stateText(row);
        case Added:
            return locale_.locale().toString(row.added.toDateTime().date(), QLocale::ShortFormat);
        case TimeLeft:
            // Only a running entry has a time left; a stopped one's would be stale.
            return row.word == Word::Running ? FormatDuration(row.remaining) : QString();
        case Priority:
            return priorityText(row.priority);
        default:
            return {};
    }
}

// The state is drawn as a bar when it is a percentage: running, or stopped for no known reason.
bool UnfinishedListModel::showsPercent(const Row& row) const {
    switch (row.word) {
        case Word::Running:
            return !notes_.contains(row.key);
        case Word::Paused:
        case Word::Failed:
            return reasonText(row).isEmpty();
        default:
            return false;
    }
}

// An expired link asks for a new address rather than telling the refusal it ended with.
QString UnfinishedListModel::stoppedWords(const Row& row) const {
    if (row.word == Word::Running) {
        return {};
    }
    if (row.expired) {
        return texts_.text(1341);
    }
    const QString reason = reasonText(row);
    return reason.isEmpty() ? QString() : texts_.text(111) + u' ' + reason;
}

QVariant UnfinishedListModel::toolTip(const Row& row, int column) const {
    const QString why = stoppedWords(row);
    // The address and the server's reason, shown as written.
    if (column == Name) {
        return PlainToolTip(why.isEmpty() ? DecodeUrl(row.key) : DecodeUrl(row.key) + u'\n' + why);
    }
    if (column != State || why.isEmpty()) {
        return {};
    }
    return PlainToolTip(row.expired ? why : reasonText(row));
}

QVariant UnfinishedListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) {
        return {};
    }
    const Row& row = rows_[index.row()];
    switch (role) {
        case Qt::DisplayRole:
            return text(row, index.column());
        case Qt::DecorationRole:
            return index.column() == Name ? StateIconImage(row.icon) : QVariant();
        case Qt::ToolTipRole:
            return toolTip(row, index.column());
        case Qt::TextAlignmentRole:
            return index.column() == Size || index.column() == TimeLeft
                       ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                       : QVariant();
        case KeyRole:
            return row.key;
        case IconKeyRole:
            return StateIconKey(row.icon);
        case PercentRole:
            return showsPercent(row) ? QVariant(double(row.percent)) : QVariant();
        default:
            return {};
    }
}

bool UnfinishedListModel::rowLessThan(int left, int right, int column) const {
    const Row& a = rows_[left];
    const Row& b = rows_[right];
    switch (column) {
        case Name:
            return nameOf(a).compare(nameOf(b), Qt::CaseInsensitive) < 0;
        case Host:
            return a.host.compare(b.host, Qt::CaseInsensitive) < 0;
        case Size:
            return a.size < b.size;
        case State:
            // Finished, then running, paused and queued, each by percentage.
            return a.word != b.word ? a.word < b.word : a.percent < b.percent;
        case Added:
            return a.added < b.added;
        case TimeLeft:
            return a.remaining < b.remaining;
        case Priority:
            return a.priority < b.priority;
        default:
            return false;
    }
}
