#include "ui/zip_preview/zip_preview_window.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>

#include "archive/remote/preview_failure_text.h"
#include "archive/remote/zip_preview_reader.h"
#include "archive/zip_listing.h"
#include "core/text/format.h"
#include "core/text/text_table.h"
#include "ui/language/apply_language.h"
#include "ui/zip_preview/member_icons.h"
#include "ui/zip_preview/screen_fit.h"

namespace {

// Item data: what the list sorts by, and the row's place in the listing.
constexpr int SortRole = Qt::UserRole;
constexpr int RowRole = Qt::UserRole + 1;

enum Column { Name, Packed, Normal, Ratio, Path, Columns };
enum ViewStyle { List, Report, Icon, Small };

QStandardItem* Cell(const QString& text, const QVariant& sortKey) {
    auto* item = new QStandardItem(text);
    item->setData(sortKey, SortRole);
    item->setEditable(false);
    return item;
}

// Sizes and ratios line up on their last digit.
QStandardItem* NumberCell(const QString& text, const QVariant& sortKey) {
    QStandardItem* item = Cell(text, sortKey);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QRadioButton* Option(QWidget* parent, const char* name, const char* caption, int tag) {
    auto* button = new QRadioButton(QLatin1String(caption), parent);
    button->setObjectName(QLatin1String(name));
    SetTag(button, tag);
    return button;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, int tag, int tip) {
    auto* button = new QPushButton(QLatin1String(caption), parent);
    button->setObjectName(QLatin1String(name));
    if (tag != 0) {
        SetTag(button, tag);
    }
    button->setProperty(ToolTipTagProperty, tip);
    return button;
}

}  // namespace

Form2::Form2(VelmoraSockets& sockets, const Settings& settings, const TextTable& texts,
             QWidget* parent, ProxyResolver* resolver)
    : QWidget(parent, Qt::Window),
      texts_(texts),
      reader_(std::make_unique<ZipPreviewReader>(sockets, settings, nullptr, resolver)) {
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_QuitOnClose, false);
    icons_ = std::make_unique<MemberIcons>(style());
    buildWindow();
    ApplyLanguage(this, texts_);

    connect(reader_.get(), &ZipPreviewReader::phaseChanged, this, [this](int phase) {
        if (phase == 2) {
            Label1->setText(texts_.text(769));
        }
    });
    connect(reader_.get(), &ZipPreviewReader::listed, this, &Form2::showEntries);
    connect(reader_.get(), &ZipPreviewReader::failed, this, &Form2::readFailed);
}

Form2::~Form2() = default;

void Form2::buildWindow() {
    setWindowTitle(QStringLiteral("OnLine-Zip Viewer & Extractor"));
    SetTag(this, 750);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);

    Option1 = Option(this, "Option1", "View By Folder", 751);
    Option2 = Option(this, "Option2", "View By File", 752);
    Option1->setChecked(true);
    auto* byGroup = new QButtonGroup(this);
    byGroup->addButton(Option1);
    byGroup->addButton(Option2);
    Option3 = Option(this, "Option3", "List", 754);
    Option4 = Option(this, "Option4", "Report", 756);
    Option5 = Option(this, "Option5", "Icon", 753);
    Option6 = Option(this, "Option6", "Small", 755);
    Option4->setChecked(true);
    auto* styleGroup = new QButtonGroup(this);
    styleGroup->addButton(Option3, List);
    styleGroup->addButton(Option4, Report);
    styleGroup->addButton(Option5, Icon);
    styleGroup->addButton(Option6, Small);

    buildViews();

    Command1 = Button(this, "Command1", "Extract ALL", 759, 1054);
    Command2 = Button(this, "Command2", "Extract SELECTED", 758, 1055);
    Command3 = Button(this, "Command3", "Download classic", 757, 1056);
    Command4 = Button(this, "Command4", "<<", 0, 1057);
    Command1->setEnabled(false);
    Command2->setEnabled(false);

    auto* byBox = new QHBoxLayout;
    byBox->addWidget(Option1);
    byBox->addWidget(Option2);
    byBox->addStretch(1);
    byBox->addWidget(Option3);
    byBox->addWidget(Option4);
    byBox->addWidget(Option5);
    byBox->addWidget(Option6);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command4);
    buttons->addStretch(1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    buttons->addWidget(Command3);
    auto* column = new QVBoxLayout(this);
    column->addWidget(Label1);
    column->addLayout(byBox);
    column->addWidget(views_, 1);
    column->addLayout(buttons);
    ResizeToFitScreen(this, QSize(640, 420));

    connect(byGroup, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool on) {
        if (on && listed_) {
            ShowList();
        }
    });
    connect(styleGroup, &QButtonGroup::idClicked, this, &Form2::setStyle);
    connect(ListView1, &QAbstractItemView::doubleClicked, this, &Form2::openRow);
    connect(iconView_, &QAbstractItemView::doubleClicked, this, &Form2::openRow);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        Command2->setEnabled(listed_ && ListView1->selectionModel()->hasSelection());
    });
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
}

