// quib-phone: connects to a host like a phone, says hello, waits until this computer approves it,
// then sends what it was given and prints every line the host sends back, one per line on
// standard output.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/RegularFile.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/ClientMessage.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"
#include "Tools/quib-phone/LockoutLedger.hpp"

namespace {

using namespace std::chrono_literals;

// One thing to send once approved, in the order given.
struct Step {
    enum class Kind { line, text, key, upload } kind;
    std::string value;
};

struct Arguments {
    quib::PhoneClient::Options connection;
    std::string deviceID = "quib-phone";
    std::string deviceName = "quib-phone";
    std::optional<std::string> target;
    std::vector<Step> steps;
    double waitSeconds = 2;
};

constexpr const char* usage =
    "usage: quib-phone --host HOST --port PORT --code CODE [--device-id ID] [--name NAME]\n"
    "                  [--target TARGET-ID] [--text TEXT]... [--key CHORD]... [--upload FILE]...\n"
    "                  [--send JSON]... [--wait SECONDS]\n"
    "Connects like a phone and says hello. Until this computer approves the phone\n"
    "(quibctl approve ID) it waits, or ends when the host refuses it (or on Ctrl-C). Then it\n"
    "sends each --text, --key, --upload and --send in the order given, to TARGET-ID or else the\n"
    "active target, and prints every line the host sends until SECONDS (default 2) pass after the\n"
    "last or the host closes. A CHORD is a key with its modifiers: return, ctrl+c, shift+tab,\n"
    "alt+f, cmd+v. FILE is a PNG or JPEG image.\n";

std::optional<long> wholeNumber(std::string_view text) {
    long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> seconds(const std::string& text) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value >= 0) || value > 86400) return std::nullopt;
    return value;
}

std::optional<Step::Kind> stepKind(std::string_view option) {
    if (option == "--send") return Step::Kind::line;
    if (option == "--text") return Step::Kind::text;
    if (option == "--key") return Step::Kind::key;
    if (option == "--upload") return Step::Kind::upload;
    return std::nullopt;
}

