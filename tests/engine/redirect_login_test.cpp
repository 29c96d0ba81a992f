#include "engine/http/redirect_login.h"

#include <gtest/gtest.h>

#include "core/download_list/records.h"

namespace {

constexpr std::int16_t Http = Protocol::Http;
constexpr std::int16_t Https = Protocol::Https;
constexpr std::int16_t Ftp = Protocol::Ftp;

TEST(RedirectLogin, FollowsOnlyToTheSameHostAndNeverOffTls) {
    struct Case {
        std::int16_t from;
        const char* fromHost;
        std::int16_t to;
        const char* toHost;
        bool follows;
    };
    const Case cases[] = {
        {Http, "h.example", Http, "h.example", true},
        {Http, "h.example", Http, "H.EXAMPLE", true},
        {Http, "h.example", Https, "h.example", true},  // to a secure address it may go
        {Https, "h.example", Https, "h.example", true},
        {Https, "h.example", Http, "h.example", false},  // the login would travel readable
        {Https, "h.example", Ftp, "h.example", false},
        {Https, "h.example", Http, "H.Example", false},
        {Http, "h.example", Http, "other.example", false},
        {Https, "h.example", Https, "other.example", false},
        {Http, "h.example", Https, "other.example", false},
        {Http, "127.0.0.1", Http, "localhost", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoginFollowsRedirect(c.from, QString::fromUtf8(c.fromHost), c.to,
                                       QString::fromUtf8(c.toHost)),
                  c.follows)
            << c.from << ' ' << c.fromHost << " -> " << c.to << ' ' << c.toHost;
    }
}

TEST(RedirectLogin, RememberedLoginsStayOffPlainAddressesAnHttpsOneSentUsTo) {
    struct Case {
        std::int16_t protocol;
        const char* referer;
        bool leftTls;
        bool allowed;
    };
    const Case cases[] = {
        {Http, "", false, true},
        {Http, "http://h/list.html", false, true},
        {Https, "", false, true},
        {Https, "https://h/old", false, true},
        {Https, "http://h/old", true, true},  // back on a secure address
        {Http, "", true, false},
        {Http, "https://h/old", false, false},
        {Http, "HTTPS://h/old", false, false},
        {Ftp, "https://h/old", false, false},
        {Http, "http://h/second-hop", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RememberedLoginAllowed(c.protocol, QString::fromUtf8(c.referer), c.leftTls),
                  c.allowed)
            << c.protocol << " referer " << c.referer << " left " << c.leftTls;
    }
}

}  // namespace
