#include "ui/preview/preview_panel.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFormLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <algorithm>

#include "core/text/text_table.h"
#include "ui/language/apply_language.h"
#include "ui/language/plain_text.h"
#include "ui/preview/media_preview.h"
#include "ui/preview/picture_view.h"

namespace {

// The interface text a control's hint shows, kept on the control itself.
constexpr char HintProperty[] = "hintText";

// The panel's width at the usual font, in logical pixels (they double at 200 %).
constexpr int UsualWidth = 220;

QLabel* Caption(QWidget* parent, const char* name, const char* text, int tag) {
    auto* label = new QLabel(QLatin1String(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    if (tag != 0) {
        SetTag(label, tag);
    }
    return label;
}

// A media button: the desktop theme's icon when it has one, the style's otherwise; the old
// caption stays as its accessible name so screen readers and tests still find it.
QPushButton* MediaButton(QWidget* parent, const char* name, const char* caption,
                         const char* themeIcon, QStyle::StandardPixmap fallback) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(
        QIcon::fromTheme(QLatin1String(themeIcon), parent->style()->standardIcon(fallback)));
    button->setAccessibleName(QLatin1String(caption));
    return button;
}

QLineEdit* Field(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setReadOnly(true);
    return field;
}

}  // namespace

PreviewPanel::PreviewPanel(const TextTable& texts, QWidget* parent)
    : QWidget(parent), texts_(texts) {
    setObjectName(QStringLiteral("Picture1"));
    buildPanel();
    PreviewSurfaces surfaces;
    surfaces.area = Picture3;
    surfaces.blank = Picture3->widget(0);
    surfaces.video = video_;
    surfaces.picture = picture_;
    surfaces.sound = Image2;
    surfaces.unavailable = Label5;
    media_ = std::make_unique<MediaPreview>(surfaces);
    // The buttons look usable only while a player holds a file.
    for (QPushButton* button : {Command2, Command3}) {
        button->setEnabled(false);
        connect(media_.get(), &MediaPreview::playable, button, &QWidget::setEnabled);
    }
    connect(Command2, &QPushButton::clicked, this, [this] { media_->play(); });
    connect(Command3, &QPushButton::clicked, this, [this] { media_->stop(); });
    connect(Slider1, &QSlider::valueChanged, this, [this](int v) { media_->setVolumeSlider(v); });
    connect(TabStrip1, &QTabBar::currentChanged, this, &PreviewPanel::TabStrip1_Click);
    ApplyLanguage(this, texts_);
}

// The player goes before the picture it draws into.
PreviewPanel::~PreviewPanel() {
    media_.reset();
}

void PreviewPanel::buildPanel() {
    TabStrip1 = new QTabBar(this);
    TabStrip1->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1->setExpanding(false);
    TabStrip1->setDrawBase(false);
    TabStrip1->addTab(QStringLiteral("Preview"));
    TabStrip1->setTabData(0, QStringLiteral("Prev"));
    TabStrip1->addTab(QStringLiteral("Infos"));
    TabStrip1->setTabData(1, QStringLiteral("Info"));
    SetTabTags(TabStrip1, {250, 251});

    pages_ = new QStackedWidget(this);
    pages_->setObjectName(QStringLiteral("pages"));
    previewPage_ = buildPreviewPage();
    Details = buildDetailsPage();
    pages_->addWidget(previewPage_);
    pages_->addWidget(Details);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TabStrip1);
    layout->addWidget(pages_, 1);
}

