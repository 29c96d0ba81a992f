#include "ui/preview/media_preview.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QStackedWidget>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <algorithm>
#include <cmath>

#include "core/diagnostics/log_categories.h"
#include "ui/preview/bounded_file.h"
#include "ui/preview/picture_reading.h"
#include "ui/preview/picture_view.h"

MediaPreview::MediaPreview(const PreviewSurfaces& surfaces, QObject* parent)
    : QObject(parent), surfaces_(surfaces) {}

MediaPreview::~MediaPreview() {
    releasePlayer();
}

void MediaPreview::LoadMedia(const QString& media, const QString& realfile, qint64 limit) {
    const QString extension = PreviewExtension(realfile.isEmpty() ? media : realfile);
    // Whatever cannot be shown says so: another file's picture left on screen would pass for
    // this one's.
    const PreviewKind kind = PreviewKindOf(extension);
    if (!QFileInfo(media).isFile() || kind == PreviewKind::None || limit == 0) {
        qCDebug(lcUi) << "preview: no file or no preview for" << media;
        showUnavailable(media);
        return;
    }
    releasePlayer();
    if (kind == PreviewKind::Picture) {
        showPicture(media, extension, limit);
        return;
    }
    startPlayer(media, realfile, kind, limit);
}

void MediaPreview::showPicture(const QString& media, const QString& extension, qint64 limit) {
    const QImage image = ReadPreviewPicture(media, extension, limit);
    if (image.isNull()) {
        qCDebug(lcUi) << "preview: picture not read" << media;
        showUnavailable(media);
        return;
    }
    surfaces_.picture->setImage(image);
    unavailable_ = false;
    showPage(surfaces_.picture, PreviewKind::Picture, media);
    emit shown();
}

void MediaPreview::showUnavailable(const QString& media) {
    releasePlayer();
    unavailable_ = true;
    showPage(surfaces_.unavailable, PreviewKind::None, media);
}

void MediaPreview::startPlayer(const QString& media, const QString& realfile, PreviewKind kind,
                               qint64 limit) {
    auto* player = new QMediaPlayer(this);
    auto* output = new QAudioOutput(player);
    output->setVolume(volume_);
    player->setAudioOutput(output);
    // The sink goes with its player. A media object is made only here, when something is to
    // play: the first one starts the media framework (GStreamer, the sound server).
    auto* sink = new QVideoSink(player);
    connect(sink, &QVideoSink::videoFrameChanged, this, [this, player](const QVideoFrame& frame) {
        if (player == player_ && frame.isValid()) {
            surfaces_.video->setImage(frame.toImage());
        }
    });
    player->setVideoSink(sink);
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &MediaPreview::playerStatus);
    connect(player, &QMediaPlayer::errorOccurred, this, &MediaPreview::playerFailed);
    player_ = player;
    // Nothing of the file before stays on screen while this one loads.
    unavailable_ = false;
    showPage(surfaces_.blank, PreviewKind::None, media);
    pendingKind_ = kind;
    pendingFile_ = media;
    prerolled_ = false;
    if (limit < 0) {
        player->setSource(QUrl::fromLocalFile(QFileInfo(media).absoluteFilePath()));
        return;
    }
    // The player reads the file through a device that ends where the bytes in order end; the
    // real name only hints at the format. The device goes with its player.
    auto* device = new BoundedFile(media, limit, player);
    if (!device->open(QIODevice::ReadOnly)) {
        showUnavailable(media);
        return;
    }
    player->setSourceDevice(device, QUrl::fromLocalFile(realfile.isEmpty() ? media : realfile));
}

void MediaPreview::playerStatus(QMediaPlayer::MediaStatus status) {
    if (player_ == nullptr || sender() != player_) {
        return;
    }
    if (status == QMediaPlayer::InvalidMedia) {
        playerFailed();
        return;
    }
    if (status == QMediaPlayer::LoadedMedia && !prerolled_) {
        // Pausing a loaded player prerolls it: the first frame is drawn, nothing plays on.
        prerolled_ = true;
        unavailable_ = false;
        QWidget* page = pendingKind_ == PreviewKind::Sound ? surfaces_.sound : surfaces_.video;
        showPage(page, pendingKind_, pendingFile_);
        player_->pause();
        emit playable(true);
        emit shown();
    }
}

void MediaPreview::playerFailed() {
    if (player_ == nullptr || (sender() != nullptr && sender() != player_)) {
        return;
    }
    qCDebug(lcUi) << "preview: cannot play" << pendingFile_ << player_->errorString();
    // Called from the player's own signal: it may only go once that returns.
    QMediaPlayer* failed = player_;
    player_ = nullptr;
    failed->disconnect(this);
    failed->deleteLater();
    emit playable(false);
    // Once its first frame is shown the file is previewed: a player that fails later (no
    // sound device, say) only takes play and stop with it.
    if (!prerolled_) {
        unavailable_ = true;
        showPage(surfaces_.unavailable, PreviewKind::None, pendingFile_);
    }
}

void MediaPreview::releasePlayer() {
    QMediaPlayer* player = player_;
    player_ = nullptr;
    if (player == nullptr) {
        return;
    }
    player->disconnect(this);
    player->stop();
    delete player;  // its audio output with it
    emit playable(false);
}

void MediaPreview::showPage(QWidget* page, PreviewKind kind, const QString& file) {
    // A page left behind keeps no picture of an earlier file.
    if (page != surfaces_.picture) {
        surfaces_.picture->setImage({});
    }
    if (page != surfaces_.video) {
        surfaces_.video->setImage({});
    }
    surfaces_.area->setCurrentWidget(page);
    kind_ = kind;
    currentFile_ = file;
}

void MediaPreview::play() {
    if (player_ != nullptr) {
        player_->play();
    }
}

void MediaPreview::stop() {
    if (player_ != nullptr) {
        player_->stop();
    }
}

float MediaPreview::VolumeForSlider(int value) {
    const int slider = std::clamp(value, 0, 100);
    const double hundredthsOfDb = slider * 20 - 2000;  // 0 is full volume
    return static_cast<float>(std::pow(10.0, hundredthsOfDb / 100.0 / 20.0));
}

void MediaPreview::setVolumeSlider(int value) {
    volume_ = VolumeForSlider(value);
    if (player_ == nullptr) {
        return;
    }
    if (QAudioOutput* output = player_->audioOutput()) {
        output->setVolume(volume_);
    }
    player_->play();
}

QMediaPlayer::PlaybackState MediaPreview::playbackState() const {
    return player_ != nullptr ? player_->playbackState() : QMediaPlayer::StoppedState;
}