// Reads one option and its value; false with a message on standard error when it is unusable.
bool take(Arguments& args, std::string_view option, const std::string& value) {
    if (const auto kind = stepKind(option)) args.steps.push_back({*kind, value});
    else if (option == "--host") args.connection.host = value;
    else if (option == "--code") args.connection.pairingCode = value;
    else if (option == "--device-id") args.deviceID = value;
    else if (option == "--name") args.deviceName = value;
    else if (option == "--target") args.target = value;
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

// "ctrl+shift+tab": the last word is the key, the others its modifiers.
std::optional<quib::KeyChord> chordOf(std::string_view text) {
    quib::KeyChord chord("");
    for (std::size_t plus; (plus = text.find('+')) != std::string_view::npos && plus + 1 < text.size();
         text.remove_prefix(plus + 1)) {
        const std::string_view word = text.substr(0, plus);
        if (word == "ctrl" || word == "control") chord.control = true;
        else if (word == "alt" || word == "option") chord.option = true;
        else if (word == "shift") chord.shift = true;
        else if (word == "cmd" || word == "command" || word == "super") chord.command = true;
        else return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    chord.key = std::string(text);
    return chord;
}

std::optional<quib::AttachmentFrame::Format> formatOf(const std::string& bytes) {
    if (bytes.starts_with("\x89PNG")) return quib::AttachmentFrame::Format::png;
    if (bytes.starts_with("\xFF\xD8\xFF")) return quib::AttachmentFrame::Format::jpeg;
    return std::nullopt;
}

// Every line the host sends until it closes, printed.
void printUntilClosed(quib::PhoneClient& channel) {
    while (auto line = channel.receiveLine(30s)) std::cout << *line << std::endl;
}

// An upload channel of its own: its hello, the host's go-ahead, the one image, the receipt.
quib::Result<void> upload(const Arguments& args, const std::string& file) {
    const auto bytes = quib::readRegularFile(file, 64 * 1024 * 1024);
    if (!bytes) return quib::fail("cannot read " + file);
    const auto format = formatOf(*bytes);
    if (!format) return quib::fail(file + " is neither a PNG nor a JPEG image");
    auto channel = quib::PhoneClient::connect(args.connection);
    if (!channel) return channel.error();
    quib::AttachmentManifest manifest;
    manifest.deviceName = args.deviceName;
    manifest.deviceID = args.deviceID;
    if (args.target) manifest.targetIDs = {*args.target};
    manifest.count = 1;
    if (auto sent = (*channel)->send(quib::ClientMessage{quib::ClientMessage::UploadHello{manifest}}); !sent)
        return sent;
    auto ready = (*channel)->receiveCase("uploadReady", 30s);
    if (!ready) {
        printUntilClosed(**channel);
        return quib::fail("the host did not take the upload (" + ready.error().message + ")");
    }
    // The size stated is the phone's word only; the host reads the image itself.
    const quib::AttachmentFrame header{0, *format, static_cast<std::int64_t>(bytes->size()), 1, 1};
    auto frame = quib::AttachmentFrameWriter::encode(header, quib::bytesOf(*bytes));
    if (!frame) return frame.error();
    if (auto sent = (*channel)->sendBytes(quib::textOf(*frame)); !sent) return sent;
    printUntilClosed(**channel);
    return {};
}

quib::Result<void> send(quib::PhoneClient& phone, const Arguments& args, const Step& step) {
    using quib::ClientMessage;
    switch (step.kind) {
        case Step::Kind::line: return phone.sendLine(step.value);
        case Step::Kind::text:
            return phone.send(
                ClientMessage{ClientMessage::Text{quib::TextPayload{step.value, args.target, std::nullopt}}});
        case Step::Kind::key: {
            const auto chord = chordOf(step.value);
            if (!chord) return quib::fail("--key " + step.value + " is no chord (ctrl+c, shift+tab, return)");
            return phone.send(ClientMessage{ClientMessage::Key{quib::KeyPayload{*chord, args.target}}});
        }
        case Step::Kind::upload: return upload(args, step.value);
    }
    return {};
}

// Prints the lines that are already waiting, without blocking.
void printWaiting(quib::PhoneClient& phone) {
    while (auto line = phone.receiveLine(0ms)) std::cout << *line << std::endl;
}

// A host message's case and payload.
std::pair<std::string, quib::Json> caseOf(const std::string& line) {
    const quib::Json message = quib::Json::parse(line, nullptr, false);
    if (!message.is_object() || message.size() != 1) return {};
    const auto& payload = message.begin().value();
    return {message.begin().key(), payload.is_object() && payload.contains("_0") ? payload["_0"] : payload};
}

bool approvedIn(const quib::Json& status) {
    return status.is_object() && status.value("deviceApproved", quib::Json(false)) == quib::Json(true);
}

// Until this computer approves the phone: true once it has, false (said why) once the host
// refused it or went away. Every line that comes meanwhile is printed.
bool awaitApproval(quib::PhoneClient& phone, const Arguments& args) {
    bool told = false;
    std::string lastError;
    for (;;) {
        auto line = phone.receiveLine(60s);
        if (!line && phone.isClosed()) {
            std::cerr << "quib-phone: refused: " << (lastError.empty() ? "the host closed the connection" : lastError)
                      << "\n";
            return false;
        }
        if (!line) continue;
        std::cout << *line << std::endl;
        const auto [name, payload] = caseOf(*line);
        if (name == "error" && payload.is_string()) lastError = payload.get<std::string>();
        const quib::Json status = name == "welcome" ? payload.value("status", quib::Json()) : payload;
        if ((name == "welcome" || name == "status") && approvedIn(status)) return true;
        if (name == "welcome" && !told) {
            std::cerr << "quib-phone: waiting for approval on this computer: quibctl approve " << args.deviceID
                      << " (Ctrl-C gives up)" << std::endl;
            told = true;
        }
    }
}

// Says why the connection did not come about, with the lock-out left as far as this tool knows.
void explain(const quib::Error& error, quib::PhoneClient::Refusal refusal, quib::LockoutLedger& ledger) {
    using Refusal = quib::PhoneClient::Refusal;
    std::cerr << "quib-phone: " << error.message;
    if (refusal == Refusal::pairingCode) {
        if (const auto lock = ledger.failed()) std::cerr << "; locked out for " << *lock << " s";
        std::cerr << " (quibctl code shows the host's)";
    } else if (refusal == Refusal::turnedAway) {
        if (const auto left = ledger.remaining()) std::cerr << "; locked out for " << *left << " s";
    }
    std::cerr << "\n";
}

void printFor(quib::PhoneClient& phone, double waitSeconds) {
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(waitSeconds));
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = phone.receiveLine(std::max(left, 0ms));
        if (line) {
            std::cout << *line << std::endl;
            continue;
        }
        if (phone.isClosed()) std::cerr << "quib-phone: the host closed the connection\n";
        return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i += 2) {  // the options, not their values
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::cout << usage;
            return 0;
        }
    }
    auto args = parse(argc, argv);
    if (!args) return 2;

    quib::LockoutLedger ledger(quib::LockoutLedger::defaultFolder(), args->connection.host, args->connection.port);
    quib::PhoneClient::Refusal refusal{};
    auto phone = quib::PhoneClient::connect(args->connection, &refusal);
    if (!phone) {
        explain(phone.error(), refusal, ledger);
        return 1;
    }
    ledger.succeeded();
    quib::PhoneClient& client = **phone;
    auto sent = client.sendHello(args->deviceID, args->deviceName);
    if (sent && !awaitApproval(client, *args)) return 1;
    for (std::size_t i = 0; sent && i < args->steps.size(); ++i) {
        printWaiting(client);
        sent = send(client, *args, args->steps[i]);
    }
    if (!sent) std::cerr << "quib-phone: " << sent.error().message << "\n";
    printFor(client, args->waitSeconds);
    client.close();
    return sent ? 0 : 1;
}
