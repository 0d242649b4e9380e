#include "QuibHost/Streaming/PaneMirror.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iterator>

#include "Runtime/SecureRandom.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/UptimeClock.hpp"

namespace quib {
namespace {

// A keyed hash (SipHash-2-4) whose key is drawn once per process: equal pictures give equal
// digests within one run, and nobody can make two different pictures look alike on purpose.
// Digests are never stored or sent.
class PictureHash {
public:
    static PictureHash& shared() {
        static PictureHash hash;
        return hash;
    }

    std::uint64_t operator()(std::string_view text, const std::vector<std::int64_t>* numbers) const {
        std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)> context(EVP_MAC_CTX_new(mac_), EVP_MAC_CTX_free);
        size_t size = sizeof(std::uint64_t);
        const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &size), OSSL_PARAM_END};
        unsigned char digest[sizeof(std::uint64_t)] = {};
        size_t written = 0;
        bool ok = context && EVP_MAC_init(context.get(), key_.data(), key_.size(), parameters) == 1 &&
                  EVP_MAC_update(context.get(), reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 1;
        if (ok && numbers) {
            const std::uint64_t count = numbers->size();
            ok = EVP_MAC_update(context.get(), reinterpret_cast<const unsigned char*>(&count), sizeof count) == 1 &&
                 EVP_MAC_update(context.get(), reinterpret_cast<const unsigned char*>(numbers->data()),
                                numbers->size() * sizeof(std::int64_t)) == 1;
        }
        if (!ok || EVP_MAC_final(context.get(), digest, &written, sizeof digest) != 1) std::abort();
        std::uint64_t value = 0;
        for (unsigned char byte : digest) value = value << 8 | byte;
        return value;
    }

private:
    PictureHash() : mac_(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_SIPHASH, nullptr)), key_(secureRandomBytes(16)) {
        if (!mac_) std::abort();  // part of every OpenSSL 3 default provider
    }

    EVP_MAC* mac_;  // kept for the life of the process
    Bytes key_;
};

std::optional<std::int64_t> decimal(std::string_view piece) {
    if (piece.starts_with('+')) piece.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc() || end != piece.data() + piece.size() || piece.empty()) return std::nullopt;
    return value;
}

}  // namespace

std::shared_ptr<PaneMirror> PaneMirror::create(Config config) {
    return std::make_shared<PaneMirror>(Passkey{}, std::move(config));
}

PaneMirror::PaneMirror(Passkey, Config config)
    : onFrame_(std::move(config.onFrame)),
      tmux_(std::move(config.tmux)),
      control_(std::move(config.control)),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      instrumentation_(config.instrumentation ? *config.instrumentation : Instrumentation::shared()),
      queue_(std::string(queueLabel), clock_) {}

// What the queue still holds finds the generation moved on, and does nothing.
PaneMirror::~PaneMirror() {
    MutexLock lock(handOverLock_);
    ++generation_;
}

std::vector<std::vector<std::string>> PaneMirror::commands(const std::string& pane) {
    return {{"display-message", "-p", "-t", pane, "-F", "#{pane_width} #{pane_height}"},
            {"capture-pane", "-p", "-e", "-t", pane}};
}

std::vector<std::string> PaneMirror::arguments(const std::string& pane) {
    auto pair = commands(pane);
    std::vector<std::string> joined = std::move(pair[0]);
    joined.push_back(";");
    joined.insert(joined.end(), pair[1].begin(), pair[1].end());
    return joined;
}

