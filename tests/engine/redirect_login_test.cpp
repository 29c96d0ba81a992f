#include "engine/http/redirect_login.h"

#include <gtest/gtest.h>

#include "core/download_list/records.h"
#include "core/urls/parse_url.h"

namespace {

constexpr std::int16_t Http = Protocol::Http;
constexpr std::int16_t Https = Protocol::Https;
constexpr std::int16_t Ftp = Protocol::Ftp;

TEST(RedirectLogin, FollowsOnlyToTheSameOriginAndNeverOffTls) {
    struct Case {
        std::int16_t from;
        const char* fromHost;
        std::int16_t to;
        const char* toHost;
        bool follows;
        std::int32_t fromPort = 0;  // 0: the scheme's default
        std::int32_t toPort = 0;
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
        {Http, "h.example", Http, "h.example", false, 80, 8080},
        {Http, "h.example", Https, "h.example", false, 8080, 8443},
        {Http, "h.example", Https, "h.example", false, 80, 8443},
        {Http, "h.example", Ftp, "h.example", false},  // as USER and PASS, readable
        {Ftp, "h.example", Ftp, "h.example", false, 21, 2121},
    };
    const auto origin = [](std::int16_t protocol, const char* host, std::int32_t port) {
        return UrlOrigin{protocol, QString::fromUtf8(host), port ? port : DefaultPort(protocol)};
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoginFollowsRedirect(origin(c.from, c.fromHost, c.fromPort),
                                       origin(c.to, c.toHost, c.toPort)),
                  c.follows)
            << c.from << ' ' << c.fromHost << ':' << c.fromPort << " -> " << c.to << ' ' << c.toHost
            << ':' << c.toPort;
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
