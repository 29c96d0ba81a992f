#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>

#include "update/update_server_request.h"

struct EngineContext;
class SealedPackage;

// Installs an update package once its download is complete: fetches its signature
// ("<package address>.sig") from the same server, reads the package from where it was really
// saved into sealed memory, checks its signature against the maker's key and its own signed
// version against the program's, unpacks those same bytes into a cleared folder of its own, starts
// the updater beside the program with an argument list (no shell, not waited for), has the entry
// taken out of the list, saves the list and asks the program to quit -- from the event loop,
// never inside the join's handler.
//
// Nothing is unpacked unless the signature holds, and nothing is started unless everything
// before it worked. Any failure leaves the package where it was saved and the entry in the
// list, tells the user why, runs the end-of-list actions the join left to us, and the program
// keeps running.
class UpdateInstaller : public QObject {
    Q_OBJECT
public:
    struct Parts {
        QByteArray publicKey;    // PEM; BuiltInUpdateKey() in the program, a test's own in tests
        QString updaterProgram;  // "updater" beside the program
        QString unpackFolder;    // cleared and filled for each package
        QString program;         // the running program, which the updater starts again
        QString language;        // the language of the updater's messages
        qint64 pid = 0;          // this process, which the updater waits to end
        std::function<void(const QString& message)> tell;
        // Saves the list and ends the program; called from the event loop.
        std::function<void()> quit;
        // The package is handed to the updater: the list's owner takes its entry out.
        std::function<void(int slot)> installed;
        // Told once signature and version held, before anything is unpacked (tests change the
        // downloaded file here: it must not matter any more).
        std::function<void()> checked;
    };

    UpdateInstaller(EngineContext& ctx, Parts parts, QObject* parent = nullptr);

    // The signature's fetch may take this long at most.
    void setTimeLimit(std::chrono::milliseconds limit) { request_.setTimeLimit(limit); }

    // The engine's hook: the download in `slot` is complete at `packagePath`.
    void Install(int slot, const QString& packagePath);
    bool busy() const { return busy_; }

private:
    void verifyAndUnpack(int status, const QByteArray& signature);
    // Clears the unpack folder and unpacks `package` into it; empty on success.
    QString unpack(const SealedPackage& package);
    void startUpdater();
    // `reason` is the interface text that names the step, `detail` what went wrong.
    void fail(int reason, const QString& detail);
    bool entryStillOurs() const;

    EngineContext& ctx_;
    Parts parts_;
    UpdateServerRequest request_;
    bool busy_ = false;
    int slot_ = 0;
    QString url_;
    QString packagePath_;
};
