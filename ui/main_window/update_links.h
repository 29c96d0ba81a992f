#pragma once

#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

#include "update/update_server.h"

class QLabel;
class UpdateCheck;
struct AddRequest;
struct EngineContext;
struct UpdateCheckResult;

// The main window's two links beside the "Current downloads" heading. "Auto update Brenloft"
// asks the update server until it answers, and offers a newer version as an update download;
// from the click on, its caption tells the check's state, and a check that failed says why
// there and asks again when clicked. "Visit Brenloft website" opens the server's page in the
// browser. Under the mouse a link lights up and the status line says what it does (`hint`).
class UpdateLinks : public QWidget {
    Q_OBJECT
public:
    // A question with Yes and No; true for Yes.
    using Ask = std::function<bool(const QString& text, const QString& title)>;
    // Adds a download as the window adds one, with its prompts.
    using Add = std::function<void(AddRequest& request)>;
    using OpenBrowser = std::function<void(const QString& url)>;

    UpdateLinks(EngineContext& context, Ask ask, Add add, OpenBrowser openBrowser,
                QWidget* parent = nullptr);
    ~UpdateLinks() override;

    void Label7_Click();
    void Label2_Click();
    // Both links back to rest, as the mouse over the window's background puts them.
    void rest();

    // The update server (ConfiguredUpdateServer() until set) and how long the check waits for
    // its whole answer; for the next check.
    void setUpdateServer(const UpdateServer& server) { updateServer_ = server; }
    void setUpdateTimeLimit(std::chrono::milliseconds limit) { updateTimeLimit_ = limit; }

signals:
    // What the link under the mouse does, for the status line.
    void hint(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateCheckFinished(const UpdateCheckResult& result);
    void updateCheckFailed(const QString& caption);

    EngineContext& ctx_;
    Ask ask_;
    Add add_;
    OpenBrowser openBrowser_;
    QLabel* Label7 = nullptr;  // "Auto update Brenloft"; its tag is "CONN" once asked
    QLabel* Label2 = nullptr;  // "Visit Brenloft website"
    UpdateServer updateServer_;
    std::chrono::milliseconds updateTimeLimit_{30000};
    std::unique_ptr<UpdateCheck> updateCheck_;
};
