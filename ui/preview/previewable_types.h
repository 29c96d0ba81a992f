#pragma once

#include <QString>

// How a file is shown in the preview panel, judged by its name alone.
enum class PreviewKind {
    None,     // not previewable: the preview stays as it was
    Picture,  // read as an image and drawn scaled in the video area
    Sound,    // played, with the sound picture in the video area
    Video,    // played in the video area (the other media types)
};

// The text after the last "." of `name`, upper-cased; empty when there is no ".".
QString PreviewExtension(const QString& name);

// The kind for an extension as PreviewExtension gives it.
PreviewKind PreviewKindOf(const QString& extension);