QWidget* PreviewPanel::buildPreviewPage() {
    auto* page = new QWidget(this);
    Picture3 = new QStackedWidget(page);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->setFrameShape(QFrame::StyledPanel);
    Picture3->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* blank = new QWidget(Picture3);
    blank->setObjectName(QStringLiteral("blank"));
    video_ = new PictureView(Picture3);
    video_->setObjectName(QStringLiteral("video"));
    picture_ = new PictureView(Picture3);
    picture_->setObjectName(QStringLiteral("picture"));

    Image2 = new QLabel(Picture3);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setAlignment(Qt::AlignCenter);
    const QIcon sound = QIcon::fromTheme(QStringLiteral("audio-x-generic"),
                                         style()->standardIcon(QStyle::SP_MediaVolume));
    const int side = 3 * fontMetrics().height();
    Image2->setPixmap(sound.pixmap(QSize(side, side), devicePixelRatioF()));

    Label5 = Caption(Picture3, "Label5", "Preview not available.", 277);
    Label5->setAlignment(Qt::AlignCenter);
    Label5->setWordWrap(true);

    for (QWidget* surface : {blank, static_cast<QWidget*>(video_), static_cast<QWidget*>(picture_),
                             static_cast<QWidget*>(Image2), static_cast<QWidget*>(Label5)}) {
        Picture3->addWidget(surface);
        watchForHint(surface, 677);
    }
    watchForHint(Picture3, 677);
    Picture3->setCurrentWidget(blank);

    Command2 = MediaButton(page, "Command2", ">", "media-playback-start", QStyle::SP_MediaPlay);
    Command3 = MediaButton(page, "Command3", "|||||", "media-playback-stop", QStyle::SP_MediaStop);
    Label6 = Caption(page, "Label6", "Vol :", 240);
    Slider1 = new QSlider(Qt::Horizontal, page);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setRange(0, 100);
    Slider1->setValue(100);
    watchForHint(Command2, 681);
    watchForHint(Command3, 680);
    watchForHint(Slider1, 688);

    auto* controls = new QHBoxLayout;
    controls->addWidget(Command2);
    controls->addWidget(Command3);
    controls->addSpacing(fontMetrics().averageCharWidth());
    controls->addWidget(Label6);
    controls->addWidget(Slider1, 1);

    auto* layout = new QVBoxLayout(page);
    const int margin = fontMetrics().height() / 3;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(Picture3, 1);
    layout->addLayout(controls);
    return page;
}

QWidget* PreviewPanel::buildDetailsPage() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("Details"));
    Text1 = Field(page, "Text1");
    Text2 = Field(page, "Text2");
    Text3 = Field(page, "Text3");
    Text4 = Field(page, "Text4");
    // The panel is narrow: each caption stands above its field.
    auto* form = new QFormLayout(page);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    form->addRow(Caption(page, "Text1Caption", "Original URL :", 660), Text1);
    form->addRow(Caption(page, "Text2Caption", "Size :", 661), Text2);
    form->addRow(Caption(page, "Text3Caption", "Download place :", 662), Text3);
    form->addRow(Caption(page, "Text4Caption", "Checksum:", 1364), Text4);
    return page;
}

void PreviewPanel::watchForHint(QWidget* control, int textNumber) {
    control->setProperty(HintProperty, textNumber);
    control->setMouseTracking(true);
    control->installEventFilter(this);
}

bool PreviewPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove) {
        const int number = watched->property(HintProperty).toInt();
        if (number != 0) {
            emit hint(texts_.text(number));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PreviewPanel::LoadMedia(const QString& media, const QString& realfile, qint64 limit) {
    media_->LoadMedia(media, realfile, limit);
}

void PreviewPanel::showDetails(const QString& url, const QString& sizeText,
                               const QString& savePath) {
    Text1->setText(url);
    Text2->setText(sizeText);
    Text3->setText(savePath);
    // Long paths and addresses are read from their beginning.
    for (QLineEdit* field : {Text1, Text2, Text3}) {
        field->setCursorPosition(0);
    }
    showChecksum({});
}

void PreviewPanel::showChecksum(const QString& line, const QColor& color) {
    Text4->setText(line);
    Text4->setCursorPosition(0);
    // Two digests do not fit the narrow field: the tooltip holds the line whole.
    Text4->setToolTip(line.isEmpty() ? QString() : PlainToolTip(line));
    QPalette palette = Text4->parentWidget()->palette();
    if (color.isValid()) {
        palette.setColor(QPalette::Text, color);
    }
    Text4->setPalette(palette);
}

void PreviewPanel::selectTab(const QString& key) {
    for (int i = 0; i < TabStrip1->count(); ++i) {
        if (TabStrip1->tabData(i).toString() == key) {
            TabStrip1->setCurrentIndex(i);
            return;
        }
    }
}

void PreviewPanel::TabStrip1_Click(int index) {
    if (TabStrip1->tabData(index).toString() == QLatin1String("Prev")) {
        pages_->setCurrentWidget(previewPage_);
        return;
    }
    // Nobody hears a sound behind the details.
    media_->stop();
    pages_->setCurrentWidget(Details);
}

int PreviewPanel::panelWidth() const {
    // A larger font widens the panel so its controls keep their room.
    return std::max(UsualWidth, 32 * fontMetrics().averageCharWidth());
}

QSize PreviewPanel::sizeHint() const {
    return {panelWidth(), QWidget::sizeHint().height()};
}

QSize PreviewPanel::minimumSizeHint() const {
    return {panelWidth(), QWidget::minimumSizeHint().height()};
}
