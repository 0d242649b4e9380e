#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "Shared/QuibTransport.hpp"

namespace quib::bench {

// A phone that blocks on every step: it connects to 127.0.0.1 and shakes hands under `code`,
// then writes lines and reads them, with nothing between the benchmark and its socket.
struct BlockingPhone {
    BlockingPhone(std::uint16_t port, const std::string& code)
        : context(*QuibTransport::clientContext(QuibTransport::parameters(code, QuibTransport::Derivation::current()))),
          stream(io, *context) {
        stream.lowest_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        (void)QuibTransport::applyTcpOptions(stream.lowest_layer());
        stream.handshake(asio::ssl::stream_base::client);
    }
    void write(const std::string& bytes) { asio::write(stream, asio::buffer(bytes)); }
    std::string readLine() {
        asio::read_until(stream, input, '\n');
        std::string line;
        std::getline(std::istream(&input), line);
        return line;
    }

    asio::io_context io;
    std::shared_ptr<asio::ssl::context> context;
    QuibTransport::Stream stream;
    asio::streambuf input;
};

}  // namespace quib::bench
