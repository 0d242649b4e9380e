// Pre-shared-key TLS handshakes per second on loopback: TCP connect, TLS 1.3 handshake with
// the key derived from a pairing code, close. The listener runs on its own thread.
#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

#include <asio/io_context.hpp>

#include "Runtime/Clock.hpp"
#include "Shared/QuibTransport.hpp"

using quib::QuibTransport;
using tcp = asio::ip::tcp;

namespace {

class Listener {
public:
    explicit Listener(std::shared_ptr<asio::ssl::context> context)
        : context_(std::move(context)), acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~Listener() {
        io_.stop();
        thread_.join();
    }
    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }

private:
    void accept() {
        acceptor_.async_accept([this](std::error_code error, tcp::socket socket) {
            if (error) return;
            (void)QuibTransport::applyTcpOptions(socket);
            auto stream = std::make_shared<QuibTransport::Stream>(std::move(socket), *context_);
            stream->async_handshake(asio::ssl::stream_base::server, [stream](std::error_code) {});
            accept();
        });
    }

    std::shared_ptr<asio::ssl::context> context_;
    asio::io_context io_;
    tcp::acceptor acceptor_;
    std::thread thread_;
};

void BM_PskHandshake(benchmark::State& state) {
    const auto parameters = QuibTransport::parameters("K7PQ2M", QuibTransport::Derivation::current());
    Listener listener(*QuibTransport::serverContext(parameters));
    auto client = *QuibTransport::clientContext(parameters);
    asio::io_context io;
    auto& clock = *quib::SystemClock::shared();
    std::int64_t failures = 0;

    for (auto _ : state) {
        QuibTransport::Stream stream(io, *client);
        QuibTransport::connect(stream, listener.endpoint(), clock,
                               [&](std::error_code error) { failures += error ? 1 : 0; });
        io.restart();
        io.run();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["failures"] = static_cast<double>(failures);
}

}  // namespace

BENCHMARK(BM_PskHandshake)->UseRealTime()->MinTime(2.0);
