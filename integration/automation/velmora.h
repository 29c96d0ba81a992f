#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

// The entry point through which browsers and the launcher hand an address to the running
// program. It keeps no state: each accepted address goes to `add`, which adds it as one the
// user typed. Calls are served on the main thread between events, one at a time.
class Velmora : public QObject {
    Q_OBJECT
public:
    using AddUrl = std::function<void(const QString& url)>;

    static constexpr char ServiceName[] = "VelmoraProject.Velmora";
    static constexpr char ObjectPath[] = "/Velmora";

    explicit Velmora(AddUrl add, QObject* parent = nullptr);

    // Publishes the object and then claims the name, so no call can arrive before the object
    // is there to serve it. Returns why it failed, or an empty text.
    QString publish(QDBusConnection connection);

public slots:
    // From a context-menu entry: any address goes to the list, which reports what it cannot
    // use in the program's own window; the caller always hears success.
    void MenuURL(const QString& url, const QString& refURL, const QString& cookie);
    // Accepted and ignored.
    void LeechURL(const QString& url, const QString& refURL);
    // 1 when the address begins with "http://", "https://" or "ftp://" in any letter case (no
    // blanks before it) and went to the list; 0, with nothing added, otherwise.
    int IEURL(const QString& url);

private:
    AddUrl add_;
};
