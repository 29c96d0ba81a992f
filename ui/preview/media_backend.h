#pragma once

// Qt 6.4's ffmpeg media backend crashes on the files a preview meets; the GStreamer one does
// not. Sets QT_MEDIA_BACKEND=gstreamer unless the environment already names a backend (a user
// may know better). Must run before the QApplication is built, since Qt reads it once.
void UseGStreamerMedia();
