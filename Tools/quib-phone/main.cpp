// quib-phone: connects to a host like a phone, says hello, sends the given lines and prints
// every line the host sends back, one per line on standard output.
//
//   quib-phone --host 127.0.0.1 --port 61413 --code ABC123 [--device-id ID] [--name NAME]
//              [--send JSON]... [--wait SECONDS]

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Tools/PhoneClient/PhoneClient.hpp"

namespace {

struct Arguments {
    quib::PhoneClient::Options connection;
    std::string deviceID = "quib-phone";
    std::string deviceName = "quib-phone";
    std::vector<std::string> lines;
    double waitSeconds = 2;
};

constexpr const char* usage =
    "usage: quib-phone --host HOST --port PORT --code CODE [--device-id ID] [--name NAME]\n"
    "                  [--send JSON]... [--wait SECONDS]\n"
    "Connects like a phone, sends hello and then each --send line, and prints every line the\n"
    "host sends until SECONDS (default 2) pass after the last send or the host closes.\n";

std::optional<long> wholeNumber(std::string_view text) {
    long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> seconds(const std::string& text) {
    try {
        std::size_t used = 0;
        double value = std::stod(text, &used);
        if (used != text.size() || !(value >= 0) || value > 86400) return std::nullopt;
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Reads one option and its value; false with a message on standard error when it is unusable.
bool take(Arguments& args, std::string_view option, const std::string& value) {
    if (option == "--host") args.connection.host = value;
    else if (option == "--code") args.connection.pairingCode = value;
    else if (option == "--device-id") args.deviceID = value;
    else if (option == "--name") args.deviceName = value;
    else if (option == "--send") args.lines.push_back(value);
    else if (option == "--port") {
        auto port = wholeNumber(value);
        if (!port || *port < 1 || *port > 65535) {
            std::cerr << "quib-phone: --port must be a number from 1 to 65535\n";
            return false;
        }
        args.connection.port = static_cast<std::uint16_t>(*port);
    } else if (option == "--wait") {
        auto wait = seconds(value);
        if (!wait) {
            std::cerr << "quib-phone: --wait must be a number of seconds from 0 to 86400\n";
            return false;
        }
        args.waitSeconds = *wait;
    } else {
        std::cerr << "quib-phone: unknown option " << option << "\n" << usage;
        return false;
    }
    return true;
}

std::optional<Arguments> parse(int argc, char** argv) {
    Arguments args;
    bool sawPort = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << usage;
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            std::cerr << "quib-phone: " << option << " needs a value\n" << usage;
            return std::nullopt;
        }
        if (!take(args, option, argv[++i])) return std::nullopt;
        sawPort = sawPort || option == "--port";
    }
    if (!sawPort || args.connection.pairingCode.empty()) {
        std::cerr << "quib-phone: --port and --code are required\n" << usage;
        return std::nullopt;
    }
    return args;
}

// Prints the lines that are already waiting, without blocking.
void printWaiting(quib::PhoneClient& phone) {
    while (auto line = phone.receiveLine(std::chrono::milliseconds(0))) std::cout << *line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    auto args = parse(argc, argv);
    if (!args) return argc > 1 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h") ? 0 : 2;

    auto phone = quib::PhoneClient::connect(args->connection);
    if (!phone) {
        std::cerr << "quib-phone: " << phone.error().message << "\n";
        return 1;
    }
    quib::PhoneClient& client = **phone;
    auto sent = client.sendHello(args->deviceID, args->deviceName);
    for (std::size_t i = 0; sent && i < args->lines.size(); ++i) {
        printWaiting(client);
        sent = client.sendLine(args->lines[i]);
    }
    if (!sent) std::cerr << "quib-phone: " << sent.error().message << "\n";

    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(args->waitSeconds));
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = client.receiveLine(std::max(left, std::chrono::milliseconds(0)));
        if (line) {
            std::cout << *line << std::endl;
            continue;
        }
        if (client.isClosed()) std::cerr << "quib-phone: the host closed the connection\n";
        break;
    }
    client.close();
    return sent ? 0 : 1;
}
