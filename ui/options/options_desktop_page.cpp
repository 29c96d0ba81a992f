// The options window's desktop page: what the program does on the user's desktop around the
// downloads (notifications, staying awake, sorting files into folders by kind).
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QVBoxLayout>

#include "core/file_kinds/file_kinds.h"
#include "ui/language/apply_language.h"
#include "ui/options/options_window.h"

namespace {

struct KindLine {
    const char* label;
    const char* edit;
    const char* caption;
    int tag;
};

// In KindSettings() order.
const std::array<KindLine, 7> kKindLines{{
    {"LabelSortMusic", "TextSortMusic", "Music :", 1485},
    {"LabelSortVideos", "TextSortVideos", "Videos :", 1486},
    {"LabelSortPictures", "TextSortPictures", "Pictures :", 1487},
    {"LabelSortDocuments", "TextSortDocuments", "Documents :", 1488},
    {"LabelSortArchives", "TextSortArchives", "Archives :", 1489},
    {"LabelSortPrograms", "TextSortPrograms", "Programs :", 1490},
    {"LabelSortDiskImages", "TextSortDiskImages", "Disk images :", 1491},
}};

QCheckBox* DesktopCheck(const char* name, const char* caption, int tag) {
    auto* box = new QCheckBox(QString::fromUtf8(caption));
    box->setObjectName(QLatin1String(name));
    SetTag(box, tag);
    return box;
}

}  // namespace

QWidget* Options::desktopPage() {
    CheckNotifications = DesktopCheck("CheckNotifications", "Notify when downloads end", 1482);
    CheckStayAwake =
        DesktopCheck("CheckStayAwake", "Keep the computer awake while downloading", 1483);
    CheckSortByKind = DesktopCheck("CheckSortByKind", "Sort files into folders by kind", 1484);
    connect(CheckSortByKind, &QCheckBox::toggled, this, &Options::CheckSortByKind_Click);
    auto* note = new QLabel;
    note->setObjectName(QStringLiteral("LabelSortNote"));
    note->setWordWrap(true);
    SetTag(note, 1492);

    auto* grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));
    int row = 0;
    grid->addWidget(CheckNotifications, row++, 0, 1, 3);
    grid->addWidget(CheckStayAwake, row++, 0, 1, 3);
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing) * 2);
    grid->addWidget(CheckSortByKind, row++, 0, 1, 3);
    grid->addWidget(note, row++, 1, 1, 2);
    grid->setRowMinimumHeight(row++, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    sortControls_ = {note};
    for (std::size_t i = 0; i < kKindLines.size(); ++i) {
        const KindLine& line = kKindLines[i];
        auto* label = new QLabel(QString::fromUtf8(line.caption));
        label->setObjectName(QLatin1String(line.label));
        SetTag(label, line.tag);
        TextSort[i] = new QLineEdit;
        TextSort[i]->setObjectName(QLatin1String(line.edit));
        label->setBuddy(TextSort[i]);
        grid->addWidget(label, row, 1);
        grid->addWidget(TextSort[i], row++, 2);
        sortControls_ << label << TextSort[i];
    }
    grid->setColumnStretch(2, 1);
    auto* frame = new QGroupBox(QStringLiteral("Desktop"));
    frame->setObjectName(QStringLiteral("Frame8"));
    SetTag(frame, 1481);
    frame->setLayout(grid);
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    layout->addStretch(1);
    return page;
}

void Options::CheckSortByKind_Click() {
    const bool on = CheckSortByKind->isChecked();
    for (QWidget* control : sortControls_) {
        control->setEnabled(on);
    }
}

void Options::showDesktopPage(const OptionsForm& f) {
    CheckNotifications->setChecked(f.notifications);
    CheckStayAwake->setChecked(f.stayAwake);
    CheckSortByKind->setChecked(f.sortByKind);
    for (std::size_t i = 0; i < TextSort.size(); ++i) {
        TextSort[i]->setText(f.sortLists.value(qsizetype(i)));
    }
    CheckSortByKind_Click();
}

void Options::readDesktopPage(OptionsForm& f) const {
    f.notifications = CheckNotifications->isChecked();
    f.stayAwake = CheckStayAwake->isChecked();
    f.sortByKind = CheckSortByKind->isChecked();
    for (const QLineEdit* edit : TextSort) {
        f.sortLists << edit->text();
    }
}