// The members shown two ways over one model and one selection: a table, or icons.
void Form2::buildViews() {
    model_ = new QStandardItemModel(0, Columns, this);
    model_->setSortRole(SortRole);
    model_->setHorizontalHeaderLabels({QStringLiteral("Filename"), QStringLiteral("Packed Size"),
                                       QStringLiteral("Normal Size"), QStringLiteral("Ratio"),
                                       QStringLiteral("Internal Path")});
    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(model_);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSectionsClickable(true);
    // Directory order until the user picks a column.
    ListView1->header()->setSortIndicator(-1, Qt::AscendingOrder);
    SetColumnTags(ListView1, {760, 761, 762, 763, 764});
    iconView_ = new QListView(this);
    iconView_->setObjectName(QStringLiteral("iconView"));
    iconView_->setModel(model_);
    iconView_->setSelectionModel(ListView1->selectionModel());
    iconView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    iconView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    iconView_->setResizeMode(QListView::Adjust);
    iconView_->setWrapping(true);
    views_ = new QStackedWidget(this);
    views_->addWidget(ListView1);
    views_->addWidget(iconView_);
}

void Form2::Start(const RemoteArchive& archive) {
    Label1->setText(texts_.text(685));
    reader_->Start(archive);
}

void Form2::readFailed(const RemoteArchiveFailure& failure) {
    const QString why = PreviewFailureText(failure, texts_);
    Label1->setText(why);
    emit previewFailed(index_, why);
}

void Form2::showEntries() {
    entries_ = reader_->entries();
    tree_ = BuildZipFolderTree(entries_);
    listed_ = true;
    Command1->setEnabled(true);
    ShowList();
}

