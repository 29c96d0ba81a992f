#include "ui/zip_preview/extract_window.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>

#include "core/text/text_table.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/zip_preview/screen_fit.h"

namespace {

// The places a user unpacks into: home, the whole file system, and each real volume mounted.
QList<std::pair<QString, QString>> Places() {
    QList<std::pair<QString, QString>> places{{QDir::homePath(), QDir::homePath()},
                                              {QStringLiteral("/"), QStringLiteral("/")}};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || !volume.isReady() || root == u"/" ||
            !(root.startsWith(u"/media/") || root.startsWith(u"/mnt/") ||
              root.startsWith(u"/run/media/"))) {
            continue;
        }
        const QString name = volume.displayName();
        places.append({name == root ? root : name + QStringLiteral(" (") + root + u')', root});
    }
    return places;
}

}  // namespace

Extract::Extract(const TextTable& texts, const QString& folder, QWidget* parent)
    : QWidget(parent, Qt::Window), texts_(texts) {
    setObjectName(QStringLiteral("Extract"));
    SetTag(this, 1050);
    setAttribute(Qt::WA_QuitOnClose, false);

    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    for (const auto& [label, root] : Places()) {
        Drive1->addItem(label, root);
    }
    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders_->setRootPath(QStringLiteral("/"));
    Dir1 = new QTreeView(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setModel(folders_);
    Dir1->setHeaderHidden(true);
    for (int column = 1; column < folders_->columnCount(); ++column) {
        Dir1->hideColumn(column);
    }
    Command1 = new QPushButton(QStringLiteral("Extract"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    SetTag(Command1, 1051);
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    SetTag(Command2, 636);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* column = new QVBoxLayout(this);
    column->addWidget(Combo1);
    column->addWidget(Drive1);
    column->addWidget(Dir1, 1);
    column->addLayout(buttons);
    ResizeToFitScreen(this, QSize(460, 400));

    connect(Drive1, &QComboBox::activated, this, &Extract::Drive1_Change);
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    Combo1->setEditText(QDir::toNativeSeparators(folders_->filePath(current)));
                }
            });
    connect(Command1, &QPushButton::clicked, this,
            [this] { finish(1, QDir::cleanPath(Combo1->currentText().trimmed())); });
    connect(Command2, &QPushButton::clicked, this, [this] { finish(0, path); });

    ApplyLanguage(this, texts_);
    showFolder(folder.isEmpty() ? QDir::homePath() : folder);
    Combo1->setEditText(folder.isEmpty() ? QDir::homePath() : folder);
}

void Extract::showFolder(const QString& folder) {
    const QModelIndex index = folders_->index(folder);
    if (index.isValid()) {
        Dir1->setCurrentIndex(index);
        Dir1->scrollTo(index);
    }
}

void Extract::Drive1_Change() {
    const QString root = Drive1->currentData().toString();
    const QStorageInfo volume(root);
    if (!QDir(root).exists() || !volume.isValid() || !volume.isReady()) {
        ShowMessageBox(QMessageBox::Warning, texts_.text(1052), QMessageBox::Ok, this,
                       windowTitle());
        return;
    }
    Dir1->setRootIndex(folders_->index(root));
    showFolder(root);
    Combo1->setEditText(root);
}

void Extract::finish(std::int16_t answer, const QString& chosen) {
    if (Ready) {
        return;
    }
    Ready = true;
    Answer = answer;
    path = answer == 1 ? chosen : QString();
    hide();
    emit answered();
}

void Extract::closeEvent(QCloseEvent* event) {
    event->accept();
    finish(0, QString());
}