// tmux prints each row of the contents on a line of its own; a run ends the last one with a line
// feed, as a control client does each line. The size and the rows come from one list, which
// tmux runs without a change of the pane between its commands.
std::optional<std::string> PaneMirror::printed(const std::vector<TmuxControl::Reply>& replies) {
    using State = TmuxControl::Reply::State;
    if (replies.size() != 2) return std::nullopt;
    for (const auto& reply : replies)
        if (reply.state != State::answered || !reply.ok) return std::nullopt;
    const auto& size = replies[0];
    const auto& contents = replies[1];
    if (size.lines != 1) return std::nullopt;
    const auto rows = parse(size.output).rows;
    if (!rows || *rows < 0 || static_cast<std::uint64_t>(*rows) != contents.lines) return std::nullopt;
    std::string output;
    output.reserve(size.output.size() + contents.output.size() + 2);
    output.append(size.output).append(1, '\n').append(contents.output).append(1, '\n');
    if (!unicode::isValidUtf8(output)) return std::string();
    return output;
}

PaneMirror::Picture PaneMirror::parse(std::string_view output) {
    Picture picture;
    const auto lineEnd = output.find('\n');
    std::string_view sizeLine = output.substr(0, lineEnd);
    while (!sizeLine.empty()) {
        const auto blank = sizeLine.find(' ');
        if (auto number = decimal(sizeLine.substr(0, blank))) picture.numbers.push_back(*number);
        sizeLine = blank == std::string_view::npos ? std::string_view() : sizeLine.substr(blank + 1);
    }
    if (!picture.numbers.empty()) picture.columns = picture.numbers[0];
    if (picture.numbers.size() > 1) picture.rows = picture.numbers[1];
    if (lineEnd != std::string_view::npos) picture.text = output.substr(lineEnd + 1);
    return picture;
}

void PaneMirror::start(std::string pane, std::string title) {
    Polling polling{0, std::move(pane), std::move(title), MonoTime()};
    {
        MutexLock lock(handOverLock_);
        polling.generation = ++generation_;
    }
    queue_.post([this, polling = std::move(polling)]() mutable { begin(std::move(polling)); });
}

void PaneMirror::stop() {
    {
        MutexLock lock(handOverLock_);
        ++generation_;
    }
    queue_.post([this] { nextPoll_.cancel(); });
}

void PaneMirror::invalidate() {
    queue_.post([this] {
        lastDigest_.reset();
        marks_.reset();
    });
}

// A start that a later start or stop has overtaken is skipped altogether.
void PaneMirror::begin(Polling polling) {
    {
        MutexLock lock(handOverLock_);
        if (polling.generation != generation_) return;
    }
    nextPoll_.cancel();
    lastDigest_.reset();
    marks_.reset();
    polling.origin = clock_->now();
    pollThenWait(polling);
}

void PaneMirror::pollThenWait(const Polling& polling) {
    poll(polling);
    const MonoTime now = clock_->now();
    const auto periods = (now - polling.origin) / interval + 1;
    const MonoTime due = polling.origin + periods * interval;
    nextPoll_ = queue_.postAfter(due - now, [this, polling] {
        {
            MutexLock lock(handOverLock_);
            if (polling.generation != generation_) return;
        }
        pollThenWait(polling);
    });
}

void PaneMirror::poll(const Polling& polling) {
    const MonoTime started = clock_->now();
    const auto probed = probe(polling.pane);
    if (probed && PaneMirrorMarks::unchangedSince(*marks_, *probed)) {
        sample(clock_->now() - started);
        return;
    }
    Reading reading = read(tmux_, control_.get(), polling.pane, polling.title, *clock_, probed);
    sample(reading.ran);
    marks_ = std::move(reading.marks);
    capturedAt_ = started;
    handOn(reading, polling);
}

// The pane's marks now, asked for only while the marks of a capture through the client, not a
// full capture interval old, can tell them apart; none when they do not read: the poll captures.
std::optional<PaneMirrorMarks> PaneMirror::probe(const std::string& pane) {
    if (!control_ || !marks_ || clock_->now() - capturedAt_ >= fullCaptureInterval) return std::nullopt;
    const auto reply = control_->run(PaneMirrorMarks::arguments(pane));
    if (reply.state != TmuxControl::Reply::State::answered || !reply.ok || reply.lines != 1) return std::nullopt;
    return PaneMirrorMarks::parse(reply.output);
}

