#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "engine/address_change/same_file_check.h"

struct DownloadListState;
struct Settings;
class VelmoraSockets;

// Finds the unfinished download a newly added address continues, if any: it checks the
// address against each candidate (ContinuationCandidates) in turn, the name required to match,
// and reports the first that serves the same file. Nothing in the list changes here: the
// caller asks the user (the desktop program) or changes the address (brenloft-get).
class ContinuationSearch : public QObject {
    Q_OBJECT
public:
    ContinuationSearch(DownloadListState& list, VelmoraSockets& sockets, const Settings& settings,
                       QObject* parent = nullptr);

    // Reports `found` or `none` once, from the event loop (also when there is no candidate).
    void Start(const QString& newUrl, const QString& referer = {}, const QString& cookie = {});
    void Abort();
    void setWait(std::chrono::milliseconds wait) { check_.setWait(wait); }

signals:
    void found(int slot, const SameFileVerdict& verdict);
    // No candidate serves the same file; `refusals` says why for each checked, in English.
    void none(const QStringList& refusals);

private:
    void next();

    DownloadListState& list_;
    SameFileCheck check_;
    QString url_;
    QString cookie_;
    std::vector<int> candidates_;
    std::size_t at_ = 0;
    QStringList refusals_;
    std::uint64_t generation_ = 0;  // a start's report, dropped once another start came
};
