#pragma once

// What the list benchmarks share: a list as years of use leave it, and medians of timed runs.

#include <functional>
#include <vector>

#include "core/download_list/download_list.h"

// `count` entries as years of use leave them: half finished (their part files gone), half
// unfinished in the states a restart leaves (paused, failed, scheduled) with one to eight part
// files each, one entry in 64 removed, every seventh an FTP address with a login. None is queued: a
// queued entry would start a download, and with none the queue's tick scans the whole list for one.
DownloadListState BigList(int count);

double Median(std::vector<double> values);

// Median milliseconds of `runs` calls of `step`, each after an untimed `before`.
double Measure(int runs, const std::function<void()>& step,
               const std::function<void()>& before = {});
