#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <memory>

class MediaPreview;
class PictureView;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTabBar;
class TextTable;

// The media preview beside the finished downloads (Picture1): a "Preview" tab with the video
// area, play and stop buttons and the volume, and an "Infos" tab with the selected download's
// address, size and place. Captions come from the interface texts by their tags; the status
// line hints for the controls under the mouse leave through hint().
class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPanel(const TextTable& texts, QWidget* parent = nullptr);
    ~PreviewPanel() override;

    // Shows `media` as the file `realfile` names (see MediaPreview::LoadMedia).
    void LoadMedia(const QString& media, const QString& realfile = QString(), qint64 limit = -1);
    // Fills the "Infos" fields; `sizeText` comes whole ("1234 bytes"). The checksum line is
    // emptied: showChecksum fills it after.
    void showDetails(const QString& url, const QString& sizeText, const QString& savePath);
    // The "Infos" tab's checksum line ("SHA-256 matches SHA256SUMS"), in `color` when valid.
    void showChecksum(const QString& line, const QColor& color = QColor());
    // Selects the tab with this key ("Prev" or "Info"), as a click on it would.
    void selectTab(const QString& key);

    MediaPreview& media() { return *media_; }
    const MediaPreview& media() const { return *media_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // An interface text for the status line: the mouse is over one of the controls.
    void hint(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPanel();
    QWidget* buildPreviewPage();
    QWidget* buildDetailsPage();
    void watchForHint(QWidget* control, int textNumber);
    int panelWidth() const;
    void TabStrip1_Click(int index);

    const TextTable& texts_;
    std::unique_ptr<MediaPreview> media_;

    QTabBar* TabStrip1 = nullptr;
    QStackedWidget* pages_ = nullptr;  // the preview or Details, as the tab says
    QWidget* previewPage_ = nullptr;
    QStackedWidget* Picture3 = nullptr;
    PictureView* video_ = nullptr;  // the frames of a video
    PictureView* picture_ = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* Label6 = nullptr;
    QSlider* Slider1 = nullptr;
    QWidget* Details = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;  // the checksum's result
};
