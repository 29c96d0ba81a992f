#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

#include "engine/address_change/continuation_search.h"
#include "engine/queue/add_download.h"

class DownloadQueue;
struct EngineContext;

// Addresses on their way into the list (typed, handed over by a browser or a later start), one
// at a time and in the order they came: an address that serves the file of an unfinished
// download is offered as that download's new address ("Continue 'big.iso' (80 %) from this
// address?"); declined, or continuing nothing, it is added as before.
class ContinuationOffers : public QObject {
    Q_OBJECT
public:
    // The question, Yes or No; and the add as the caller adds.
    using Ask = std::function<bool(const QString& text)>;
    // `prompts` as given to Offer, or nullptr for the caller's own.
    using Add = std::function<void(AddRequest& request, AddPrompts* prompts)>;

    ContinuationOffers(EngineContext& context, DownloadQueue& queue, Ask ask, Add add,
                       QObject* parent = nullptr);

    // Added at once when nothing waits before it and no unfinished download may be continued
    // by it; otherwise once the addresses before it are done and its search has answered.
    void Offer(const AddRequest& request, AddPrompts* prompts = nullptr);
    // An address is being searched for, or waits behind one.
    bool busy() const { return current_.has_value(); }
    void setWait(std::chrono::milliseconds wait) { search_.setWait(wait); }

signals:
    // The last address waiting was taken.
    void settled();

private:
    void next();
    void found(int slot);
    void addCurrent();

    EngineContext& ctx_;
    DownloadQueue& queue_;
    Ask ask_;
    Add add_;
    ContinuationSearch search_;
    struct Waiting {
        AddRequest request;
        AddPrompts* prompts = nullptr;
    };
    std::deque<Waiting> waiting_;
    std::optional<Waiting> current_;
};