void Form2::ShowList() {
    const bool byFile = Option2->isChecked();
    rows_ = byFile ? ListZipFiles(entries_) : ListZipFolder(entries_, tree_, CurrentFolder);
    model_->removeRows(0, model_->rowCount());
    for (qsizetype i = 0; i < rows_.rows.size(); ++i) {
        const ZipListRow& row = rows_.rows[i];
        QStandardItem* name = Cell(row.text, row.text.toLower());
        name->setData(QVariant::fromValue(i), RowRole);
        name->setIcon(row.isFolder ? icons_->folder() : icons_->file(row.text));
        // Sizes read as the main window writes them; folders sort before every size.
        const auto size = [&](quint64 bytes) {
            return row.isFolder ? NumberCell(QStringLiteral("DIR"), qint64(-1))
                                : NumberCell(sizeText(bytes), QVariant(bytes));
        };
        model_->appendRow({
            name,
            size(row.packed),
            size(row.normal),
            row.ratio ? NumberCell(QString::number(*row.ratio) + u'%', *row.ratio)
                      : Cell({}, -1000),
            Cell(row.path, row.path.toLower()),
        });
    }
    const QHeaderView* header = ListView1->header();
    if (header->sortIndicatorSection() >= 0 && header->sortIndicatorSection() < Columns) {
        model_->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
    ListView1->setSortingEnabled(true);
    Option4->setChecked(true);
    setStyle(Report);
    // Wide enough for the longest text and the column's title, in any language.
    for (int column = Name; column < Path; ++column) {
        ListView1->resizeColumnToContents(column);
    }
    Command4->setEnabled(!byFile && !CurrentFolder.isEmpty());
    Label1->setText(sizeText(rows_.normalTotal) + u' ' + texts_.text(765) + QStringLiteral("  ") +
                    QString::number(rows_.count) + u' ' + texts_.text(766) + QStringLiteral(" (") +
                    sizeText(rows_.packedTotal) + u' ' + texts_.text(767) + QStringLiteral(".)"));
}

QString Form2::sizeText(quint64 bytes) const {
    return FormatSize(Currency::fromBytes(static_cast<qint64>(bytes)), texts_);
}

void Form2::setStyle(int style) {
    if (style == Report) {
        views_->setCurrentWidget(ListView1);
        return;
    }
    const int small = this->style()->pixelMetric(QStyle::PM_SmallIconSize);
    const int large = this->style()->pixelMetric(QStyle::PM_LargeIconSize);
    iconView_->setViewMode(style == Icon ? QListView::IconMode : QListView::ListMode);
    iconView_->setFlow(style == List ? QListView::TopToBottom : QListView::LeftToRight);
    iconView_->setIconSize(style == Icon ? QSize(large, large) : QSize(small, small));
    iconView_->setGridSize(style == Icon ? QSize(large * 3, large * 2) : QSize());
    iconView_->setWordWrap(style == Icon);
    iconView_->setMovement(QListView::Static);
    views_->setCurrentWidget(iconView_);
}

void Form2::openRow(const QModelIndex& index) {
    const qsizetype at = model_->index(index.row(), Name).data(RowRole).value<qsizetype>();
    if (at < 0 || at >= rows_.rows.size() || !rows_.rows[at].isFolder) {
        return;
    }
    CurrentFolder = rows_.rows[at].folderPath;
    ShowList();
}

QList<ZipEntry> Form2::selectedMembers() const {
    std::vector<bool> chosen(entries_.size(), false);
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows(Name)) {
        const qsizetype at = index.data(RowRole).value<qsizetype>();
        if (at < 0 || at >= rows_.rows.size()) {
            continue;
        }
        const ZipListRow& row = rows_.rows[at];
        if (!row.isFolder) {
            chosen[row.entry] = true;
            continue;
        }
        const QString inside = row.folderPath + u'/';
        for (qsizetype i = 0; i < entries_.size(); ++i) {
            if (entries_[i].name.startsWith(inside)) {
                chosen[i] = true;
            }
        }
    }
    QList<ZipEntry> members;
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        if (chosen[i]) {
            members.append(entries_[i]);
        }
    }
    return members;
}

void Form2::setStatus(const QString& text) {
    Label1->setText(text);
}

QString Form2::status() const {
    return Label1->text();
}

void Form2::Command1_Click() {
    emit extractChosen(index_, {});
}

void Form2::Command2_Click() {
    const QList<ZipEntry> members = selectedMembers();
    if (!members.isEmpty()) {
        emit extractChosen(index_, members);
    }
}

void Form2::Command3_Click() {
    hide();
    handedBack_ = true;
    emit downloadClassicChosen(index_);
    close();
}

void Form2::Command4_Click() {
    CurrentFolder = ZipParentFolder(CurrentFolder);
    ShowList();
}

void Form2::closeEvent(QCloseEvent* event) {
    reader_->Abort();
    event->accept();
    if (!handedBack_) {
        handedBack_ = true;
        emit closedWithoutClassic(index_);
    }
}
