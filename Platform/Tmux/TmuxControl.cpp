#include "Platform/Tmux/TmuxControl.hpp"

#include <array>

namespace quib {
namespace {

// The words of a guard line: "%begin", "%end" or "%error", a time, the command's number, and
// flags (1 for a command the client sent, 0 for the one it was started with).
struct Guard {
    std::string_view kind;
    std::string_view time;
    std::string_view number;
    bool fromClient = false;
};

std::optional<Guard> guardOf(std::string_view line) {
    if (!line.starts_with('%')) return std::nullopt;
    std::array<std::string_view, 4> words;
    for (auto& word : words) {
        const auto space = line.find(' ');
        word = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    }
    if (!line.empty() || words[3].empty()) return std::nullopt;
    if (words[0] != "%begin" && words[0] != "%end" && words[0] != "%error") return std::nullopt;
    return Guard{words[0], words[1], words[2], words[3] == "1"};
}

void appendHex(std::string& out, unsigned char byte) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    out += "\\u00";
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
}

void appendOctal(std::string& out, unsigned char byte) {
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

}  // namespace

TmuxControl::TmuxControl(Tmux tmux, std::size_t replyLimit) : tmux_(std::move(tmux)), replyLimit_(replyLimit) {}

TmuxControl::~TmuxControl() = default;

std::vector<std::string> TmuxControl::clientArguments() {
    return {"-C", "attach-session", "-f", "no-output,ignore-size"};
}

std::string TmuxControl::quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
            case '"':
            case '$':
            case '~': out += '\\', out += c; continue;
            case '\n': out += "\\n"; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            default: break;
        }
        if (byte < 0x20 || byte == 0x7F) appendHex(out, byte);
        else if (byte >= 0x80) appendOctal(out, byte);
        else out += c;
    }
    out += '"';
    return out;
}

std::optional<std::string> TmuxControl::commandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const auto& argument : arguments) {
        if (argument.find('\0') != std::string::npos) return std::nullopt;
        if (!line.empty()) line += ' ';
        line += quoted(argument);
    }
    return line;
}

void TmuxControl::discard() {
    MutexLock lock(mutex_);
    client_.reset();
}

std::size_t TmuxControl::starts() const {
    MutexLock lock(mutex_);
    return starts_;
}

bool TmuxControl::connect() {
    if (client_) return true;
    const auto tmux = tmux_.executableURL();
    if (!tmux) return false;
    auto started = Coprocess::start(*tmux, clientArguments());
    if (auto* client = std::get_if<std::unique_ptr<Coprocess>>(&started)) client_ = std::move(*client);
    if (client_) ++starts_;
    return client_ != nullptr;
}

std::optional<std::string> TmuxControl::listLine(const std::vector<std::vector<std::string>>& commands) {
    std::string line;
    for (const auto& arguments : commands) {
        auto command = commandLine(arguments);
        if (!command) return std::nullopt;
        if (!line.empty()) line += " ; ";
        line += *command;
    }
    return line;
}

TmuxControl::Reply TmuxControl::run(const std::vector<std::string>& arguments) { return runList({arguments}).back(); }

// A list that found no client, or could not be written whole, never ran: the client is dropped
// (a part of a line may have reached it) and started afresh next time.
std::vector<TmuxControl::Reply> TmuxControl::runList(const std::vector<std::vector<std::string>>& commands) {
    auto line = listLine(commands);
    if (commands.empty() || !line || line->size() > lineLimit) return {Reply{}};
    MutexLock lock(mutex_);
    if (!connect()) return {Reply{}};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    *line += '\n';
    if (!client_->write(*line, deadline)) {
        client_.reset();
        return {Reply{}};
    }
    return awaitReplies(commands.size(), deadline);
}

// Each command of the list answers with a block of its own; after one that failed, no more come.
std::vector<TmuxControl::Reply> TmuxControl::awaitReplies(std::size_t count, Coprocess::Deadline deadline) {
    std::vector<Reply> replies;
    while (replies.size() < count) {
        replies.push_back(awaitReply(deadline, !replies.empty()));
        const Reply& reply = replies.back();
        if (reply.state != Reply::State::answered || !reply.ok) break;
    }
    return replies;
}

// A client that ends before the block begins has not run the command (it could not attach, or
// its session or server went away); one that is silent past the deadline, or says more than an
// answer may hold, is dropped, and whether the command ran is not known.
TmuxControl::Reply TmuxControl::awaitReply(Coprocess::Deadline deadline, bool listBegun) {
    BlockReader reader(replyLimit_);
    std::string line;
    while (true) {
        const auto read = client_->readLine(line, deadline, replyLimit_);
        const auto step = read == Coprocess::Read::line ? reader.take(line) : BlockReader::Step::tooLarge;
        if (step == BlockReader::Step::answered) return std::move(reader).reply();
        if (step == BlockReader::Step::more) continue;
        client_.reset();
        const bool lost = read != Coprocess::Read::ended || reader.begun() || listBegun;
        return {lost ? Reply::State::unknown : Reply::State::notRun, false, {}};
    }
}

// The block's own guards carry the time and number of its beginning; the lines between are
// joined as they came, empty ones included.
TmuxControl::BlockReader::Step TmuxControl::BlockReader::take(std::string_view line) {
    const auto guard = guardOf(line);
    if (!opening_) {
        if (guard && guard->kind == "%begin" && guard->fromClient) {
            opening_ = Opening{std::string(guard->time), std::string(guard->number)};
        }
        return Step::more;
    }
    if (guard && guard->kind != "%begin" && guard->fromClient && guard->time == opening_->time &&
        guard->number == opening_->number) {
        reply_.state = Reply::State::answered;
        reply_.ok = guard->kind == "%end";
        return Step::answered;
    }
    const std::size_t separator = reply_.lines > 0 ? 1 : 0;
    if (reply_.output.size() + separator + line.size() > limit_) return Step::tooLarge;
    if (separator) reply_.output += '\n';
    reply_.output += line;
    ++reply_.lines;
    return Step::more;
}

}  // namespace quib
