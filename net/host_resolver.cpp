#include "net/host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>

#include <QMetaObject>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

// Where workers leave their answers. It outlives the resolver: a worker stuck with a slow name
// server must not keep the program from quitting, so nobody waits for it, and it finds the
// resolver gone when it finally answers.
struct HostResolver::Mailbox {
    std::mutex lock;
    HostResolver* owner = nullptr;  // null once the resolver is destroyed
};

bool LiteralAddress(const QString& host, bool ipv6, sockaddr_storage& address) {
    const QByteArray text = host.toLatin1();
    address = sockaddr_storage{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    if (::inet_aton(text.constData(), &v4.sin_addr) != 0) {
        v4.sin_family = AF_INET;
        return true;
    }
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (ipv6 && ::inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return true;
    }
    return false;
}

HostAddresses SystemLookup(const QString& name, int family) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    HostAddresses found;
    found.error = ::getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &list);
    if (found.error != 0) {
        return found;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        sockaddr_storage address{};
        std::memcpy(&address, a->ai_addr, std::min<std::size_t>(a->ai_addrlen, sizeof address));
        found.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    if (found.addresses.empty()) {
        found.error = EAI_NONAME;
    }
    return found;
}

bool MayBeHostName(const QString& name) {
    QByteArray bytes = name.toUtf8();
    if (bytes.endsWith('.')) {
        bytes.chop(1);  // the root: "example.com." is a full name
    }
    if (bytes.isEmpty() || bytes.size() > 253) {
        return false;
    }
    for (const QByteArray& label : bytes.split('.')) {
        if (label.size() > 63) {
            return false;
        }
    }
    return true;
}

QString AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    std::uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
        if (port != 0) {
            return QStringLiteral("[%1]:%2").arg(QLatin1String(text)).arg(port);
        }
    } else {
        return QStringLiteral("(family %1)").arg(address.ss_family);
    }
    return port != 0 ? QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(port)
                     : QString::fromLatin1(text);
}

sockaddr_storage WithPort(const sockaddr_storage& address, std::uint16_t port) {
    sockaddr_storage result = address;
    if (result.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in&>(result).sin_port = htons(port);
    } else if (result.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(result).sin6_port = htons(port);
    }
    return result;
}

HostResolver::HostResolver(QObject* parent)
    : QObject(parent), mailbox_(std::make_shared<Mailbox>()), lookup_(SystemLookup) {
    mailbox_->owner = this;
}

HostResolver::~HostResolver() {
    const std::lock_guard guard(mailbox_->lock);
    mailbox_->owner = nullptr;
}

void HostResolver::lookUp(const QString& name, int family, Answer answer) {
    ++waiting_;
    Question question{name, family};
    std::vector<Answer>& answers = running_[question];
    answers.push_back(std::move(answer));
    if (answers.size() > 1) {
        return;  // a worker is on it already
    }
    auto work = [mailbox = mailbox_, lookup = lookup_, question] {
        HostAddresses result = lookup(question.first, question.second);
        // Posting under the lock: the resolver cannot be destroyed between the check and the
        // post, and once it is, Qt drops what was posted to it.
        const std::lock_guard guard(mailbox->lock);
        if (HostResolver* owner = mailbox->owner) {
            QMetaObject::invokeMethod(
                owner,
                [owner, question, result = std::move(result)] { owner->deliver(question, result); },
                Qt::QueuedConnection);
        }
    };
    // Quit signals belong to the event loop's thread: workers start with every signal blocked.
    sigset_t all;
    sigset_t previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the name fails as an unanswered one would, from the event loop.
        QMetaObject::invokeMethod(
            this,
            [this, question] {
                deliver(question, HostAddresses{EAI_AGAIN, {}});
            },
            Qt::QueuedConnection);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void HostResolver::deliver(const Question& question, const HostAddresses& result) {
    const auto running = running_.find(question);
    Q_ASSERT(running != running_.end());
    // Taken out first: an answer may start the next look-up of the same name.
    const std::vector<Answer> answers = std::move(running->second);
    running_.erase(running);
    waiting_ -= static_cast<int>(answers.size());
    for (const Answer& answer : answers) {
        answer(result);
    }
}
