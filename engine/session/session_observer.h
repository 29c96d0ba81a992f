#pragma once

#include <QString>

// What a download session shows: the download window implements it with real labels and
// rows, the command-line front end draws a progress line, tests record it. Every method has a
// default that does nothing, so a session runs the same with or without a window.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void fileLabelChanged(const QString& /*text*/) {}
    virtual void stateLabelChanged(const QString& /*text*/) {}
    // Progress figures of the record changed (at most every 200 ms while data flows).
    virtual void progressChanged() {}
    // The segment plan was laid out, or a range split off into a segment of its own: `count`
    // connection rows are in use.
    virtual void segmentsPlanned(int /*count*/) {}
    // One connection row (1-based), or all rows when 0.
    virtual void segmentRowsChanged(int /*row*/) {}
    virtual void pauseButtonChanged(bool /*enabled*/, const QString& /*caption*/) {}
    // A ".zip" download offers its remote preview on the start button.
    virtual void zipPreviewOffered(const QString& /*caption*/) {}
    // The probe found a ZIP archive the user wants to see before fetching it. True when a
    // preview now holds the download: it waits, without segments, until the preview calls
    // ContinueAfterPreview or pauses it. False (no window to show it in) goes straight on.
    virtual bool zipPreviewWanted() { return false; }
    // The file was built; the buttons now open the file and its folder.
    virtual void downloadFinished(const QString& /*openCaption*/,
                                  const QString& /*folderCaption*/) {}
    // The entry's line in the main list needs redrawing.
    virtual void entryChanged(int /*slot*/) {}
    // The session is over (failed, declined, cancelled, removed) and its window closes; the
    // owner drops it from its table. `why` is empty for a plain close.
    virtual void sessionClosed(const QString& /*why*/) {}
};
