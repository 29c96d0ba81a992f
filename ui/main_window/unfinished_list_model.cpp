#include "ui/main_window/unfinished_list_model.h"

#include "core/download_list/download_list.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"

namespace {

// The titles built into the window; the language files have no entries for them.
QStringList DefaultHeaders() {
    return {QStringLiteral("Filename"),      QStringLiteral("Server"),
            QStringLiteral("Size"),          QStringLiteral("Status"),
            QStringLiteral("Download Date"), QStringLiteral("Est. time"),
            QStringLiteral("Priority")};
}

QString PercentText(float percent) {
    return QString::number(static_cast<double>(percent), 'f', 1);
}

}  // namespace

UnfinishedListModel::UnfinishedListModel(const TextTable& texts, QObject* parent)
    : TitledTableModel(DefaultHeaders(), {Size, TimeLeft}, parent), texts_(texts) {}

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
        if (record.FileName.isEmpty() || record.Active != FlagTrue ||
            record.Completed != FlagFalse) {
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
        if (record.Running == FlagTrue) {
            row.icon = StateIcon::Stop;
            row.word = Word::Running;
        } else {
            row.icon = record.Failed == FlagTrue ? StateIcon::Wrong : StateIcon::Down;
            if (record.Scheduled == 1) {
                row.icon = StateIcon::Shed;
            }
            row.word = record.Queued != 0 ? Word::Queued : Word::Paused;
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
    if (record.Completed == FlagTrue) {
        row.word = Word::Finished;  // the icon stays as it was
    } else if (record.Running == FlagTrue) {
        row.icon = StateIcon::Stop;
        row.word = Word::Running;
    } else {
        row.icon = StateIcon::Down;
        row.word = Word::Paused;
    }
    emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
    return true;
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

QString UnfinishedListModel::stateText(const Row& row) const {
    switch (row.word) {
        case Word::Finished:
            return texts_.text(300);
        case Word::Queued:
            return texts_.text(302);
        case Word::Running:
            return QStringLiteral(" (") + texts_.text(301) + u' ' + PercentText(row.percent) +
                   QStringLiteral("%)");
        case Word::Paused:
            break;
    }
    return QStringLiteral(" (") + texts_.text(303) + u' ' + PercentText(row.percent) +
           QStringLiteral("%)");
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
            return locale_.toString(row.added.toDateTime().date(), QLocale::ShortFormat);
        case TimeLeft:
            return FormatDuration(row.remaining);
        case Priority:
            return priorityText(row.priority);
        default:
            return {};
    }
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
            return index.column() == Name ? DecodeUrl(row.key) : QVariant();
        case Qt::TextAlignmentRole:
            return index.column() == Size || index.column() == TimeLeft
                       ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                       : QVariant();
        case KeyRole:
            return row.key;
        case IconKeyRole:
            return StateIconKey(row.icon);
        case PercentRole:
            return row.word == Word::Running || row.word == Word::Paused
                       ? QVariant(double(row.percent))
                       : QVariant();
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
