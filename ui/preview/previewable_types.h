#pragma once

#include <QString>

// How a file is shown in the preview panel, judged by its name alone.
enum class PreviewKind {
    None,     // not previewable: the panel says so
    Picture,  // read as an image and drawn scaled in the video area
    Sound,    // played, with the sound picture in the video area
    Video,    // played in the video area
};

// The text after the last "." of `name`, upper-cased; empty when there is no ".".
QString PreviewExtension(const QString& name);

// The kind for an extension as PreviewExtension gives it. Pictures are the formats the
// installed image plugins read; sound and video are the types the shared MIME database calls
// audio or video, which the media player is left to open: Qt 6.4's GStreamer backend names
// only AVI and WAV among the formats it decodes although it plays far more, so the player's
// own attempt is the one answer that follows the installed plugins.
PreviewKind PreviewKindOf(const QString& extension);