void PaneMirror::sample(Duration ran) {
    if (!instrumentation_.isEnabled()) return;
    instrumentation_.add(sampleSeries, static_cast<std::uint64_t>(ran.count()));
    instrumentation_.flushIfWindowElapsed();
}

// A failed run gives a state "tmux: " and the runner's text, whose digest is of that text alone;
// a picture's digest also covers the numbers of its size line.
PaneMirror::Reading PaneMirror::read(const Tmux& tmux, TmuxControl* control, const std::string& pane,
                                     const std::string& title, const Clock& clock,
                                     const std::optional<PaneMirrorMarks>& probed) {
    const MonoTime started = clock.now();
    // The text is tmux's own, blank last rows and final line feeds included.
    std::optional<Subprocess::Result> outcome;
    Reading reading;
    if (auto answer = control ? throughControl(*control, pane, probed) : std::nullopt) {
        outcome = Subprocess::Result{true, std::move(answer->printed)};
        reading.marks = std::move(answer->marks);
    }
    if (!outcome) outcome = tmux.runUntrimmed(arguments(pane));
    const MonoTime ended = clock.now();
    reading.ran = ended - started;
    if (!outcome || !outcome->ok) {
        // A complaint is a sentence: its line feed is not part of it.
        const std::string reason = "tmux: " + (outcome ? std::string(unicode::trimWhiteSpace(outcome->output))
                                                       : std::string("tmux not found"));
        reading.frame = ViewFrame::make(ViewFrame::Kind::state, title, UptimeClock::nanos(ended));
        reading.frame.reason = reason;
        reading.digest = PictureHash::shared()(reason, nullptr);
        return reading;
    }
    const Picture picture = parse(outcome->output);
    reading.frame = ViewFrame::make(ViewFrame::Kind::text, title, UptimeClock::nanos(ended));
    reading.frame.columns = picture.columns;
    reading.frame.rows = picture.rows;
    reading.payload = bytesOf(picture.text);
    reading.digest = PictureHash::shared()(picture.text, &picture.numbers);
    return reading;
}

// Marks already read before the pair are not asked for again: they are no newer than the
// capture. A client whose answers came whole but do not add up is out of step with tmux: what it
// still has to say would be taken for the answers of later commands, so it is let go. Marks that
// do not read are none: the next poll captures.
std::optional<PaneMirror::Answer> PaneMirror::throughControl(TmuxControl& control, const std::string& pane,
                                                             const std::optional<PaneMirrorMarks>& probed) {
    auto list = commands(pane);
    if (!probed) list.insert(list.begin(), PaneMirrorMarks::arguments(pane));
    auto replies = control.runList(list);
    const auto whole = [](const TmuxControl::Reply& reply) {
        return reply.state == TmuxControl::Reply::State::answered && reply.ok;
    };
    if (replies.size() != list.size() || !std::ranges::all_of(replies, whole)) return std::nullopt;
    const auto pair = replies.end() - 2;
    auto output = printed({std::make_move_iterator(pair), std::make_move_iterator(replies.end())});
    if (!output) {
        control.discard();
        return std::nullopt;
    }
    if (probed) return Answer{std::move(*output), probed};
    const auto& marks = replies.front();
    return Answer{std::move(*output), marks.lines == 1 ? PaneMirrorMarks::parse(marks.output) : std::nullopt};
}

// Under the hand-over lock, so that a start or stop waits for a frame being handed on, and no
// frame of an overtaken poll follows it.
void PaneMirror::handOn(const Reading& reading, const Polling& polling) {
    MutexLock lock(handOverLock_);
    if (polling.generation != generation_) return;
    if (lastDigest_ == reading.digest) return;
    lastDigest_ = reading.digest;
    onFrame_(reading.frame, reading.payload);
}

}  // namespace quib
