// What a remote-control client sends, whatever it holds: the HTTP request read from the wire in
// two pieces, then its body (or its query) answered as JSON-RPC, each request's parameters read
// as the methods read them. Every request ends in an answer, an error or a refusal: never a
// crash, never a request answered twice or not at all.
#include <cstddef>
#include <cstdint>

#include "rpc/http_request_reader.h"
#include "rpc/json_rpc_exchange.h"
#include "rpc/rpc_dispatch.h"
#include "rpc/rpc_params.h"

namespace {

// Reads the parameters in every way a method may, then answers.
class ReadingDispatch : public RpcDispatch {
public:
    void handle(const QJsonObject& request, Reply reply) override {
        const RpcParams params(request.value(QStringLiteral("params")).toArray());
        const auto tryRead = [](const auto& read) {
            try {
                read();
            } catch (const RpcFailure&) {
            }
        };
        tryRead([&] { params.text(0); });
        tryRead([&] { params.integer(1, 0); });
        tryRead([&] { params.texts(2); });
        tryRead([&] { params.object(1); });
        tryRead([&] { params.array(0); });
        reply(request.contains(QStringLiteral("id")) ? request : QJsonObject{});
    }
};

void Answer(QByteArrayView text, bool query) {
    ReadingDispatch dispatch;
    int answers = 0;
    const auto done = [&answers](const RpcExchange&) { ++answers; };
    query ? ExchangeQuery(text, dispatch, done) : ExchangeJson(text, dispatch, done);
    if (answers != 1) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    HttpRequestReader reader(64 * 1024);
    const qsizetype cut = size > 0 ? data[0] % (bytes.size() + 1) : 0;
    qsizetype used = reader.take(bytes.first(cut));
    while (used < bytes.size() && reader.state() != HttpRequestReader::State::Done &&
           reader.state() != HttpRequestReader::State::Failed) {
        const qsizetype more = reader.take(QByteArrayView(bytes).sliced(used));
        if (more == 0) {
            break;
        }
        used += more;
    }
    if (used > bytes.size()) {
        __builtin_trap();
    }
    if (reader.state() == HttpRequestReader::State::Done) {
        const HttpRequest request = reader.request();
        Answer(request.body, false);
        Answer(request.query(), true);
    }
    // The body alone, as a WebSocket message is.
    Answer(bytes, false);
    return 0;
}
