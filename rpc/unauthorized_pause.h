#pragma once

#include <QHash>
#include <QHostAddress>
#include <chrono>

// How long to hold back an answer that refused the secret: the pause doubles with each refusal
// to the same address, up to a cap, so that guessing runs at a few tries a minute while the
// other clients are answered at once. An address that stays quiet for a while starts afresh.
class UnauthorizedPause {
public:
    using Ms = std::chrono::milliseconds;
    UnauthorizedPause(Ms first = Ms(1000), Ms cap = Ms(16000)) : first_(first), cap_(cap) {}

    // Records a refusal for `address` at `now` (a monotonic clock) and returns its pause.
    Ms refused(const QHostAddress& address, Ms now);
    // The same, now.
    Ms refused(const QHostAddress& address);

private:
    struct Record {
        int count = 0;
        Ms last{0};
    };
    static constexpr Ms Forget = std::chrono::minutes(10);
    static constexpr qsizetype MaxAddresses = 1024;

    void dropStalest();

    Ms first_;
    Ms cap_;
    QHash<QHostAddress, Record> records_;
};
