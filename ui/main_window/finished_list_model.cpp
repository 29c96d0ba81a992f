#include "ui/main_window/finished_list_model.h"

#include <QBrush>
#include <QFileInfo>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "ui/language/plain_text.h"
#include "ui/main_window/checksum_texts.h"
#include "ui/main_window/state_icons.h"

namespace {

QStringList DefaultHeaders() {
    return {QStringLiteral("Filename"), QStringLiteral("Size"), QStringLiteral("URL"),
            QStringLiteral("Download Date"), QStringLiteral("Checksum")};
}

}  // namespace

FinishedListModel::FinishedListModel(const TextTable& texts, QObject* parent)
    : TitledTableModel(DefaultHeaders(), {Size}, parent), texts_(texts), locale_(texts) {}

void FinishedListModel::rebuild(const DownloadListState& list) {
    beginResetModel();
    rows_.clear();
    index_.clear();
    const int last = UsedSlots(list);
    for (int slot = 1; slot <= last; ++slot) {
        const DownloadRecord& record = list.DownloadList[slot];
        if (StateOf(record) != ListEntryState::Finished) {
            continue;
        }
        if (index_.contains(record.Url)) {
            continue;  // one row per key
        }
        index_.insert(record.Url, int(rows_.size()));
        Row row;
        row.key = record.Url;
        row.fileName = record.FileName;
        row.savePath = record.SavePath;
        row.size = record.FileSize;
        row.added = record.DateAdded;
        row.checksum = ReadChecksumNote(record);
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

QString FinishedListModel::keyAt(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].key : QString();
}

int FinishedListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int FinishedListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const QString& FinishedListModel::nameOf(const Row& row) const {
    if (!row.decoded) {
        row.decodedName = DecodeUrl(row.fileName);
        row.decoded = true;
    }
    return row.decodedName;
}

bool FinishedListModel::fileMissing(const Row& row) const {
    if (row.presence == Presence::Unknown) {
        const QFileInfo info(row.savePath);
        row.presence =
            !row.savePath.isEmpty() && info.isFile() ? Presence::Present : Presence::Missing;
    }
    return row.presence == Presence::Missing;
}

QIcon FinishedListModel::fileIcon(const Row& row) const {
    if (fileMissing(row)) {
        return StateIconImage(StateIcon::NotFound);
    }
    auto it = fileIcons_.find(row.key);
    if (it == fileIcons_.end()) {
        // The type as the name and the first bytes tell it; the theme's icon for that type,
        // its generic family's, or the plain file icon when the theme has neither.
        const QFileInfo info(row.savePath);
        const QMimeType type = mimeTypes_.mimeTypeForFile(info);
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) {
            icon = QIcon::fromTheme(type.genericIconName());
        }
        if (icon.isNull()) {
            icon = iconProvider_.icon(info);
        }
        it = fileIcons_.insert(row.key, icon);
    }
    return *it;
}

QVariant FinishedListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) {
        return {};
    }
    const Row& row = rows_[index.row()];
    if (index.column() == Checksum && role != KeyRole) {
        return checksumData(row, role);
    }
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case Name:
                    return nameOf(row);
                case Size:
                    return FormatSize(row.size, texts_);
                case Url:
                    return UrlForDisplay(DecodeUrl(row.key));
                case Added:
                    return locale_.locale().toString(row.added.toDateTime().date(),
                                                     QLocale::ShortFormat);
                default:
                    return {};
            }
        case Qt::DecorationRole:
            return index.column() == Name ? fileIcon(row) : QVariant();
        case Qt::ToolTipRole:
            return index.column() == Name || index.column() == Url ? PlainToolTip(row.savePath)
                                                                   : QVariant();
        case Qt::TextAlignmentRole:
            return index.column() == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                          : QVariant();
        case KeyRole:
            return row.key;
        case IconKeyRole:
            return fileMissing(row) ? StateIconKey(StateIcon::NotFound) : row.key;
        case TypeRole:
            return mimeTypes_.mimeTypeForFile(row.savePath).name();
        default:
            return {};
    }
}

bool FinishedListModel::rowLessThan(int left, int right, int column) const {
    const Row& a = rows_[left];
    const Row& b = rows_[right];
    switch (column) {
        case Name:
            return nameOf(a).compare(nameOf(b), Qt::CaseInsensitive) < 0;
        case Size:
            return a.size < b.size;
        case Url:
            return a.key.compare(b.key, Qt::CaseInsensitive) < 0;
        case Added:
            return a.added < b.added;
        case Checksum:
            return ChecksumMark(a.checksum, texts_) < ChecksumMark(b.checksum, texts_);
        default:
            return false;
    }
}

QVariant FinishedListModel::checksumData(const Row& row, int role) const {
    switch (role) {
        case Qt::DisplayRole:
            return ChecksumMark(row.checksum, texts_);
        case Qt::ToolTipRole: {
            const QString line = ChecksumMark(row.checksum, texts_).isEmpty()
                                     ? QString()
                                     : ChecksumLine(row.checksum, texts_);
            return line.isEmpty() ? QVariant() : QVariant(PlainToolTip(line));
        }
        case Qt::ForegroundRole:
            return row.checksum.outcome == ChecksumNote::Outcome::Failed
                       ? QVariant(QBrush(ChecksumFailedColor()))
                       : QVariant();
        default:
            return {};
    }
}
