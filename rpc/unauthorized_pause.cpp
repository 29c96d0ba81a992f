#include "rpc/unauthorized_pause.h"

#include <QDeadlineTimer>

UnauthorizedPause::Ms UnauthorizedPause::refused(const QHostAddress& address, Ms now) {
    // An IPv4 client reached over a dual-stack socket is the same client as over IPv4.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QHostAddress key = mapped ? QHostAddress(v4) : address;
    if (!records_.contains(key) && records_.size() >= MaxAddresses) {
        dropStalest();
    }
    Record& record = records_[key];
    if (now - record.last > Forget) {
        record.count = 0;
    }
    record.last = now;
    record.count = qMin(record.count + 1, 30);
    Ms pause = first_;
    for (int i = 1; i < record.count && pause < cap_; ++i) {
        pause *= 2;
    }
    return qMin(pause, cap_);
}

void UnauthorizedPause::dropStalest() {
    auto stalest = records_.begin();
    for (auto it = records_.begin(); it != records_.end(); ++it) {
        if (it->last < stalest->last) {
            stalest = it;
        }
    }
    records_.erase(stalest);
}

UnauthorizedPause::Ms UnauthorizedPause::refused(const QHostAddress& address) {
    return refused(address, Ms(QDeadlineTimer::current().deadline()));
}
