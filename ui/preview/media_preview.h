#pragma once

#include <QMediaPlayer>
#include <QObject>
#include <QPointer>
#include <QString>

#include "ui/preview/previewable_types.h"

class PictureView;
class QStackedWidget;

// The pages of the video area that a preview switches between. The panel owns them.
struct PreviewSurfaces {
    QStackedWidget* area = nullptr;  // Picture3
    QWidget* blank = nullptr;        // nothing shown yet
    // Video frames are drawn here as pictures: the same on any display, with or without
    // OpenGL, and in a window that no native video surface covers.
    PictureView* video = nullptr;
    PictureView* picture = nullptr;
    QWidget* sound = nullptr;        // Image2
    QWidget* unavailable = nullptr;  // Label5
};

// Shows one file at a time in the video area: a picture directly, anything else through a
// media player that stops on its first frame until play() is asked. Only one player lives
// at a time; each new file releases the one before.
class MediaPreview : public QObject {
    Q_OBJECT
public:
    explicit MediaPreview(const PreviewSurfaces& surfaces, QObject* parent = nullptr);
    ~MediaPreview() override;

    // Shows `media`, judging its type by `realfile` (by `media` when that is empty), so the
    // first part file of a download in progress previews as the file it will become. A file
    // that is not there, of a type we do not preview, or that will not read or play shows
    // "Preview not available." in an otherwise empty area. With `limit` at 0 or more only the
    // first `limit` bytes of `media` are the file's (those of a download in progress up to its
    // first missing byte); at 0 there is no preview.
    void LoadMedia(const QString& media, const QString& realfile, qint64 limit = -1);

    // The buttons and the slider; none does anything without a player.
    void play();
    void stop();
    // `value` is the slider's 0..100. It is also kept for the players to come.
    void setVolumeSlider(int value);

    // What the video area shows now, and from which file.
    QString currentFile() const { return currentFile_; }
    PreviewKind kind() const { return kind_; }
    bool isPicture() const { return kind_ == PreviewKind::Picture; }
    bool isUnavailable() const { return unavailable_; }

    // The live player (null without one); a QPointer lets a caller see it go.
    QMediaPlayer* player() const { return player_; }
    QMediaPlayer::PlaybackState playbackState() const;

    // Slider position to linear volume: the slider covers 20 dB of attenuation.
    static float VolumeForSlider(int value);

signals:
    // A picture was drawn, or a player loaded its file and was told to hold its first frame.
    void shown();
    // A player holds a file's first frame (true): play and stop work; or it went (false).
    void playable(bool ready);

private:
    void releasePlayer();
    void showPicture(const QString& media, const QString& extension, qint64 limit);
    void showUnavailable(const QString& media);
    void startPlayer(const QString& media, const QString& realfile, PreviewKind kind, qint64 limit);
    void playerStatus(QMediaPlayer::MediaStatus status);
    void playerFailed();
    void showPage(QWidget* page, PreviewKind kind, const QString& file);

    PreviewSurfaces surfaces_;
    QPointer<QMediaPlayer> player_;
    PreviewKind pendingKind_ = PreviewKind::None;  // what the loading player will show
    QString pendingFile_;
    bool prerolled_ = false;
    float volume_ = 1.0F;
    QString currentFile_;
    PreviewKind kind_ = PreviewKind::None;
    bool unavailable_ = false;
};
