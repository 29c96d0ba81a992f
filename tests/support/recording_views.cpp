#include "tests/support/recording_views.h"

#include <gtest/gtest.h>

#include "engine/session/download_session.h"

SessionObserver* RecordingWindows::openView(int slot, DownloadSession& session) {
    EXPECT_EQ(open.count(slot), 0u) << "a second view for slot " << slot;
    EXPECT_EQ(session.RecordIndex, 0) << "the view comes before the record is attached";
    events << QStringLiteral("open %1").arg(slot);
    auto& view = open[slot];
    view = std::make_unique<RecordingObserver>();
    return view.get();
}

void RecordingWindows::showView(int slot) {
    EXPECT_EQ(open.count(slot), 1u) << "showing slot " << slot << " without a view";
    events << QStringLiteral("show %1").arg(slot);
}

void RecordingWindows::closeView(int slot) {
    const auto it = open.find(slot);
    ASSERT_NE(it, open.end()) << "closing slot " << slot << " without a view";
    events << QStringLiteral("close %1").arg(slot);
    closed.push_back(std::move(it->second));
    open.erase(it);
}

RecordingObserver* RecordingWindows::view(int slot) const {
    const auto it = open.find(slot);
    return it != open.end() ? it->second.get() : nullptr;
}

std::vector<int> RecordingWindows::slotsOf(const QString& kind) const {
    std::vector<int> found;
    for (const QString& e : events) {
        if (e.startsWith(kind + u' ')) {
            found.push_back(e.mid(kind.size() + 1).toInt());
        }
    }
    return found;
}
